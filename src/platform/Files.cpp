#include "platform/Files.h"

#include "platform/FileNames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Files {

std::optional<Info> Stat(const QString& path) {
    struct stat st {};
    if (::stat(FileNames::ToNative(path).constData(), &st) != 0)
        return std::nullopt;
    return Info{int64_t(st.st_size), int64_t(st.st_mtim.tv_sec), S_ISDIR(st.st_mode),
                S_ISREG(st.st_mode)};
}

bool Exists(const QString& path) {
    return Stat(path).has_value();
}

bool MakeFolders(const QString& path, int mode) {
    if (const std::optional<Info> info = Stat(path))
        return info->isFolder;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash > 0 && !MakeFolders(path.left(slash), mode))
        return false;
    return ::mkdir(FileNames::ToNative(path).constData(), mode_t(mode)) == 0 || errno == EEXIST;
}

bool RemoveFile(const QString& path) {
    return ::unlink(FileNames::ToNative(path).constData()) == 0 || errno == ENOENT;
}

QString ErrorText(int errnum) {
    switch (errnum) {
    case ENOSPC:
        return QStringLiteral("ディスクの空き領域が足りません");
    case EDQUOT:
        return QStringLiteral("ディスクの使用量の上限を超えます");
    case EROFS:
        return QStringLiteral("書き込みできないボリュームです");
    case EACCES:
    case EPERM:
        return QStringLiteral("アクセスが拒否されました");
    case ENOENT:
        return QStringLiteral("ファイルが見つかりません");
    case EEXIST:
        return QStringLiteral("同じ名前の項目が既にあります");
    case ENAMETOOLONG:
        return QStringLiteral("名前が長すぎます");
    case ENOTDIR:
        return QStringLiteral("フォルダではありません");
    case EISDIR:
        return QStringLiteral("フォルダです");
    case ENOTEMPTY:
        return QStringLiteral("フォルダが空ではありません");
    case EIO:
        return QStringLiteral("入出力エラーが起きました");
    case EBUSY:
        return QStringLiteral("使用中です");
    case EFBIG:
        return QStringLiteral("ファイルが大きすぎます");
    case EINVAL:
        return QStringLiteral("この操作はできません");
    default:
        return QString::fromLocal8Bit(std::strerror(errnum));
    }
}

int RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return errno;
    // A file system that cannot refuse by itself (some network ones): look first. A name taken
    // in between the two steps is the only case left open.
    struct stat st {};
    if (::lstat(to.constData(), &st) == 0)
        return EEXIST;
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

bool RemoveTree(const QByteArray& path) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(st.st_mode))
        return ::unlink(path.constData()) == 0;
    ::nftw(
        path.constData(),
        [](const char* p, const struct stat*, int, FTW*) {
            ::remove(p);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
    return ::lstat(path.constData(), &st) != 0 && errno == ENOENT;
}

namespace {
void WalkBelow(const QByteArray& root, const QByteArray& rel,
               const std::function<void(const QByteArray&)>& fn) {
    const QByteArray dirPath = rel.isEmpty() ? root : root + '/' + rel;
    DIR* dir = ::opendir(dirPath.constData());
    if (!dir)
        return;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray childRel = rel.isEmpty() ? name : rel + '/' + name;
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st {};
            isDir = ::lstat((root + '/' + childRel).constData(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (isDir)
            WalkBelow(root, childRel, fn);
        else
            fn(childRel);
    }
    ::closedir(dir);
}
} // namespace

void ForEachBelow(const QByteArray& folder, const std::function<void(const QByteArray&)>& fn) {
    WalkBelow(folder, QByteArray(), fn);
}

} // namespace Files
