#include "platform/Trash.h"

#include "platform/FileNames.h"
#include "platform/Files.h"

#include <QDateTime>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Trash {

namespace {

constexpr mode_t kPrivateDir = 0700;

QString Errno() {
    return Files::ErrorText(errno);
}

void SetReason(QString* reason, const QString& text) {
    if (reason)
        *reason = text;
}

QByteArray Parent(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

QByteArray Join(const QByteArray& dir, const QByteArray& name) {
    return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

// The nearest existing folder at or above the path, for the file system a folder yet to be made
// will live on.
bool StatNearest(QByteArray path, struct stat& st) {
    for (;;) {
        if (::stat(path.constData(), &st) == 0)
            return true;
        if (path == "/")
            return false;
        path = Parent(path);
    }
}

// Makes the folder and every missing folder above it, each with mode 0700.
bool MakeDirs(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) == 0)
        return S_ISDIR(st.st_mode);
    if (path != "/" && !MakeDirs(Parent(path)))
        return false;
    return ::mkdir(path.constData(), kPrivateDir) == 0 || errno == EEXIST;
}

// The top folder of the file system holding the entry: walk up while the device stays the same.
QByteArray TopDir(const QByteArray& path, dev_t dev) {
    QByteArray cur = path;
    while (cur != "/") {
        const QByteArray parent = Parent(cur);
        struct stat st {};
        if (::stat(parent.constData(), &st) != 0 || st.st_dev != dev)
            return cur;
        cur = parent;
    }
    return cur;
}

// A real folder (not a link) owned by this user.
bool IsOwnFolder(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// Makes files/ and info/ inside a trash folder that is usable.
bool PrepareTrash(const QByteArray& trash) {
    if (!IsOwnFolder(trash))
        return false;
    for (const char* sub : {"files", "info"}) {
        const QByteArray dir = Join(trash, sub);
        if (::mkdir(dir.constData(), kPrivateDir) != 0 && errno != EEXIST)
            return false;
        if (!IsOwnFolder(dir))
            return false;
    }
    return true;
}

QByteArray Escape(const QByteArray& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (const char ch : bytes) {
        const uchar c = uchar(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::strchr("-._~/!$&'()*+,;=:@", c)) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Moves the entry into the trash folder under a name not used there yet, after writing its
// information file. On failure nothing of it is left in the trash.
bool MoveInto(const QByteArray& trash, const QByteArray& entry, const QByteArray& infoPath,
              QString* reason) {
    const QByteArray name = entry.mid(entry.lastIndexOf('/') + 1);
    const QByteArray info =
        "[Trash Info]\nPath=" + Escape(infoPath) + "\nDeletionDate=" +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() +
        "\n";
    for (int n = 1; n < 10000; ++n) {
        const QByteArray unique = n == 1 ? name : name + '.' + QByteArray::number(n);
        const QByteArray target = Join(Join(trash, "files"), unique);
        const QByteArray infoFile = Join(Join(trash, "info"), unique + ".trashinfo");
        struct stat st {};
        if (::lstat(target.constData(), &st) == 0)
            continue;
        const int fd = ::open(infoFile.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            SetReason(reason, QStringLiteral("ごみ箱に情報を書き込めません（%1）").arg(Errno()));
            return false;
        }
        const bool written = ::write(fd, info.constData(), size_t(info.size())) == info.size();
        ::close(fd);
        if (written && ::rename(entry.constData(), target.constData()) == 0)
            return true;
        const QString why = Errno();
        ::unlink(infoFile.constData());
        SetReason(reason, QStringLiteral("ごみ箱に移せません（%1）").arg(why));
        return false;
    }
    SetReason(reason, QStringLiteral("ごみ箱に空いた名前がありません"));
    return false;
}

QByteArray HomeTrashNative() {
    QByteArray data = qgetenv("XDG_DATA_HOME");
    if (!data.startsWith('/'))
        data = qgetenv("HOME") + "/.local/share";
    return Join(data, "Trash");
}

} // namespace

QString HomeTrash() {
    return FileNames::FromNative(HomeTrashNative());
}

bool MoveToTrash(const QString& path, QString* reason) {
    QByteArray entry = FileNames::ToNative(path);
    while (entry.size() > 1 && entry.endsWith('/'))
        entry.chop(1);
    if (!entry.startsWith('/')) {
        char cwd[4096];
        if (!::getcwd(cwd, sizeof cwd)) {
            SetReason(reason, Errno());
            return false;
        }
        entry = Join(QByteArray(cwd), entry);
    }
    struct stat st {};
    if (::lstat(entry.constData(), &st) != 0) {
        SetReason(reason, Errno());
        return false;
    }
    if (entry == "/") {
        SetReason(reason, QStringLiteral("ルートはごみ箱に移せません"));
        return false;
    }

    // The home trash takes what lies on its own file system.
    const QByteArray home = HomeTrashNative();
    struct stat homeSt {};
    if (StatNearest(home, homeSt) && homeSt.st_dev == st.st_dev) {
        if (!MakeDirs(home) || !PrepareTrash(home)) {
            SetReason(
                reason,
                QStringLiteral("ごみ箱を用意できません（%1）").arg(FileNames::FromNative(home)));
            return false;
        }
        return MoveInto(home, entry, entry, reason);
    }

    // Elsewhere the volume's own trash: the administrator's .Trash (a sticky folder, not a link)
    // with a folder per user, else .Trash-<uid>.
    const QByteArray top = TopDir(entry, st.st_dev);
    const QByteArray uid = QByteArray::number(uint(::getuid()));
    const QByteArray relative = top == "/" ? entry.mid(1) : entry.mid(top.size() + 1);
    const QByteArray shared = Join(top, ".Trash");
    struct stat sharedSt {};
    if (::lstat(shared.constData(), &sharedSt) == 0 && S_ISDIR(sharedSt.st_mode) &&
        (sharedSt.st_mode & S_ISVTX)) {
        const QByteArray mine = Join(shared, uid);
        ::mkdir(mine.constData(), kPrivateDir);
        if (PrepareTrash(mine))
            return MoveInto(mine, entry, relative, reason);
    }
    const QByteArray own = Join(top, ".Trash-" + uid);
    ::mkdir(own.constData(), kPrivateDir);
    if (PrepareTrash(own))
        return MoveInto(own, entry, relative, reason);
    SetReason(reason, QStringLiteral("このボリュームにはごみ箱を作れません（%1）")
                          .arg(FileNames::FromNative(top)));
    return false;
}

} // namespace Trash
