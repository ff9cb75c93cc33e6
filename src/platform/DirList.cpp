#include "platform/DirList.h"

#include <QFile>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DirList {

bool ForEachFile(const QString& folder, const std::function<void(const Entry&)>& fn) {
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return false;
    const int fd = ::dirfd(dir);
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_type == DT_DIR)
            continue;
        if (d->d_name[0] == '.' &&
            (d->d_name[1] == 0 || (d->d_name[1] == '.' && d->d_name[2] == 0)))
            continue;
        // Symbolic links count as what they point to, as the file managers show them.
        struct stat st {};
        if (::fstatat(fd, d->d_name, &st, 0) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            continue;
        fn(Entry{QFile::decodeName(d->d_name), uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec)});
    }
    ::closedir(dir);
    return true;
}

} // namespace DirList
