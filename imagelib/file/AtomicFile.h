// A file written under a temporary name in its destination's folder and put in place by a rename
// only when it is complete, so that a failed or stopped save never destroys an existing file.
#pragma once

#include <QByteArray>
#include <cstdio>

namespace ik {

class AtomicFile {
public:
    // Creates the temporary file. A destination that is a symbolic link is written through it.
    explicit AtomicFile(const char* path);
    ~AtomicFile(); // removes the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool IsOpen() const { return m_fd >= 0 || m_stream || m_fdTaken; }
    // A stdio stream on the temporary file (owned by this object).
    std::FILE* Stream();
    // Hands the descriptor to a library that closes it itself.
    int TakeFd();
    // The new file's permissions (by default those of the file it replaces, or the umask's).
    void SetMode(unsigned mode) { m_mode = mode; }
    // Without durability the data is not forced to disk before the rename (for caches, whose
    // entries are checked when read).
    void SetDurable(bool durable) { m_durable = durable; }
    // Flushes the data to disk and renames the file over the destination.
    bool Commit();

private:
    QByteArray m_final, m_temp;
    int m_fd = -1;
    std::FILE* m_stream = nullptr;
    bool m_fdTaken = false, m_committed = false, m_durable = true;
    unsigned m_mode = 0644;
};

} // namespace ik
