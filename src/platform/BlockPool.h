// Many objects of one size kept side by side in large chunks of memory, for what a listing makes
// one of per file (a folder of a million files makes a million). Each object from the general
// heap costs an allocation of its own and, as the heap grows, a page fault for every 4 KiB page
// it first touches, which on some machines costs microseconds apiece. The chunks here are asked
// of the system whole and, beyond the first, advised as huge pages: a million objects then cost
// some hundred faults. Where the advice is refused the chunks work with ordinary pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

class CBlockPool {
public:
    // Blocks of at least itemSize bytes, aligned as operator new aligns (16 bytes).
    explicit CBlockPool(size_t itemSize);
    // Returns every chunk to the system: every block must have been freed before.
    ~CBlockPool();
    CBlockPool(const CBlockPool&) = delete;
    CBlockPool& operator=(const CBlockPool&) = delete;

    // A block; throws std::bad_alloc when the system gives no memory. Any thread.
    void* Allocate();
    // Gives a block back. A chunk none of whose blocks is in use goes back to the system, unless
    // it is the last one left (kept for the next listing). Any thread.
    void Free(void* block);

    // What the pool holds.
    struct Counts {
        size_t blocks = 0;  // in use
        size_t chunks = 0;  // asked of the system
        size_t advised = 0; // of those, the ones advised as huge pages
        size_t bytes = 0;   // the chunks' size in all
    };
    Counts Count() const;
    size_t ItemSize() const { return m_nItemSize; }
    size_t BlocksPerChunk() const { return m_nPerChunk; }

    // The size and alignment of a chunk: one huge page on x86-64 and most others.
    static constexpr size_t kChunk = size_t(2) << 20;

private:
    struct Chunk;
    Chunk* NewChunk();
    void Unlink(Chunk* c);
    void PushFront(Chunk* c);

    const size_t m_nItemSize;
    size_t m_nFirst = 0;    // offset of the first block in a chunk (after its header)
    size_t m_nPerChunk = 0; // blocks a chunk holds
    mutable std::mutex m_mutex;
    Chunk* m_open = nullptr; // chunks with room, most recently given room first
    Counts m_counts;
};
