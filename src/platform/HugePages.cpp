#include "platform/HugePages.h"

#include <atomic>
#include <cstdint>
#include <sys/mman.h>

namespace HugePages {

namespace {

std::atomic<size_t> g_held{0}, g_refused{0};

size_t Whole(size_t bytes) {
    return (bytes + kPage - 1) / kPage * kPage;
}

} // namespace

// The address sanitizer watches only the general heap: there every array stays.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kFrom = SIZE_MAX;
#else
constexpr size_t kFrom = kPage;
#endif

void* Allocate(size_t bytes) {
    if (bytes < kFrom)
        return ::operator new(bytes == 0 ? 1 : bytes);
    const size_t size = Whole(bytes);
    // One huge page more than needed, so that an aligned start lies within; the rest goes back.
    void* raw =
        ::mmap(nullptr, size + kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = (start + kPage - 1) / kPage * kPage;
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (const uintptr_t end = start + size + kPage; end > aligned + size)
        ::munmap(reinterpret_cast<void*>(aligned + size), end - aligned - size);
    // Advised before anything is written: a range whose first page is in gets no huge page.
    if (::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE) != 0)
        ++g_refused;
    g_held += size;
    return reinterpret_cast<void*>(aligned);
}

void Free(void* p, size_t bytes) noexcept {
    if (!p)
        return;
    if (bytes < kFrom) {
        ::operator delete(p);
        return;
    }
    const size_t size = Whole(bytes);
    ::munmap(p, size);
    g_held -= size;
}

size_t BytesHeld() {
    return g_held.load();
}

size_t Refused() {
    return g_refused.load();
}

} // namespace HugePages
