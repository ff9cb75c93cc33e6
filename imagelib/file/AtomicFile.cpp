#include "file/AtomicFile.h"

#include "core/Image.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace ik {

namespace {

// The process's file-creation mask. The kernel tells it in /proc/self/status; elsewhere umask can
// only be read by setting it, so two threads reading it at once could each see the other's
// temporary 0 and leave it behind: one reader at a time, and as short as can be.
mode_t CurrentUmask() {
    if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(f);
        if (found)
            return mode_t(mask);
    }
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

AtomicFile::AtomicFile(const char* path) {
    if (!path || !*path) {
        Fail(IK_ERR_ARGUMENT, "no path");
        return;
    }
    // The path's bytes are used as they are: a name need not be UTF-8.
    m_final = QByteArray(path);
    struct stat link {};
    if (::lstat(m_final.constData(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(m_final.constData(), resolved))
            m_final = QByteArray(resolved);
    }
    struct stat st {};
    if (::stat(m_final.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) { // a folder is never replaced by a file
            Fail(IK_ERR_WRITE, "a folder of that name is in the way");
            return;
        }
        m_mode = st.st_mode & 07777;
    } else {
        m_mode = 0666 & ~CurrentUmask();
    }
    const qsizetype slash = m_final.lastIndexOf('/');
    const QByteArray dir = slash < 0    ? QByteArray(".")
                           : slash == 0 ? QByteArray("/")
                                        : m_final.left(slash);
    m_temp = dir + (dir.endsWith('/') ? "." : "/.") + m_final.mid(slash + 1) + ".XXXXXX";
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
        ok = std::fflush(m_stream) == 0 && (!m_durable || ::fsync(fileno(m_stream)) == 0);
        ok = std::fclose(m_stream) == 0 && ok;
        m_stream = nullptr;
    } else if (m_fd >= 0) {
        ok = !m_durable || ::fsync(m_fd) == 0;
        ok = ::close(m_fd) == 0 && ok;
        m_fd = -1;
    } else {
        // The library that took the descriptor has closed it; flush through a new one.
        const int fd = ::open(m_temp.constData(), O_RDONLY | O_CLOEXEC);
        ok = fd >= 0 && (!m_durable || ::fsync(fd) == 0);
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
