#include "platform/Shell.h"

#include "platform/FileNames.h"
#include "platform/MsgBox.h"
#include "platform/Trash.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace {
Shell::PropertiesHook& Hook() {
    static Shell::PropertiesHook h;
    return h;
}
} // namespace

namespace Shell {

PropertiesHook SetPropertiesHook(PropertiesHook hook) {
    PropertiesHook old = std::move(Hook());
    Hook() = std::move(hook);
    return old;
}

int DeleteToTrash(const QStringList& paths, QWidget* owner) {
    if (paths.isEmpty())
        return 1;
    const QString what =
        paths.size() == 1
            ? QStringLiteral("'%1' をごみ箱に移しますか？")
                  .arg(FileNames::Display(QFileInfo(paths[0]).fileName()))
            : QStringLiteral("これらの %1 個の項目をごみ箱に移しますか？").arg(paths.size());
    if (QuillaMessageBox(owner, what, MB_YESNO | MB_ICONQUESTION, QStringLiteral("削除の確認")) !=
        IDYES)
        return 1;
    for (const QString& p : paths) {
        QString reason;
        if (!Trash::MoveToTrash(p, &reason)) {
            QuillaMessageBox(owner,
                             QStringLiteral("'%1' をごみ箱に移せませんでした。\n%2")
                                 .arg(FileNames::Display(p), reason),
                             MB_OK | MB_ICONSTOP, QStringLiteral("削除エラー"));
            return 2;
        }
    }
    return 0;
}

bool MakeFolder(const QString& path, QString* reason) {
    if (::mkdir(FileNames::ToNative(path).constData(), 0777) == 0)
        return true;
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool Rename(const QString& from, const QString& to, QString* reason) {
    if (::renameat2(AT_FDCWD, FileNames::ToNative(from).constData(), AT_FDCWD,
                    FileNames::ToNative(to).constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

void ShowProperties(const QString& path, QWidget* owner) {
    if (Hook()) {
        Hook()(path);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return;
    // No file manager answered: show the essentials ourselves.
    const QFileInfo fi(path);
    auto* dlg = new QDialog(owner);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setWindowTitle(fi.fileName() + QStringLiteral("のプロパティ"));
    auto* form = new QFormLayout(dlg);
    form->addRow(QStringLiteral("名前:"), new QLabel(fi.fileName()));
    form->addRow(QStringLiteral("場所:"), new QLabel(fi.absolutePath()));
    form->addRow(QStringLiteral("サイズ:"),
                 new QLabel(QStringLiteral("%1 バイト").arg(QLocale().toString(fi.size()))));
    form->addRow(QStringLiteral("更新日時:"),
                 new QLabel(QLocale().toString(fi.lastModified(), QLocale::LongFormat)));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dlg, &QDialog::accept);
    form->addRow(buttons);
    dlg->show();
}

} // namespace Shell
