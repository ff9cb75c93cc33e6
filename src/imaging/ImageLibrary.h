// Loading of the imaging library's modules and the tables of their entry points.
#pragma once

#include "ik6.h"

#include <QString>
#include <QStringList>

// Loads the modules from the executable's folder, fills the entry-point tables and resolves the
// entry points the program calls. Returns the names of those that were not found (empty when the
// library is complete); the program carries on either way, and every operation whose entry point
// is missing fails instead of calling it. Call it before any other thread uses the library.
QStringList LoadImageLibrary();
// The same from another folder (tests use it to load from a folder without modules).
QStringList LoadImageLibraryFrom(const QString& folder);

// Makes the three progress texts "処理中", "処理中です...", "中止" when show is set, else empty.
// The texts belong to the calling thread: a worker's stay empty unless it sets them, and the
// library shows a progress window on the GUI thread only.
void SetProgressTexts(bool show);

// Every entry point the program calls. Each is named once: the field, the name it is looked up by
// and its type all come from the declaration in ik6.h, so a name that the header does not declare
// does not compile, and one that the modules do not export is reported by the loader.
#define QUILLA_IK_ENTRY_POINTS(X)                                                                  \
    X(IKFreeMemory)                                                                                \
    X(IKGetImageType)                                                                              \
    X(IKGetErrorStatus)                                                                            \
    X(IKDibFromBitmap)                                                                             \
    X(IKSetToClipBrd)                                                                              \
    X(IKFileType)                                                                                  \
    X(IKFileLoad)                                                                                  \
    X(IKFileLoadScaled)                                                                            \
    X(IKFileLoadScaledAs)                                                                          \
    X(IKJpegExifInfo)                                                                              \
    X(IKBmpFileSave)                                                                               \
    X(IKJpegFileSave)                                                                              \
    X(IKTiffFileSave)                                                                              \
    X(IKGifFileSave)                                                                               \
    X(IKPcxFileSave)                                                                               \
    X(IKPngFileSave)                                                                               \
    X(IKImageOut)                                                                                  \
    X(IKResize)                                                                                    \
    X(IKConvertColor)                                                                              \
    X(IKSharp)                                                                                     \
    X(IKOrient)                                                                                    \
    X(IKPngFileSaveText)                                                                           \
    X(IKPngTextRead)                                                                               \
    X(IKGetColorProfile)                                                                           \
    X(IKColorTransform)

namespace ImageLib {

// The entry points as typed function pointers, resolved once at load; null when missing.
struct EntryPoints {
#define QUILLA_IK_FIELD(name) decltype(&::name) name = nullptr;
    QUILLA_IK_ENTRY_POINTS(QUILLA_IK_FIELD)
#undef QUILLA_IK_FIELD
};
const EntryPoints& Entries();

// The calling thread's progress texts as the library takes them.
const char* Caption();
const char* Message();
const char* Button();

// The slot of any name of the modules' tables (filled or empty), or null for a name no table has.
void* Slot(const char* name);

// The reason the calling thread's last library call failed ("" after a success), and its status
// code through *code when given.
QString LastError(int* code = nullptr);

} // namespace ImageLib
