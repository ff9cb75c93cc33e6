// The import plug-ins as the rest of the program sees them: the one plug-in manager of the
// process, the plug-in folder, and the host's three operations (how many formats, whether an
// extension is one of them, decoding a file). May be called from any thread.
#pragma once

#define SPI_HOST
#include "spi.h"

#include <QString>

class CSPIControl;

namespace SusieHost {

// The process's plug-in manager (made on first use, unloading every plug-in at exit). Plug-ins
// are checked with the program's checker, next to the executable, before they are loaded.
CSPIControl& Control();

// Makes the folder the process-wide plug-in folder and loads its plug-ins (start-up, and the
// settings dialog when plug-ins are switched on). Returns the number added.
int LoadFolder(const QString& folder);
// The folder given to the last LoadFolder ("" before any).
QString PluginFolder();

// The number of formats the loaded plug-ins report (0 when none is loaded).
int GetFormatCount();
// True when a loaded plug-in lists the extension (with its dot, e.g. ".webp").
bool IsSupportedExtension(const QString& extension);
// Decodes the file through the first plug-in that takes it: 0 with the picture's blocks, which
// the caller frees with LocalFree (and info->hInfo when it is not null); else an error number.
int DecodeFile(const QString& path, HLOCAL* header, HLOCAL* bits, SPI_PICTUREINFO* info);

} // namespace SusieHost
