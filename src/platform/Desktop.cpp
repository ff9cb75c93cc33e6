#include "platform/Desktop.h"

#include "platform/FileNames.h"

#include <QDesktopServices>

namespace {
Desktop::Opener& Hook() {
    static Desktop::Opener h;
    return h;
}
} // namespace

namespace Desktop {

Opener SetOpener(Opener opener) {
    Opener old = std::move(Hook());
    Hook() = std::move(opener);
    return old;
}

bool OpenUrl(const QUrl& url) {
    if (Hook())
        return Hook()(url);
    return QDesktopServices::openUrl(url);
}

bool OpenFile(const QString& path) {
    return OpenUrl(QUrl::fromEncoded(FileNames::ToFileUrl(path)));
}

} // namespace Desktop
