#include "platform/FileTransfer.h"

#include "platform/FileNames.h"
#include "platform/Files.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

std::function<void(CFileTransfer&)> CFileTransfer::s_onChunk;
std::function<void(CFileTransfer&, const QByteArray&)> CFileTransfer::s_beforeRemove;

namespace {

// Bytes per copy call: the stop button is heard between two calls.
constexpr size_t kChunk = size_t(8) << 20;
// The buffer of the plain read/write copy and of the comparison after a move.
constexpr size_t kBuffer = size_t(1) << 20;
constexpr mode_t kPrivateDir = 0700;
constexpr mode_t kPrivateFile = 0600;
// Permissions and the sticky bit are carried over; set-user and set-group bits are not.
constexpr mode_t kKeptModeBits = 01777;
constexpr int kMaxNames = 10000;
// Temporary entries are named ".quilla-<process ID>-XXXXXX" (files and folders, the last part
// filled in by mkstemp and mkdtemp) and ".quilla-link-<process ID>-<n>" (links).
constexpr char kTempPrefix[] = ".quilla-";
constexpr char kLinkPrefix[] = ".quilla-link-";
constexpr char kRandomPart[] = "XXXXXX";
constexpr qsizetype kRandomLength = sizeof kRandomPart - 1;
constexpr qsizetype kMaxPidDigits = 9;

QByteArray TempPattern() {
    return kTempPrefix + QByteArray::number(qint64(::getpid())) + '-' + kRandomPart;
}

QByteArray LinkTempName(int n) {
    return kLinkPrefix + QByteArray::number(qint64(::getpid())) + '-' + QByteArray::number(n);
}

bool AllDigits(const QByteArray& s) {
    return !s.isEmpty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool AllAlnum(const QByteArray& s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

// The process that made a temporary entry of that name; 0 when the name is not one of ours.
pid_t OwnerOfTemp(const QByteArray& name) {
    const bool link = name.startsWith(kLinkPrefix);
    if (!link && !name.startsWith(kTempPrefix))
        return 0;
    const QByteArray rest = name.mid(qsizetype(link ? sizeof kLinkPrefix : sizeof kTempPrefix) - 1);
    const qsizetype dash = rest.indexOf('-');
    if (dash <= 0 || dash > kMaxPidDigits)
        return 0;
    const QByteArray pid = rest.left(dash), tail = rest.mid(dash + 1);
    if (!AllDigits(pid) ||
        (link ? !AllDigits(tail) : (tail.size() != kRandomLength || !AllAlnum(tail))))
        return 0;
    return pid_t(pid.toInt());
}

// True when no process of that ID runs (one that runs under another user still counts).
bool ProcessGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

QByteArray Join(const QByteArray& dir, const QByteArray& name) {
    return dir.endsWith('/') ? dir + name : dir + '/' + name;
}

QByteArray BaseName(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

QByteArray ParentOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray Trimmed(QByteArray path) {
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when the folder is the entry itself or lies anywhere below it (links resolved).
bool IsInside(const QByteArray& folder, const struct stat& entry) {
    char* real = ::realpath(folder.constData(), nullptr);
    if (!real)
        return false;
    QByteArray cur(real);
    std::free(real);
    for (;;) {
        struct stat st {};
        if (::stat(cur.constData(), &st) == 0 && SameEntry(st, entry))
            return true;
        if (cur == "/")
            return false;
        cur = ParentOf(cur);
    }
}

bool IsFatal(int err) {
    // Errors that every later item would meet as well.
    return err == ENOSPC || err == EDQUOT || err == EROFS;
}

// Removes a temporary tree of ours, also where its folders were already given their final,
// possibly read-only, permissions.
void RemoveTemp(const QByteArray& path) {
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        ::nftw(
            path.constData(),
            [](const char* p, const struct stat* s, int type, FTW*) {
                if (type == FTW_D)
                    ::chmod(p, s->st_mode | S_IRWXU);
                return 0;
            },
            16, FTW_PHYS);
    Files::RemoveTree(path);
}

// Removes what transfers of this user that were killed (or whose machine went down) left in the
// folder: entries of our temporary names whose process is gone.
void RemoveLeftovers(const QByteArray& folder) {
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    std::vector<QByteArray> gone;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        const pid_t owner = OwnerOfTemp(name);
        if (owner > 0 && owner != ::getpid() && ProcessGone(owner))
            gone.push_back(name);
    }
    ::closedir(dir);
    for (const QByteArray& name : gone) {
        const QByteArray path = Join(folder, name);
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && st.st_uid == ::geteuid())
            RemoveTemp(path);
    }
}

void KeepTimes(const QByteArray& path, const struct stat& st) {
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW);
}

} // namespace

// Why a step did not succeed: an error number, or a text of its own, about a path.
struct CFileTransfer::Failure {
    int err = 0;
    bool stopped = false;
    QByteArray path;
    QString text;

