// The import plug-ins as the rest of the program sees them: the one plug-in manager of the
// process, the plug-in folder, and the host's operations (how many formats, whether an extension
// is one of them, decoding a file). May be called from any thread; a decode never from the
// user-interface thread, since it waits for a helper process.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

class CSPIControl;
struct SpiPicture;
struct SpiPictureInfo;

namespace SusieHost {

// The process's plug-in manager (made on first use). Its helpers are quilla-spihost beside the
// executable, and its check cache lives in the program's cache folder.
CSPIControl& Control();

// Makes the folder the process-wide plug-in folder and loads its plug-ins, waiting for every
// check (the command-line converter, and tests). Returns the number added.
int LoadFolder(const QString& folder);
// The same without waiting for the plug-ins the cache does not know: they come on line when
// they have answered (start-up and the settings dialog). Returns the number added at once.
int LoadFolderInBackground(const QString& folder);
// Called on another thread when plug-ins checked in the background came on line (the listing
// then shows their files).
void SetOnlineHandler(std::function<void()> handler);
// The folder given to the last LoadFolder ("" before any).
QString PluginFolder();

// The number of formats the plug-ins in use report (0 when none is loaded).
int GetFormatCount();
// True when a plug-in in use lists the extension (with its dot, e.g. ".webp").
bool IsSupportedExtension(const QString& extension);
// Decodes the file through the first plug-in that takes it: 0 with the picture; else an error
// number, and the reason a plug-in failed is the calling thread's LastError(). reserved takes the
// helper kept for the preview and the information; cancel gives up when it becomes true.
int DecodeFile(const QString& path, SpiPicture* picture, SpiPictureInfo* info = nullptr,
               bool reserved = false, const std::atomic<bool>* cancel = nullptr);
// Decodes the file for a thumbnail fitted into box: a plug-in that exports GetPictureScaled gives
// a picture at least that large (picture->whole then has the whole picture's size), the others
// the whole picture. Results as DecodeFile's.
int DecodeScaled(const QString& path, QSize box, SpiPicture* picture,
                 const std::atomic<bool>* cancel = nullptr);
// The picture information of the file from the first plug-in that takes it, without decoding.
// Results as DecodeFile's.
int FileInformation(const QString& path, SpiPictureInfo* info, bool reserved = false);
// Why the calling thread's last decode failed because of a plug-in ("" when none did).
QString LastError();
// Forgets the calling thread's reason (before a load that may not reach the plug-ins at all).
void ClearLastError();
// The plug-ins loaded, each as "name" or "name（reason it is not in use）", then those refused.
QStringList Describe();
// Stops every plug-in call at once and decodes nothing more (the main window closed), until
// Resume (a main window made again).
void Shutdown();
void Resume();

} // namespace SusieHost
