#include "platform/Shell.h"

#include "platform/FileNames.h"
#include "platform/FileOpProgressDlg.h"
#include "platform/Files.h"
#include "platform/MsgBox.h"
#include "platform/Trash.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMimeDatabase>
#include <QPushButton>
#include <QTimer>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

Shell::PropertiesHook& Hook() {
    static Shell::PropertiesHook h;
    return h;
}

Shell::PropertiesWindowHook& WindowHook() {
    static Shell::PropertiesWindowHook h;
    return h;
}

Shell::ChangeHook& Changes() {
    static Shell::ChangeHook h;
    return h;
}

// At most this many failures are listed by name in the error box.
constexpr int kMaxListedFailures = 12;
constexpr int kPollMs = 10;
constexpr int kWindowUpdateMs = 50;
constexpr int kDbusTimeoutMs = 3000;
// The part of a file read to tell its type.
constexpr qint64 kSniffBytes = 4096;

void Notify(const QString& from, const QString& to) {
    if (Changes())
        Changes()(from, to);
}

void NotifyTree(const QByteArray& from, const QByteArray& to, bool isFolder) {
    if (!Changes())
        return;
    if (!isFolder) {
        Notify(FileNames::FromNative(from), to.isEmpty() ? QString() : FileNames::FromNative(to));
        return;
    }
    // The files of a folder are found where they are now: under the new name, or (for a removal
    // reported before it happens) under the old one.
    Files::ForEachBelow(to.isEmpty() ? from : to, [&](const QByteArray& rel) {
        Notify(FileNames::FromNative(from + '/' + rel),
               to.isEmpty() ? QString() : FileNames::FromNative(to + '/' + rel));
    });
}

void DeliverChanges(CFileTransfer& t) {
    for (const CFileTransfer::Change& c : t.TakeChanges())
        Notify(c.from, c.to);
}

// Runs the transfer on its worker while this thread keeps the program painted; after a moment
// the progress window comes up and the user can stop the work.
void RunWithProgress(CFileTransfer& t, QWidget* owner) {
    t.Start();
    QElapsedTimer clock;
    clock.start();
    while (!t.Wait(kPollMs)) {
        DeliverChanges(t);
        // Input waits until the operation is over, as it would behind a modal window.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        if (clock.elapsed() >= CFileOpProgressDlg::s_nDelayMs)
            break;
    }
    if (!t.Finished()) {
        CFileOpProgressDlg dlg(t, owner);
        dlg.setWindowModality(Qt::ApplicationModal);
        QEventLoop loop;
        QTimer timer;
        timer.setInterval(kWindowUpdateMs);
        QObject::connect(&timer, &QTimer::timeout, &dlg, [&] {
            DeliverChanges(t);
            dlg.UpdateFromTransfer();
            if (t.Finished())
                loop.quit();
        });
        dlg.UpdateFromTransfer();
        dlg.show();
        timer.start();
        if (CFileOpProgressDlg::s_onShow)
            CFileOpProgressDlg::s_onShow(dlg);
        if (!t.Finished())
            loop.exec();
        timer.stop();
        dlg.hide();
    }
    while (!t.Wait(kWindowUpdateMs)) {
    }
    DeliverChanges(t);
}

// One message box for every failure of an operation.
void ReportFailures(QWidget* owner, const QString& verb, const QStringList& lines) {
    if (lines.isEmpty())
        return;
    QStringList shown = lines.mid(0, kMaxListedFailures);
    if (lines.size() > kMaxListedFailures)
        shown << QStringLiteral("ほか %1 件").arg(lines.size() - kMaxListedFailures);
    QuillaMessageBox(
        owner, QStringLiteral("次の項目を%1できませんでした。\n\n%2").arg(verb, shown.join('\n')),
        MB_OK | MB_ICONSTOP, QStringLiteral("%1エラー").arg(verb));
}

QString Shown(const QString& path) {
    return FileNames::Display(path);
}