    bool Set(int e, const QByteArray& p) {
        err = e;
        path = p;
        return false;
    }
    bool SetText(const QString& t, const QByteArray& p) {
        text = t;
        path = p;
        return false;
    }
};

// The file a copy read, as its descriptor told at the end: before the source is removed, its name
// must still lead to this very file, unchanged.
struct CFileTransfer::Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    mode_t type = 0;

    static Identity Of(const struct stat& st) {
        return Identity{st.st_dev, st.st_ino, st.st_size, st.st_mtim, mode_t(st.st_mode & S_IFMT)};
    }
    bool Matches(const struct stat& st) const {
        return st.st_dev == dev && st.st_ino == ino && st.st_size == size &&
               st.st_mtim.tv_sec == mtime.tv_sec && st.st_mtim.tv_nsec == mtime.tv_nsec &&
               mode_t(st.st_mode & S_IFMT) == type;
    }
};

// What a copy made, relative to the item, so that a move can remove exactly that from the source.
struct CFileTransfer::Copied {
    struct File {
        QByteArray rel; // "" for the item itself
        Identity read;
    };
    std::vector<File> files;         // files and links
    std::vector<QByteArray> folders; // in the order they were made (parents first)
};

QString CollisionName(const QString& name, int n, bool isFolder) {
    if (n <= 0)
        return name;
    const qsizetype dot = isFolder ? -1 : name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString ext = dot > 0 ? name.mid(dot) : QString();
    const QString suffix =
        n == 1 ? QStringLiteral(" - コピー") : QStringLiteral(" - コピー (%1)").arg(n);
    return stem + suffix + ext;
}

CFileTransfer::CFileTransfer(Mode mode, std::vector<Item> items, const QString& destination)
    : m_mode(mode), m_items(std::move(items)), m_dest(Trimmed(FileNames::ToNative(destination))) {
    m_results.resize(m_items.size());
    for (size_t i = 0; i < m_items.size(); ++i)
        m_results[i].source = m_items[i].source;
}

CFileTransfer::~CFileTransfer() {
    Stop();
    if (m_thread.joinable())
        m_thread.join();
}

void CFileTransfer::Start() {
    m_thread = std::thread([this] { Work(); });
}

void CFileTransfer::Run() {
    Work();
}

bool CFileTransfer::Wait(int ms) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_done.wait_for(lock, std::chrono::milliseconds(ms),
                           [this] { return m_finished.load(); });
}

CFileTransfer::Progress CFileTransfer::CurrentProgress() const {
    Progress p;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        p.current = m_current;
    }
    p.bytesDone = m_bytesDone.load();
    p.bytesTotal = m_bytesTotal.load();
    return p;
}

std::vector<CFileTransfer::Change> CFileTransfer::TakeChanges() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Change> out;
    out.swap(m_changes);
    return out;
}

void CFileTransfer::AddChange(const QByteArray& from, const QByteArray& to) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changes.push_back(
        Change{FileNames::FromNative(from), to.isEmpty() ? QString() : FileNames::FromNative(to)});
}

void CFileTransfer::SetCurrent(const QByteArray& path) {
    const QString shown = FileNames::Display(FileNames::FromNative(BaseName(path)));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_current = shown;
}

