#include "file/AtomicFile.h"

#include "core/Image.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ik {

AtomicFile::AtomicFile(const char* path) {
    if (!path || !*path) {
        Fail(IK_ERR_ARGUMENT, "no path");
        return;
    }
    QString target = QString::fromUtf8(path);
    const QFileInfo info(target);
    if (info.isSymLink() && info.exists())
        target = info.canonicalFilePath();
    m_final = QFile::encodeName(target);
    struct stat st {};
    if (::stat(m_final.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) { // a folder is never replaced by a file
            Fail(IK_ERR_WRITE, "a folder of that name is in the way");
            return;
        }
        m_mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        m_mode = 0666 & ~mask;
    }
    const QFileInfo fi(target);
    m_temp = QFile::encodeName(fi.absolutePath() + QStringLiteral("/.") + fi.fileName() +
                               QStringLiteral(".XXXXXX"));
    m_fd = ::mkstemp(m_temp.data());
    if (m_fd < 0) {
        Fail(IK_ERR_WRITE, QByteArray("cannot create the file: ") + std::strerror(errno));
        m_temp.clear();
    }
}

AtomicFile::~AtomicFile() {
    if (m_stream)
        std::fclose(m_stream);
    else if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed && !m_temp.isEmpty())
        ::unlink(m_temp.constData());
}

std::FILE* AtomicFile::Stream() {
    if (!m_stream && m_fd >= 0 && !m_fdTaken) {
        m_stream = ::fdopen(m_fd, "wb");
        if (m_stream)
            m_fd = -1;
    }
    return m_stream;
}

int AtomicFile::TakeFd() {
    if (m_fd < 0 || m_stream)
        return -1;
    const int fd = m_fd;
    m_fd = -1;
    m_fdTaken = true;
    return fd;
}

bool AtomicFile::Commit() {
    if (m_temp.isEmpty())
        return false;
    bool ok = true;
    if (m_stream) {
        ok = std::fflush(m_stream) == 0 && ::fsync(fileno(m_stream)) == 0;
        ok = std::fclose(m_stream) == 0 && ok;
        m_stream = nullptr;
    } else if (m_fd >= 0) {
        ok = ::fsync(m_fd) == 0;
        ok = ::close(m_fd) == 0 && ok;
        m_fd = -1;
    } else {
        // The library that took the descriptor has closed it; flush through a new one.
        const int fd = ::open(m_temp.constData(), O_RDONLY | O_CLOEXEC);
        ok = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    if (!ok || ::chmod(m_temp.constData(), m_mode) != 0 ||
        ::rename(m_temp.constData(), m_final.constData()) != 0)
        return Fail(IK_ERR_WRITE, QByteArray("cannot write the file: ") + std::strerror(errno));
    m_committed = true;
    return true;
}

} // namespace ik