QString BaseNameOf(const QString& path) {
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

namespace Shell {

PropertiesHook SetPropertiesHook(PropertiesHook hook) {
    PropertiesHook old = std::move(Hook());
    Hook() = std::move(hook);
    return old;
}

PropertiesWindowHook SetPropertiesWindowHook(PropertiesWindowHook hook) {
    PropertiesWindowHook old = std::move(WindowHook());
    WindowHook() = std::move(hook);
    return old;
}

ChangeHook SetChangeHook(ChangeHook hook) {
    ChangeHook old = std::move(Changes());
    Changes() = std::move(hook);
    return old;
}

int DeleteToTrash(const QStringList& paths, QWidget* owner) {
    if (paths.isEmpty())
        return 1;
    const QString what =
        paths.size() == 1
            ? QStringLiteral("'%1' をごみ箱に移しますか？").arg(Shown(BaseNameOf(paths[0])))
            : QStringLiteral("これらの %1 個の項目をごみ箱に移しますか？").arg(paths.size());
    if (QuillaMessageBox(owner, what, MB_YESNO | MB_ICONQUESTION, QStringLiteral("削除の確認")) !=
        IDYES)
        return 1;
    QStringList failures;
    for (const QString& p : paths) {
        const QByteArray native = FileNames::ToNative(p);
        struct stat st {};
        const bool isFolder = ::lstat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode);
        // The files of a folder are listed before they go, since the Trash renames them.
        std::vector<QByteArray> inside;
        if (isFolder && Changes())
            Files::ForEachBelow(native, [&](const QByteArray& rel) { inside.push_back(rel); });
        QString reason;
        if (!Trash::MoveToTrash(p, &reason)) {
            failures << QStringLiteral("%1: %2").arg(Shown(p), reason);
            continue;
        }
        if (!isFolder)
            Notify(p, QString());
        for (const QByteArray& rel : inside)
            Notify(FileNames::FromNative(native + '/' + rel), QString());
    }
    if (failures.isEmpty())
        return 0;
    ReportFailures(owner, QStringLiteral("削除"), failures);
    return 2;
}

int SHFileOperation(FileOp& op) {
    op.results.clear();
    if (op.func == FO_DELETE) {
        QStringList lines;
        for (const QString& r : op.rejected)
            lines << QStringLiteral("%1: ローカルのファイルではありません").arg(r);
        ReportFailures(op.owner, QStringLiteral("削除"), lines);
        if (op.from.isEmpty())
            return lines.isEmpty() ? kFileOpOk : kFileOpFailed;
        const int r = DeleteToTrash(op.from, op.owner);
        return r == 0 ? (lines.isEmpty() ? kFileOpOk : kFileOpFailed)
                      : (r == 1 ? kFileOpCancelled : kFileOpFailed);
    }
    const bool move = op.func == FO_MOVE;
    const QString verb = move ? QStringLiteral("移動") : QStringLiteral("コピー");
    QStringList failures;
    for (const QString& r : op.rejected)
        failures << QStringLiteral("%1: ローカルのファイルではありません").arg(r);
    if (op.from.isEmpty()) {
        ReportFailures(op.owner, verb, failures);
        return failures.isEmpty() ? kFileOpOk : kFileOpFailed;
    }

    // The destination is checked once, before anything is touched.
    const QByteArray dest = FileNames::ToNative(op.to);
    struct stat destSt {};
    QString destProblem;
    if (op.to.isEmpty() || ::stat(dest.constData(), &destSt) != 0)
        destProblem = Files::ErrorText(op.to.isEmpty() ? ENOENT : errno);
    else if (!S_ISDIR(destSt.st_mode))
        destProblem = Files::ErrorText(ENOTDIR);
    else if (::access(dest.constData(), W_OK | X_OK) != 0)
        destProblem = Files::ErrorText(errno);
    if (!destProblem.isEmpty()) {
        QuillaMessageBox(op.owner,
                         QStringLiteral("%1先のフォルダ '%2' を使えません。\n%3")
                             .arg(verb, Shown(op.to), destProblem),
                         MB_OK | MB_ICONSTOP, QStringLiteral("%1エラー").arg(verb));
        return kFileOpFailed;
    }

    // Without renaming, a file of a taken name is replaced only when the user says so.
    std::vector<CFileTransfer::Item> items;
    bool declined = false;
    for (const QString& src : op.from) {
        CFileTransfer::Item item{src, CFileTransfer::Collision::Rename};
        if (!(op.flags & FOF_RENAMEONCOLLISION)) {
            item.collision = CFileTransfer::Collision::Replace;
            const QByteArray target = dest + '/' + FileNames::ToNative(BaseNameOf(src));
            struct stat s {
            }, t{};
            const bool taken = ::lstat(target.constData(), &t) == 0;
            const bool same = ::stat(FileNames::ToNative(src).constData(), &s) == 0 && taken &&
                              s.st_dev == t.st_dev && s.st_ino == t.st_ino;
            if (same) {
                item.collision = CFileTransfer::Collision::Rename; // a copy beside itself
            } else if (taken && !S_ISDIR(t.st_mode)) {
                const int answer = QuillaMessageBox(
                    op.owner,
                    QStringLiteral("'%1' という名前のファイルは既に '%2' にあります。\n"
                                   "置き換えますか？")
                        .arg(Shown(BaseNameOf(src)), Shown(op.to)),
                    MB_YESNO | MB_ICONQUESTION, QStringLiteral("ファイルの置き換えの確認"));
                if (answer != IDYES) {
                    declined = true;
                    continue;
                }
            }
        }
        items.push_back(item);
    }

    bool stopped = false;
    if (!items.empty()) {
        CFileTransfer transfer(move ? CFileTransfer::Mode::Move : CFileTransfer::Mode::Copy,
                               std::move(items), op.to);
        RunWithProgress(transfer, op.owner);
        op.results = transfer.Results();
        stopped = transfer.StopRequested();
    }
    for (const CFileTransfer::Result& r : op.results)
        if (r.outcome == CFileTransfer::Outcome::Failed ||
            (r.outcome == CFileTransfer::Outcome::NotStarted && !r.reason.isEmpty()))
            failures << QStringLiteral("%1: %2").arg(Shown(r.source), r.reason);
    ReportFailures(op.owner, verb, failures);
    if (!failures.isEmpty())
        return kFileOpFailed;
    return stopped || declined ? kFileOpCancelled : kFileOpOk;
}

bool MakeFolder(const QString& path, QString* reason) {
    if (::mkdir(FileNames::ToNative(path).constData(), 0777) == 0)
        return true;
    if (reason)
        *reason = Files::ErrorText(errno);
    return false;
}

bool Rename(const QString& from, const QString& to, QString* reason) {
    const QByteArray src = FileNames::ToNative(from);
    const QByteArray dst = FileNames::ToNative(to);
    int err = Files::RenameNoReplace(src, dst);
    struct stat s {
    }, t{};
    if (err == EEXIST && ::lstat(src.constData(), &s) == 0 && ::lstat(dst.constData(), &t) == 0 &&
        s.st_dev == t.st_dev && s.st_ino == t.st_ino) {
        // The new name differs in letter case only, on a file system that ignores case: the
        // "existing" entry is the file itself.
        err = ::rename(src.constData(), dst.constData()) == 0 ? 0 : errno;
    }
    if (err != 0) {
        if (reason)
            *reason = Files::ErrorText(err);
        return false;
    }
    const bool isFolder = ::lstat(dst.constData(), &t) == 0 && S_ISDIR(t.st_mode);
    NotifyTree(src, dst, isFolder);
    return true;
}

void ShowProperties(const QString& path, QWidget* owner) {
    if (Hook()) {
        Hook()(path);
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
        call << QStringList{QString::fromLatin1(FileNames::ToFileUrl(path))} << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, kDbusTimeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage)
            return;
    }
    // No file manager answered: show the essentials ourselves.
    QDialog* dlg = MakePropertiesWindow(path, owner);
    dlg->show();
    if (WindowHook())
        WindowHook()(*dlg);
}

