#include "platform/DirList.h"

#include "platform/FileNames.h"

#include <algorithm>
#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DirList {

namespace {

std::atomic<uint64_t> g_listings{0}, g_stats{0};

// A regular file, a link or an entry of unknown kind (which a stat decides), never "." or "..".
bool MayBeFile(const dirent* d) {
    if (d->d_type != DT_REG && d->d_type != DT_LNK && d->d_type != DT_UNKNOWN)
        return false;
    const char* n = d->d_name;
    return !(n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)));
}

} // namespace

Counters Count() {
    return Counters{g_listings.load(), g_stats.load()};
}

size_t EntriesHint(const QString& folder) {
    struct stat st {};
    if (::stat(FileNames::ToNative(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_size <= 0)
        return 0;
    // A few entries too many cost only address space: the pages beyond the last entry are never
    // touched. Capped so that a file system with another meaning of the size asks no absurd room.
    constexpr size_t kBytesPerEntry = 24, kMost = size_t(1) << 24;
    return std::min(size_t(st.st_size) / kBytesPerEntry, kMost);
}

bool IsFolder(const QString& path) {
    struct stat st {};
    return ::stat(FileNames::ToNative(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<Entry> LookUp(const QString& folder, const QString& name,
                            const std::function<bool(const QString&)>& accept) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || !accept(name))
        return std::nullopt;
    QString path = folder;
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    ++g_stats;
    struct stat st {};
    if (::stat(FileNames::ToNative(path + name).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return Entry{name, uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec)};
}

bool ForEachFile(const QString& folder, const std::function<bool(const QString&)>& accept,
                 const std::function<void(const Entry&)>& fn) {
    DIR* dir = ::opendir(FileNames::ToNative(folder).constData());
    if (!dir)
        return false;
    ++g_listings;
    uint64_t stats = 0;
    const int fd = ::dirfd(dir);
    while (const dirent* d = ::readdir(dir)) {
        if (!MayBeFile(d))
            continue;
        const QString name = FileNames::FromNative(d->d_name);
        if (!accept(name))
            continue;
        // Symbolic links count as what they point to, as the file managers show them.
        struct stat st {};
        ++stats;
        if (::fstatat(fd, d->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        fn(Entry{name, uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec)});
    }
    ::closedir(dir);
    g_stats += stats;
    return true;
}

bool ForEachName(const QString& folder, const std::function<bool(const QString&)>& accept,
                 const std::function<void(const Entry&, const char* native)>& fn) {
    DIR* dir = ::opendir(FileNames::ToNative(folder).constData());
    if (!dir)
        return false;
    ++g_listings;
    uint64_t stats = 0;
    const int fd = ::dirfd(dir);
    Entry e{QString(), 0, 0, false};
    while (const dirent* d = ::readdir(dir)) {
        if (!MayBeFile(d))
            continue;
        e.name = FileNames::FromNative(d->d_name);
        if (!accept(e.name))
            continue;
        if (d->d_type == DT_REG) {
            e.size = 0;
            e.mtime = 0;
            e.stated = false;
        } else {
            // A link counts as what it points to; an entry of unknown kind is looked at.
            struct stat st {};
            ++stats;
            if (::fstatat(fd, d->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
                continue;
            e.size = uint64_t(st.st_size);
            e.mtime = int64_t(st.st_mtim.tv_sec);
            e.stated = true;
        }
        fn(e, d->d_name);
    }
    ::closedir(dir);
    g_stats += stats;
    return true;
}

bool SubFolders(const QString& folder, bool firstOnly, QStringList& out) {
    DIR* dir = ::opendir(FileNames::ToNative(folder).constData());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_name[0] == '.' &&
            (d->d_name[1] == 0 || (d->d_name[1] == '.' && d->d_name[2] == 0)))
            continue;
        bool isDir = d->d_type == DT_DIR;
        if (d->d_type == DT_UNKNOWN || d->d_type == DT_LNK) {
            struct stat st {};
            isDir = ::fstatat(fd, d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (!isDir)
            continue;
        out << FileNames::FromNative(d->d_name);
        if (firstOnly)
            break;
    }
    ::closedir(dir);
    return true;
}

} // namespace DirList
