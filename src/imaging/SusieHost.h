// The import plug-ins: the process-wide plug-in folder, and the host's three operations the rest
// of the program uses (how many formats, whether an extension is one of them, decoding a file).
#pragma once

#include <QImage>
#include <QString>

namespace SusieHost {

// Stores the folder and loads every plug-in found in it. Returns the number loaded.
int LoadPlugins(const QString& folder);
// The folder given to the last LoadPlugins ("" before any).
QString PluginFolder();

// The number of formats the loaded plug-ins offer (0 when none is loaded).
int FormatCount();
// True when a loaded plug-in lists the extension (with its dot, e.g. ".pic").
bool IsSupported(const QString& extension);
// Decodes the file through the first plug-in that takes it. Returns 0 on success, as the plug-ins
// do, and non-zero on failure.
int Decode(const QString& path, QImage& picture);

} // namespace SusieHost