void CFileTransfer::Work() {
    m_buffer.resize(2 * kBuffer);
    const int statResult = ::stat(m_dest.constData(), &m_destStat);
    if (statResult != 0 || !S_ISDIR(m_destStat.st_mode)) {
        const int err = statResult != 0 ? errno : ENOTDIR;
        for (Result& r : m_results) {
            r.outcome = Outcome::Failed;
            r.reason =
                QStringLiteral("%1先のフォルダを開けません（%2）")
                    .arg(m_mode == Mode::Move ? QStringLiteral("移動") : QStringLiteral("コピー"),
                         Files::ErrorText(err));
        }
    } else {
        RemoveLeftovers(m_dest);
        Measure();
        QString abortReason;
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (m_stop.load())
                break;
            if (!abortReason.isEmpty()) {
                m_results[i].reason = abortReason;
                continue;
            }
            const int err = DoItem(i);
            if (IsFatal(err))
                abortReason = QStringLiteral("前のエラーのため処理しませんでした");
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished.store(true);
    }
    m_done.notify_all();
}

void CFileTransfer::Measure() {
    int64_t total = 0;
    for (const Item& item : m_items) {
        const QByteArray src = Trimmed(FileNames::ToNative(item.source));
        struct stat st {};
        const int r =
            m_mode == Mode::Copy ? ::stat(src.constData(), &st) : ::lstat(src.constData(), &st);
        // A move within the file system is a rename: nothing to count.
        if (r != 0 || (m_mode == Mode::Move && st.st_dev == m_destStat.st_dev))
            continue;
        if (S_ISREG(st.st_mode)) {
            total += st.st_size;
        } else if (S_ISDIR(st.st_mode)) {
            Files::ForEachBelow(src, [&](const QByteArray& rel) {
                struct stat f {};
                if (::lstat(Join(src, rel).constData(), &f) == 0 && S_ISREG(f.st_mode))
                    total += f.st_size;
            });
        }
        if (m_stop.load())
            return;
    }
    m_bytesTotal.store(total);
}

int CFileTransfer::DoItem(size_t i) {
    Result& r = m_results[i];
    const Item& item = m_items[i];
    const QByteArray src = Trimmed(FileNames::ToNative(item.source));
    const bool move = m_mode == Mode::Move;
    Failure f;
    auto fail = [&](const Failure& why) {
        if (why.stopped) {
            r.outcome = Outcome::Stopped;
            return 0;
        }
        r.outcome = Outcome::Failed;
        QString reason = why.text.isEmpty() ? Files::ErrorText(why.err) : why.text;
        // A file inside a folder is named, so the user knows which one it was.
        if (!why.path.isEmpty() && why.path != src && why.path.startsWith(src + '/'))
            reason = QStringLiteral("%1: %2").arg(
                FileNames::Display(FileNames::FromNative(why.path.mid(src.size() + 1))), reason);
        r.reason = reason;
        return why.err;
    };

    struct stat lst {};
    if (::lstat(src.constData(), &lst) != 0)
        return fail(Failure{errno, false, src, QString()});
    struct stat st = lst;
    if (!move && S_ISLNK(lst.st_mode) && ::stat(src.constData(), &st) != 0)
        return fail(Failure{errno, false, src, QString()});
    const bool isFolder = S_ISDIR(st.st_mode);
    if (src == "/" || !(isFolder || S_ISREG(st.st_mode) || (move && S_ISLNK(st.st_mode))))
        return fail(Failure{0, false, src, QStringLiteral("通常のファイルではありません")});
    if (isFolder && IsInside(m_dest, st))
        return fail(
            Failure{0, false, src,
                    move ? QStringLiteral("フォルダをそれ自身の中に移動することはできません")
                         : QStringLiteral("フォルダをそれ自身の中にコピーすることはできません")});
    const QByteArray name = BaseName(src);
    QByteArray finalPath;

    if (move) {
        struct stat parent {};
        if (::stat(ParentOf(src).constData(), &parent) == 0 && SameEntry(parent, m_destStat)) {
            // Already in the destination folder: nothing to do.
            r.target = r.source;
            r.outcome = Outcome::Done;
            return 0;
        }
        SetCurrent(src);
        if (Place(src, name, isFolder, item.collision, finalPath, f)) {
            if (isFolder)
                Files::ForEachBelow(finalPath, [&](const QByteArray& rel) {
                    AddChange(Join(src, rel), Join(finalPath, rel));
                });
            else
                AddChange(src, finalPath);
            r.target = FileNames::FromNative(finalPath);
            r.outcome = Outcome::Done;
            return 0;
        }
        if (f.err != EXDEV)
            return fail(f);
        // Another file system: copy, check, and only then remove the source.
        f = Failure();
        Copied copied;
        if (!CopyItem(src, false, true, item.collision, finalPath, &copied, f))
            return fail(f);
        r.target = FileNames::FromNative(finalPath);
        r.outcome = RemoveSource(src, isFolder, copied, finalPath, r.reason) ? Outcome::Done
                                                                             : Outcome::Failed;
        return 0;
    }

    if (!CopyItem(src, true, false, item.collision, finalPath, nullptr, f))
        return fail(f);
    r.target = FileNames::FromNative(finalPath);
    r.outcome = Outcome::Done;
    return 0;
}

