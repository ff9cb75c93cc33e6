#include "platform/HelperIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace HelperChannel {

namespace {

// How often a wait looks at its cancel flag.
constexpr int kCancelSliceMs = 20;

} // namespace

void UniqueFd::Reset(int fd) {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = fd;
}

SharedMap::~SharedMap() {
    if (m_data)
        ::munmap(m_data, m_size);
}

SharedMap& SharedMap::operator=(SharedMap&& other) noexcept {
    if (this != &other) {
        if (m_data)
            ::munmap(m_data, m_size);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

SharedMap SharedMap::Create(size_t bytes, UniqueFd* fd) {
    SharedMap map;
    if (bytes == 0 || !fd)
        return map;
    UniqueFd mem(::memfd_create("quilla-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!mem.Valid() || ::ftruncate(mem.Get(), off_t(bytes)) != 0)
        return map;
    // Every page is about to be written: the kernel allocates them in one go rather than fault by
    // fault.
    void* p =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, mem.Get(), 0);
    if (p == MAP_FAILED)
        return map;
    map.m_data = p;
    map.m_size = bytes;
    *fd = std::move(mem);
    return map;
}

UniqueFd SharedMap::CreateUnmapped(size_t bytes) {
    if (bytes == 0)
        return UniqueFd();
    UniqueFd mem(::memfd_create("quilla-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!mem.Valid() || ::ftruncate(mem.Get(), off_t(bytes)) != 0)
        return UniqueFd();
    return mem;
}

bool SharedMap::WriteShared(int fd, const void* data, size_t bytes, uint64_t offset) {
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd, p, bytes, off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        bytes -= size_t(n);
        offset += uint64_t(n);
    }
    return true;
}

bool SharedMap::SealSize(int fd) {
    return ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0;
}

SharedMap SharedMap::MapSealed(int fd, size_t bytes) {
    SharedMap map;
    if (fd < 0 || bytes == 0)
        return map;
    // A size that could still shrink would let the other process take pages away under the
    // reader (SIGBUS); a size that is sealed cannot.
    const int seals = ::fcntl(fd, F_GET_SEALS);
    struct stat st {};
    if (seals < 0 || (seals & F_SEAL_SHRINK) == 0 || ::fstat(fd, &st) != 0 || st.st_size < 0 ||
        uint64_t(st.st_size) < bytes)
        return map;
    // Every page is about to be read: mapped in one go, read-only, so that the kernel maps the
    // helper's pages rather than copying them, instead of a fault for every few of them. Writes
    // stay allowed and private (copy-on-write), as the reader's image may be changed in place.
    void* p = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (p == MAP_FAILED)
        return map;
    if (::mprotect(p, bytes, PROT_READ | PROT_WRITE) != 0) {
        ::munmap(p, bytes);
        return map;
    }
    map.m_data = p;
    map.m_size = bytes;
    return map;
}

bool Send(int socket, const void* header, size_t headerSize, const void* payload,
          size_t payloadSize, int passFd) {
    iovec parts[2] = {{const_cast<void*>(header), headerSize},
                      {const_cast<void*>(payload), payloadSize}};
    size_t total = headerSize + payloadSize;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = payloadSize == 0 ? 1 : 2;
    if (passFd >= 0) {
        msg.msg_control = control;
        msg.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&msg);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
    }
    while (total > 0) {
        const ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        total -= size_t(n);
        // The descriptor went with the first bytes; what is left goes without it.
        msg.msg_control = nullptr;
        msg.msg_controllen = 0;
        size_t done = size_t(n);
        while (msg.msg_iovlen > 0 && done >= msg.msg_iov[0].iov_len) {
            done -= msg.msg_iov[0].iov_len;
            ++msg.msg_iov;
            --msg.msg_iovlen;
        }
        if (msg.msg_iovlen > 0) {
            msg.msg_iov[0].iov_base = static_cast<char*>(msg.msg_iov[0].iov_base) + done;
            msg.msg_iov[0].iov_len -= done;
        }
    }
    return true;
}

namespace {

// One read; a descriptor that comes along is kept in *passed (or closed). Returns the bytes read,
// 0 at the end, -1 on an error.
ssize_t ReadSome(int socket, void* data, size_t size, UniqueFd* passed) {
    iovec part{data, size};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    msghdr msg{};
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    do
        n = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            if (passed && !passed->Valid())
                passed->Reset(fd);
            else
                ::close(fd);
        }
    }
    return n;
}

} // namespace

Wait Receive(int socket, void* data, size_t size, Clock::time_point deadline,
             const std::atomic<bool>* cancel, UniqueFd* passed) {
    auto* p = static_cast<char*>(data);
    size_t got = 0;
    while (got < size) {
        if (cancel && cancel->load())
            return Wait::kCancelled;
        const int64_t left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // Past the deadline what has already come is still taken (several answers are awaited
        // against one deadline), without waiting for more.
        const bool late = left <= 0;
        int slice = int(std::clamp<int64_t>(left, 1, INT32_MAX));
        if (cancel)
            slice = std::min(slice, kCancelSliceMs);
        pollfd pfd{socket, POLLIN, 0};
        const int r = ::poll(&pfd, 1, late ? 0 : slice);
        if (r < 0 && errno != EINTR)
            return Wait::kClosed;
        if (r == 0 && late)
            return Wait::kTimedOut;
        if (r <= 0)
            continue;
        const ssize_t n = ReadSome(socket, p + got, size - got, passed);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            continue;
        if (n <= 0)
            return Wait::kClosed;
        got += size_t(n);
    }
    return Wait::kDone;
}

bool ReceiveAll(int socket, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    size_t got = 0;
    while (got < size) {
        ssize_t n;
        do
            n = ::recv(socket, p + got, size - got, 0);
        while (n < 0 && errno == EINTR);
        if (n <= 0)
            return false;
        got += size_t(n);
    }
    return true;
}

} // namespace HelperChannel
