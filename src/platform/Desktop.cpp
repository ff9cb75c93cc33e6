#include "platform/Desktop.h"

#include "platform/FileNames.h"
#include "platform/MsgBox.h"

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

bool OpenUrl(QWidget* owner, const QUrl& url) {
    if (Hook() ? Hook()(url) : QDesktopServices::openUrl(url))
        return true;
    const QString what =
        url.isLocalFile() ? FileNames::Display(url.toLocalFile()) : url.toDisplayString();
    QuillaMessageBox(
        owner, what + QStringLiteral(" を開けませんでした。開くアプリケーションが見つかりません。"),
        MB_OK | MB_ICONEXCLAMATION);
    return false;
}

bool OpenFile(QWidget* owner, const QString& path) {
    return OpenUrl(owner, QUrl::fromEncoded(FileNames::ToFileUrl(path)));
}

} // namespace Desktop