bool CFileTransfer::RemoveSource(const QByteArray& src, bool isFolder, const Copied& copied,
                                 const QByteArray& finalPath, QString& reason) {
    std::vector<QByteArray> replaced; // files that are no longer the ones copied
    int err = 0;
    for (const Copied::File& file : copied.files) {
        const QByteArray path = file.rel.isEmpty() ? src : Join(src, file.rel);
        const QByteArray target = file.rel.isEmpty() ? finalPath : Join(finalPath, file.rel);
        if (s_beforeRemove)
            s_beforeRemove(*this, path);
        struct stat now {};
        if (::lstat(path.constData(), &now) != 0) {
            if (errno == ENOENT) // removed meanwhile: its copy is all there is
                AddChange(path, target);
            else
                err = errno;
            continue;
        }
        // Saved over by another program since it was read (an editor writes a new file and
        // renames it over the old one): that version was never copied, so it stays.
        if (!file.read.Matches(now)) {
            replaced.push_back(file.rel);
            continue;
        }
        if (::unlink(path.constData()) == 0 || errno == ENOENT)
            AddChange(path, target);
        else
            err = errno;
    }
    bool removed = replaced.empty() && err == 0;
    if (isFolder) {
        // Deepest first; a folder that gained entries meanwhile stays.
        for (auto it = copied.folders.rbegin(); it != copied.folders.rend(); ++it)
            if (::rmdir(Join(src, *it).constData()) != 0) {
                removed = false;
                err = err ? err : errno;
            }
        if (removed && ::rmdir(src.constData()) != 0) {
            removed = false;
            err = errno;
        }
    }
    if (!replaced.empty()) {
        QString which;
        if (isFolder) {
            which = FileNames::Display(FileNames::FromNative(replaced.front()));
            if (replaced.size() > 1)
                which += QStringLiteral(" ほか %1 件").arg(replaced.size() - 1);
            which += QStringLiteral(": ");
        }
        reason = which + QStringLiteral("コピーした後に別のプログラムが移動元を書き換えたため、"
                                        "移動元とコピーの両方を残しました");
        return false;
    }
    if (!removed) {
        reason = QStringLiteral("移動先にコピーしましたが、移動元を削除できませんでした（%1）")
                     .arg(Files::ErrorText(err));
        return false;
    }
    return true;
}

