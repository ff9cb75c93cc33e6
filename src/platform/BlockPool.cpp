#include "platform/BlockPool.h"

#include <new>
#include <sanitizer/asan_interface.h>
#include <sys/mman.h>

// A chunk starts with this header; its blocks follow. Chunks are aligned to their size, so that a
// block's chunk is its address with the low bits cleared.
struct CBlockPool::Chunk {
    Chunk* prev = nullptr; // in the list of chunks with room
    Chunk* next = nullptr;
    void* freed = nullptr; // blocks given back, each holding the next one's address
    size_t used = 0;       // blocks ever handed out from the start of the chunk
    size_t live = 0;       // blocks in use
    bool open = false;     // in the list of chunks with room
    bool huge = false;     // advised as huge pages
};

namespace {

constexpr size_t kAlign = 16;

size_t RoundUp(size_t n, size_t to) {
    return (n + to - 1) / to * to;
}

} // namespace

CBlockPool::CBlockPool(size_t itemSize)
    : m_nItemSize(RoundUp(itemSize < sizeof(void*) ? sizeof(void*) : itemSize, kAlign)) {
    m_nFirst = RoundUp(sizeof(Chunk), kAlign);
    m_nPerChunk = m_nItemSize <= kChunk - m_nFirst ? (kChunk - m_nFirst) / m_nItemSize : 0;
}

CBlockPool::~CBlockPool() {
    while (Chunk* c = m_open) {
        Unlink(c);
        ASAN_UNPOISON_MEMORY_REGION(c, kChunk);
        ::munmap(c, kChunk);
    }
}

CBlockPool::Chunk* CBlockPool::NewChunk() {
    // Twice the size, so that an aligned chunk lies within; the rest goes back at once.
    void* raw =
        ::mmap(nullptr, 2 * kChunk, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t aligned = RoundUp(start, kChunk);
    if (aligned > start)
        ::munmap(raw, aligned - start);
    if (const uintptr_t end = start + 2 * kChunk; end > aligned + kChunk)
        ::munmap(reinterpret_cast<void*>(aligned + kChunk), end - aligned - kChunk);
    // The first chunk is enough for an ordinary folder and takes memory page by page as it fills;
    // the ones after it are for large folders, where huge pages spare the faults. The advice
    // comes before the first byte is written: a chunk whose first page is in is no longer given
    // a huge page when touched. A kernel without them refuses it, and the chunk stays in
    // ordinary pages.
    const bool huge = m_counts.chunks > 0 &&
                      ::madvise(reinterpret_cast<void*>(aligned), kChunk, MADV_HUGEPAGE) == 0;
    auto* c = new (reinterpret_cast<void*>(aligned)) Chunk;
    c->huge = huge;
    m_counts.advised += huge ? 1 : 0;
    ++m_counts.chunks;
    m_counts.bytes += kChunk;
    ASAN_POISON_MEMORY_REGION(reinterpret_cast<char*>(c) + m_nFirst, kChunk - m_nFirst);
    return c;
}

void CBlockPool::Unlink(Chunk* c) {
    if (c->prev)
        c->prev->next = c->next;
    else
        m_open = c->next;
    if (c->next)
        c->next->prev = c->prev;
    c->prev = c->next = nullptr;
    c->open = false;
}

void CBlockPool::PushFront(Chunk* c) {
    c->prev = nullptr;
    c->next = m_open;
    if (m_open)
        m_open->prev = c;
    m_open = c;
    c->open = true;
}

void* CBlockPool::Allocate() {
    if (m_nPerChunk == 0)
        throw std::bad_alloc(); // larger than a chunk
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open)
        PushFront(NewChunk());
    Chunk* c = m_open;
    char* block;
    if (c->freed) {
        block = static_cast<char*>(c->freed);
        ASAN_UNPOISON_MEMORY_REGION(block, m_nItemSize);
        c->freed = *reinterpret_cast<void**>(block);
    } else {
        block = reinterpret_cast<char*>(c) + m_nFirst + c->used * m_nItemSize;
        ASAN_UNPOISON_MEMORY_REGION(block, m_nItemSize);
        ++c->used;
    }
    ++c->live;
    ++m_counts.blocks;
    if (!c->freed && c->used == m_nPerChunk)
        Unlink(c); // full
    return block;
}

void CBlockPool::Free(void* block) {
    if (!block)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* c = reinterpret_cast<Chunk*>(reinterpret_cast<uintptr_t>(block) & ~(kChunk - 1));
    --c->live;
    --m_counts.blocks;
    if (c->live == 0) {
        if (m_counts.chunks > 1) {
            if (c->open)
                Unlink(c);
            --m_counts.chunks;
            m_counts.bytes -= kChunk;
            m_counts.advised -= c->huge ? 1 : 0;
            ASAN_UNPOISON_MEMORY_REGION(c, kChunk);
            ::munmap(c, kChunk);
            return;
        }
        // The last chunk stays, empty: the next blocks come from its start again, side by side.
        ASAN_POISON_MEMORY_REGION(block, m_nItemSize);
        c->freed = nullptr;
        c->used = 0;
        if (!c->open)
            PushFront(c);
        return;
    }
    *reinterpret_cast<void**>(block) = c->freed;
    c->freed = block;
    ASAN_POISON_MEMORY_REGION(block, m_nItemSize);
    if (!c->open)
        PushFront(c);
}

CBlockPool::Counts CBlockPool::Count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}
