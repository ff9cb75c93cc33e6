// The pieces of the channel between the program and a plug-in helper that the helper uses too,
// without Qt (the helper links no Qt library: each would cost every helper's start): descriptors
// that close themselves, shared memory (memfd) mapped and sealed, messages over a stream socket
// with an optional descriptor passed along, reads with a deadline. HelperChannel.h adds starting
// and ending a helper process.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <utility>

namespace HelperChannel {

// A descriptor that is closed with its owner.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release() { return std::exchange(m_fd, -1); }
    void Reset(int fd = -1);

private:
    int m_fd = -1;
};

// A mapping of shared memory, unmapped with its owner.
class SharedMap {
public:
    SharedMap() = default;
    ~SharedMap();
    SharedMap(SharedMap&& other) noexcept
        : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)) {}
    SharedMap& operator=(SharedMap&& other) noexcept;
    SharedMap(const SharedMap&) = delete;
    SharedMap& operator=(const SharedMap&) = delete;

    // New shared memory of that many bytes, mapped for writing; *fd receives its descriptor.
    static SharedMap Create(size_t bytes, UniqueFd* fd);
    // New shared memory of that many bytes, not mapped here: it is filled with WriteShared.
    static UniqueFd CreateUnmapped(size_t bytes);
    // Writes the bytes into shared memory at offset (the kernel copies them; nothing is mapped).
    static bool WriteShared(int fd, const void* data, size_t bytes, uint64_t offset);
    // Seals the memory's size, so that whoever maps it can read every byte it was told of.
    static bool SealSize(int fd);
    // Maps memory another process made, for reading (copy-on-write: writes stay private), when
    // it holds at least bytes and its size is sealed; an empty map otherwise.
    static SharedMap MapSealed(int fd, size_t bytes);

    unsigned char* Data() const { return static_cast<unsigned char*>(m_data); }
    size_t Size() const { return m_size; }
    bool Valid() const { return m_data != nullptr; }

private:
    void* m_data = nullptr;
    size_t m_size = 0;
};

// What waiting for bytes came to.
enum class Wait {
    kDone,      // all bytes read
    kTimedOut,  // the deadline passed
    kClosed,    // the other end closed (or the connection failed)
    kCancelled, // *cancel became true
};

using Clock = std::chrono::steady_clock;

// Writes header and payload (payloadSize bytes) in one message, with the descriptor passFd
// (unless -1) attached. False when the other end is gone.
bool Send(int socket, const void* header, size_t headerSize, const void* payload,
          size_t payloadSize, int passFd = -1);
// Reads exactly size bytes by the deadline, watching *cancel (when given) every few
// milliseconds; a descriptor passed along lands in *passed (later ones are closed).
Wait Receive(int socket, void* data, size_t size, Clock::time_point deadline,
             const std::atomic<bool>* cancel = nullptr, UniqueFd* passed = nullptr);
// The same without a deadline (the helper waits for its next request so).
bool ReceiveAll(int socket, void* data, size_t size);

} // namespace HelperChannel