bool CFileTransfer::CopyItem(const QByteArray& src, bool followLink, bool verify,
                             Collision collision, QByteArray& finalPath, Copied* copied,
                             Failure& f) {
    struct stat st {};
    if ((followLink ? ::stat(src.constData(), &st) : ::lstat(src.constData(), &st)) != 0)
        return f.Set(errno, src);
    const QByteArray name = BaseName(src);
    QByteArray temp = Join(m_dest, TempPattern());

    if (S_ISDIR(st.st_mode)) {
        if (!::mkdtemp(temp.data()))
            return f.Set(errno, m_dest);
        bool ok = CopyTree(src, temp, copied, QByteArray(), verify, f);
        if (ok) {
            ::chmod(temp.constData(), st.st_mode & kKeptModeBits);
            KeepTimes(temp, st);
            ok = Place(temp, name, true, collision, finalPath, f);
        }
        if (!ok)
            RemoveTemp(temp);
        return ok;
    }

    if (S_ISLNK(st.st_mode)) {
        // A link moved to another file system is made anew with the same target.
        QByteArray target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(src.constData(), target.data(), size_t(target.size()));
        if (n < 0)
            return f.Set(errno, src);
        target.truncate(n);
        for (int k = 0;; ++k) {
            temp = Join(m_dest, LinkTempName(k));
            if (::symlink(target.constData(), temp.constData()) == 0)
                break;
            if (errno != EEXIST || k >= kMaxNames)
                return f.Set(errno, m_dest);
        }
        KeepTimes(temp, st);
        if (!Place(temp, name, false, collision, finalPath, f)) {
            ::unlink(temp.constData());
            return false;
        }
        if (copied)
            copied->files.push_back({QByteArray(), Identity::Of(st)});
        return true;
    }

    const int out = ::mkostemp(temp.data(), O_CLOEXEC);
    if (out < 0)
        return f.Set(errno, m_dest);
    Identity read;
    bool ok = CopyFile(src, out, verify, &read, f);
    if (::close(out) != 0 && ok)
        ok = f.Set(errno, src);
    if (ok)
        ok = Place(temp, name, false, collision, finalPath, f);
    if (!ok)
        ::unlink(temp.constData());
    else if (copied)
        copied->files.push_back({QByteArray(), read});
    return ok;
}

bool CFileTransfer::CopyTree(const QByteArray& src, const QByteArray& dst, Copied* copied,
                             const QByteArray& rel, bool verify, Failure& f) {
    DIR* dir = ::opendir(src.constData());
    if (!dir)
        return f.Set(errno, src);
    std::vector<QByteArray> names;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray n(e->d_name);
        if (n != "." && n != "..")
            names.push_back(n);
    }
    ::closedir(dir);

    for (const QByteArray& n : names) {
        if (m_stop.load()) {
            f.stopped = true;
            return false;
        }
        const QByteArray s = Join(src, n);
        const QByteArray t = Join(dst, n);
        const QByteArray r = rel.isEmpty() ? n : rel + '/' + n;
        struct stat st {};
        if (::lstat(s.constData(), &st) != 0)
            return f.Set(errno, s);
        if (S_ISDIR(st.st_mode)) {
            if (::mkdir(t.constData(), kPrivateDir) != 0)
                return f.Set(errno, s);
            if (copied)
                copied->folders.push_back(r);
            if (!CopyTree(s, t, copied, r, verify, f))
                return false;
            ::chmod(t.constData(), st.st_mode & kKeptModeBits);
            KeepTimes(t, st);
        } else if (S_ISREG(st.st_mode)) {
            const int out =
                ::open(t.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFile);
            if (out < 0)
                return f.Set(errno, s);
            Identity read;
            bool ok = CopyFile(s, out, verify, &read, f);
            if (::close(out) != 0 && ok)
                ok = f.Set(errno, s);
            if (!ok)
                return false;
            if (copied)
                copied->files.push_back({r, read});
        } else if (S_ISLNK(st.st_mode)) {
            QByteArray target(PATH_MAX, '\0');
            const ssize_t len = ::readlink(s.constData(), target.data(), size_t(target.size()));
            if (len < 0)
                return f.Set(errno, s);
            target.truncate(len);
            if (::symlink(target.constData(), t.constData()) != 0)
                return f.Set(errno, s);
            KeepTimes(t, st);
            if (copied)
                copied->files.push_back({r, Identity::Of(st)});
        } else {
            return f.SetText(QStringLiteral("特殊なファイルはコピーできません"), s);
        }
    }
    return true;
}

