#include "platform/Files.h"

#include "platform/FileNames.h"

#include <cerrno>
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

} // namespace Files
