#include "imaging/SusieHost.h"

namespace {
QString& Folder() {
    static QString folder;
    return folder;
}
} // namespace

namespace SusieHost {

int LoadPlugins(const QString& folder) {
    Folder() = folder;
    // No plug-in format is supported by this build yet, so nothing is loaded.
    return 0;
}

QString PluginFolder() {
    return Folder();
}

} // namespace SusieHost
