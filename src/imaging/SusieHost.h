// The process-wide folder of import plug-ins and the loading of the plug-ins found there.
#pragma once

#include <QString>

namespace SusieHost {

// Stores the folder and loads every plug-in found in it. Returns the number loaded.
int LoadPlugins(const QString& folder);
// The folder given to the last LoadPlugins ("" before any).
QString PluginFolder();

} // namespace SusieHost
