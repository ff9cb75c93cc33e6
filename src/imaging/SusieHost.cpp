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
    // This build has no plug-in loader yet, so no plug-in is loaded from any folder.
    return 0;
}

QString PluginFolder() {
    return Folder();
}

int FormatCount() {
    return 0;
}

bool IsSupported(const QString&) {
    return false;
}

int Decode(const QString&, QImage&) {
    return -1;
}

} // namespace SusieHost
