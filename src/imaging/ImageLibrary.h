// Loading of the imaging library's modules and the tables of their entry points.
#pragma once

#include "ik6.h"

#include <QString>

// Loads the modules from the executable's folder and fills the entry-point tables. Nothing is
// reported: a missing module or name leaves empty slots, and every operation that needs an empty
// slot then fails instead of calling it.
void LoadImageLibrary();
// The same from another folder (tests use it to load from a folder without modules).
void LoadImageLibraryFrom(const QString& folder);

// Makes the three progress texts "処理中", "処理中です...", "中止" when show is set, else empty.
// The texts belong to the calling thread.
void SetProgressTexts(bool show);

namespace ImageLib {

// The progress texts as the library takes them.
const char* Caption();
const char* Message();
const char* Button();

// The entry point of that name, or null when its slot is empty.
void* Slot(const char* name);

// Typed entry points of the library (null when missing).
using FreeMemoryFn = int (*)(IKHANDLE);
using GetImageTypeFn = int (*)(IKHANDLE, void*);
using DibFromBitmapFn = IKHANDLE (*)(const void*, int);
using SetToClipBrdFn = int (*)(void*, IKHANDLE, int, const char*, const char*, const char*);
using FileTypeFn = int (*)(const char*, int, void*);
using FileLoadFn = IKHANDLE (*)(const char*, int, int, int, int, const char*, const char*,
                                const char*);
using FileLoadScaledFn = IKHANDLE (*)(const char*, int, int, int32_t*, int32_t*);
using JpegExifInfoFn = int (*)(const char*, void*);
using BmpFileSaveFn = int (*)(const char*, IKHANDLE, int, int, const char*, const char*,
                              const char*);
using JpegFileSaveFn = int (*)(const char*, IKHANDLE, int, int, int, const char*, int, const char*,
                               const char*, const char*);
using TiffFileSaveFn = int (*)(const char*, IKHANDLE, int, int, int, const char*, int, int,
                               const char*, const char*, const char*);
using GifFileSaveFn = int (*)(const char*, IKHANDLE, int, int, int, int, int, int, int, const char*,
                              int, const char*, const char*, const char*);
using PcxFileSaveFn = int (*)(const char*, IKHANDLE, int, const char*, const char*, const char*);
using PngFileSaveFn = int (*)(const char*, IKHANDLE, int, int, int, int, int, int, int, const char*,
                              const char*, const char*);
using ImageOutFn = int (*)(void*, IKHANDLE, const IKRECT*, int, int, int);
using ResizeFn = IKIMAGEREF (*)(IKIMAGEREF, int, int, int, int, const char*, const char*,
                                const char*);
using ConvertColorFn = IKHANDLE (*)(IKHANDLE, int, int, int, int, int, const char*, const char*,
                                    const char*);
using SharpFn = IKHANDLE (*)(IKIMAGEREF, int, const IKPOINT*, int, int, int, int, int, const char*,
                             const char*, const char*);

template <class Fn> Fn Get(const char* name) {
    return reinterpret_cast<Fn>(Slot(name));
}

} // namespace ImageLib