bool CFileTransfer::CopyFile(const QByteArray& src, int out, bool verify, Identity* read,
                             Failure& f) {
    const int in = ::open(src.constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return f.Set(errno, src);
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{in};
    struct stat st {};
    if (::fstat(in, &st) != 0)
        return f.Set(errno, src);
    if (!S_ISREG(st.st_mode))
        return f.SetText(QStringLiteral("通常のファイルではありません"), src);
    ::posix_fadvise(in, 0, 0, POSIX_FADV_SEQUENTIAL);
    SetCurrent(src);

    int64_t copied = 0;
    if (!CopyData(in, out, copied, f)) {
        f.path = src;
        return false;
    }
    struct stat after {};
    if (::fstat(in, &after) != 0 || after.st_size != copied || after.st_size != st.st_size)
        return f.SetText(QStringLiteral("コピー中にファイルが変更されました"), src);
    ::fchmod(out, st.st_mode & kKeptModeBits);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(out, times);
    if (read)
        *read = Identity::Of(after);
    if (!verify)
        return true;

    // Before the source goes: the copy is on the disk, and what the disk gives back is the same.
    if (::fdatasync(out) != 0)
        return f.Set(errno, src);
    ::posix_fadvise(out, 0, 0, POSIX_FADV_DONTNEED);
    char* a = m_buffer.data();
    char* b = a + kBuffer;
    for (off_t pos = 0; pos < copied;) {
        if (m_stop.load()) {
            f.stopped = true;
            return false;
        }
        const ssize_t na = ::pread(in, a, kBuffer, pos);
        const ssize_t nb = ::pread(out, b, kBuffer, pos);
        if (na < 0 || nb < 0)
            return f.Set(errno, src);
        if (na != nb || na == 0 || std::memcmp(a, b, size_t(na)) != 0)
            return f.SetText(QStringLiteral("コピーした内容が元のファイルと一致しません"), src);
        pos += na;
    }
    // Changed in place while it was compared: the copy may hold neither version.
    struct stat now {};
    if (::fstat(in, &now) != 0 || !Identity::Of(after).Matches(now))
        return f.SetText(QStringLiteral("コピー中にファイルが変更されました"), src);
    return true;
}

bool CFileTransfer::CopyData(int in, int out, int64_t& copied, Failure& f) {
    enum class Way { Range, Send, Plain } way = Way::Range;
    for (;;) {
        if (m_stop.load()) {
            f.stopped = true;
            return false;
        }
        ssize_t n;
        if (way == Way::Range) {
            n = ::copy_file_range(in, nullptr, out, nullptr, kChunk, 0);
            if (n < 0 && copied == 0 &&
                (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
                 errno == EBADF)) {
                way = Way::Send;
                continue;
            }
        } else if (way == Way::Send) {
            n = ::sendfile(out, in, nullptr, kChunk);
            if (n < 0 && copied == 0 && (errno == EINVAL || errno == ENOSYS)) {
                way = Way::Plain;
                continue;
            }
        } else {
            n = ::read(in, m_buffer.data(), kBuffer);
            for (ssize_t written = 0; n > 0 && written < n;) {
                const ssize_t w = ::write(out, m_buffer.data() + written, size_t(n - written));
                if (w < 0 && errno != EINTR)
                    return f.Set(errno, QByteArray());
                written += w > 0 ? w : 0;
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return f.Set(errno, QByteArray());
        }
        if (n == 0)
            return true;
        copied += n;
        m_bytesDone.fetch_add(n);
        if (s_onChunk)
            s_onChunk(*this);
    }
}

bool CFileTransfer::Place(const QByteArray& from, const QByteArray& name, bool isFolder,
                          Collision collision, QByteArray& finalPath, Failure& f) {
    if (collision == Collision::Replace) {
        const QByteArray target = Join(m_dest, name);
        struct stat tst {};
        const bool existed = ::lstat(target.constData(), &tst) == 0;
        if (existed && (isFolder || S_ISDIR(tst.st_mode)))
            return f.SetText(QStringLiteral("同じ名前の項目が既にあります"), from);
        if (::rename(from.constData(), target.constData()) != 0)
            return f.Set(errno, from);
        if (existed)
            AddChange(target, QByteArray());
        finalPath = target;
        return true;
    }
    const QString shown = FileNames::FromNative(name);
    for (int n = 0; n < kMaxNames; ++n) {
        const QByteArray candidate =
            Join(m_dest, FileNames::ToNative(CollisionName(shown, n, isFolder)));
        const int err = Files::RenameNoReplace(from, candidate);
        if (err == 0) {
            finalPath = candidate;
            return true;
        }
        if (err != EEXIST)
            return f.Set(err, from);
    }
    return f.Set(EEXIST, from);
}