QDialog* MakePropertiesWindow(const QString& path, QWidget* owner) {
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    const QByteArray native = FileNames::ToNative(clean);
    const QString name = BaseNameOf(clean);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash > 0 ? clean.left(slash) : QStringLiteral("/");

    auto* dlg = new QDialog(owner);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setObjectName(QStringLiteral("properties"));
    dlg->setWindowTitle(QStringLiteral("%1 のプロパティ").arg(Shown(name)));
    auto* form = new QFormLayout(dlg);
    auto addRow = [&](const QString& label, const QString& value, const char* id) {
        auto* l = new QLabel(value);
        // Names are shown as they are, never read as markup.
        l->setTextFormat(Qt::PlainText);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setObjectName(QLatin1String(id));
        form->addRow(label, l);
    };
    const QString when = QStringLiteral("yyyy/MM/dd HH:mm:ss");
    auto time = [&](const struct statx_timestamp& ts) {
        return QDateTime::fromSecsSinceEpoch(ts.tv_sec).toString(when);
    };

    struct statx sx {};
    const bool ok = ::statx(AT_FDCWD, native.constData(), AT_SYMLINK_NOFOLLOW,
                            STATX_BASIC_STATS | STATX_BTIME, &sx) == 0;
    addRow(QStringLiteral("名前:"), Shown(name), "name");
    if (!ok) {
        addRow(QStringLiteral("場所:"), Shown(folder), "folder");
        addRow(QStringLiteral("状態:"), Files::ErrorText(errno), "error");
    } else {
        const mode_t mode = sx.stx_mode;
        QString type;
        if (S_ISDIR(mode)) {
            type = QStringLiteral("フォルダ");
        } else if (S_ISLNK(mode)) {
            type = QStringLiteral("シンボリックリンク");
        } else if (S_ISREG(mode)) {
            QByteArray head;
            const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
            if (fd >= 0) {
                head.resize(kSniffBytes);
                const ssize_t n = ::read(fd, head.data(), size_t(head.size()));
                head.resize(n > 0 ? n : 0);
                ::close(fd);
            }
            const QMimeType mime = QMimeDatabase().mimeTypeForFileNameAndData(name, head);
            type = QStringLiteral("%1 (%2)").arg(mime.comment(), mime.name());
        } else {
            type = QStringLiteral("特殊なファイル");
        }
        addRow(QStringLiteral("種類:"), type, "type");
        addRow(QStringLiteral("場所:"), Shown(folder), "folder");
        if (S_ISLNK(mode)) {
            QByteArray target(PATH_MAX, '\0');
            const ssize_t n = ::readlink(native.constData(), target.data(), size_t(target.size()));
            target.truncate(n > 0 ? n : 0);
            addRow(QStringLiteral("リンク先:"), Shown(FileNames::FromNative(target)), "target");
        }
        if (S_ISDIR(mode)) {
            int count = 0;
            if (DIR* d = ::opendir(native.constData())) {
                while (const dirent* e = ::readdir(d))
                    count += std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0;
                ::closedir(d);
            }
            addRow(QStringLiteral("内容:"), QStringLiteral("%1 個の項目").arg(count), "size");
        } else {
            const QLocale locale(QLocale::Japanese, QLocale::Japan);
            addRow(QStringLiteral("サイズ:"),
                   QStringLiteral("%1 (%2 バイト)")
                       .arg(locale.formattedDataSize(qint64(sx.stx_size)),
                            locale.toString(qulonglong(sx.stx_size))),
                   "size");
        }
        addRow(QStringLiteral("更新日時:"), time(sx.stx_mtime), "modified");
        addRow(QStringLiteral("アクセス日時:"), time(sx.stx_atime), "accessed");
        if (sx.stx_mask & STATX_BTIME)
            addRow(QStringLiteral("作成日時:"), time(sx.stx_btime), "created");
        const passwd* pw = ::getpwuid(sx.stx_uid);
        const group* gr = ::getgrgid(sx.stx_gid);
        addRow(QStringLiteral("所有者:"),
               pw ? QString::fromLocal8Bit(pw->pw_name) : QString::number(sx.stx_uid), "owner");
        addRow(QStringLiteral("グループ:"),
               gr ? QString::fromLocal8Bit(gr->gr_name) : QString::number(sx.stx_gid), "group");
        QString bits;
        for (int shift = 6; shift >= 0; shift -= 3) {
            bits += (mode >> shift) & 4 ? QLatin1Char('r') : QLatin1Char('-');
            bits += (mode >> shift) & 2 ? QLatin1Char('w') : QLatin1Char('-');
            bits += (mode >> shift) & 1 ? QLatin1Char('x') : QLatin1Char('-');
        }
        addRow(QStringLiteral("アクセス権:"),
               QStringLiteral("%1 (%2)").arg(bits).arg(mode & 07777, 4, 8, QLatin1Char('0')),
               "permissions");
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, dlg, &QDialog::reject);
    form->addRow(buttons);
    return dlg;
}

} // namespace Shell
