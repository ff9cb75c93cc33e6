// Memory for large arrays (a listing's million entries, the keys it sorts), asked of the system in
// whole huge pages: such an array taken from the general heap costs a page fault for every 4 KiB
// page it first touches, which on some machines costs microseconds apiece. Arrays smaller than a
// huge page come from the general heap as usual. Where the kernel refuses the advice, the memory
// works with ordinary pages.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

namespace HugePages {

// From this size up an array gets huge pages of its own (except under the address sanitizer,
// which watches the general heap only).
constexpr size_t kPage = size_t(2) << 20;

// bytes of memory aligned as operator new aligns; throws std::bad_alloc when the system gives none.
void* Allocate(size_t bytes);
// Gives back what Allocate gave for the same size.
void Free(void* p, size_t bytes) noexcept;

// What the arrays of kPage and more hold now, in all (the general heap's count leaves them out).
size_t BytesHeld();
// How many of them were refused the advice since the process started (they work all the same).
size_t Refused();

// An allocator for std::vector and the like.
template <typename T> struct Allocator {
    using value_type = T;
    Allocator() = default;
    template <typename U> Allocator(const Allocator<U>&) noexcept {}
    T* allocate(size_t n) {
        if (n > size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(Allocate(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) noexcept { Free(p, n * sizeof(T)); }
    template <typename U> bool operator==(const Allocator<U>&) const noexcept { return true; }
};

} // namespace HugePages
