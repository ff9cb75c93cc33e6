// The memory a large listing lives in: the tiles' pool (blocks side by side in large chunks,
// given back and handed out again, chunks returned to the system when empty, safe from several
// threads), arrays in huge pages, and the room reserved from the folder's size.
#include "platform/BlockPool.h"
#include "platform/DirList.h"
#include "platform/HugePages.h"
#include "thumbs/ImageTile.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <thread>
#include <vector>

namespace {

// Fills a block with a pattern of its own, and checks it is still there.
void Stamp(void* block, size_t size, uint8_t mark) {
    std::memset(block, mark, size);
}
bool HasStamp(const void* block, size_t size, uint8_t mark) {
    const auto* p = static_cast<const uint8_t*>(block);
    return std::all_of(p, p + size, [mark](uint8_t b) { return b == mark; });
}

} // namespace

TEST(BlockPool_, HandsOutDistinctAlignedBlocksAndTakesThemBack) {
    CBlockPool pool(200);
    EXPECT_EQ(pool.ItemSize(), 208u) << "rounded up to the alignment of operator new";
    EXPECT_GT(pool.BlocksPerChunk(), 9000u);
    std::vector<void*> blocks;
    for (int i = 0; i < 100; ++i) {
        void* b = pool.Allocate();
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 16, 0u);
        Stamp(b, pool.ItemSize(), uint8_t(i));
        blocks.push_back(b);
    }
    EXPECT_EQ(std::set<void*>(blocks.begin(), blocks.end()).size(), blocks.size());
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(HasStamp(blocks[size_t(i)], pool.ItemSize(), uint8_t(i))) << i;
    CBlockPool::Counts c = pool.Count();
    EXPECT_EQ(c.blocks, 100u);
    EXPECT_EQ(c.chunks, 1u);
    EXPECT_EQ(c.advised, 0u) << "the first chunk takes its pages one by one";
    EXPECT_EQ(c.bytes, CBlockPool::kChunk);

    // A block given back is the next one handed out; the others keep their contents.
    void* freed = blocks[50];
    pool.Free(freed);
    EXPECT_EQ(pool.Count().blocks, 99u);
    EXPECT_EQ(pool.Allocate(), freed);
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(i == 50 || HasStamp(blocks[size_t(i)], pool.ItemSize(), uint8_t(i))) << i;

    // Emptied, the one chunk stays, and fills from its start again.
    const void* first = *std::min_element(blocks.begin(), blocks.end());
    for (void* b : blocks)
        pool.Free(b);
    c = pool.Count();
    EXPECT_EQ(c.blocks, 0u);
    EXPECT_EQ(c.chunks, 1u);
    EXPECT_EQ(pool.Allocate(), first);
    pool.Free(const_cast<void*>(first));
    pool.Free(nullptr); // nothing
    EXPECT_EQ(pool.Count().blocks, 0u);
}

TEST(BlockPool_, GrowsByChunksAndReturnsThemWhenEmpty) {
    CBlockPool pool(1000);
    const size_t per = pool.BlocksPerChunk();
    ASSERT_GT(per, 0u);
    // Three chunks and a bit.
    std::vector<void*> blocks;
    for (size_t i = 0; i < 3 * per + 5; ++i)
        blocks.push_back(pool.Allocate());
    CBlockPool::Counts c = pool.Count();
    EXPECT_EQ(c.chunks, 4u);
    EXPECT_EQ(c.bytes, 4 * CBlockPool::kChunk);
    // The chunks beyond the first are advised as huge pages where the kernel takes the advice
    // (no count beyond them).
    EXPECT_LE(c.advised, 3u);
    // Every block lies in a chunk aligned to the chunk size, after its header.
    std::set<uintptr_t> chunks;
    for (void* b : blocks) {
        const auto at = reinterpret_cast<uintptr_t>(b);
        EXPECT_NE(at % CBlockPool::kChunk, 0u);
        chunks.insert(at & ~(CBlockPool::kChunk - 1));
    }
    EXPECT_EQ(chunks.size(), 4u);

    // The blocks of the second chunk go: that chunk goes back to the system, the others stay.
    std::sort(blocks.begin(), blocks.end());
    const uintptr_t second = *std::next(chunks.begin());
    std::vector<void*> rest;
    for (void* b : blocks)
        if ((reinterpret_cast<uintptr_t>(b) & ~(CBlockPool::kChunk - 1)) == second)
            pool.Free(b);
        else
            rest.push_back(b);
    c = pool.Count();
    EXPECT_EQ(c.chunks, 3u);
    EXPECT_EQ(c.blocks, rest.size());

    // Given back in a shuffled order and taken again: the freed places are used before any new
    // chunk is asked for.
    std::vector<void*> some;
    for (size_t i = 0; i < rest.size(); i += 3)
        some.push_back(rest[i]);
    for (void* b : some)
        pool.Free(b);
    std::vector<void*> again;
    for (size_t i = 0; i < some.size(); ++i)
        again.push_back(pool.Allocate());
    EXPECT_EQ(pool.Count().chunks, 3u);
    EXPECT_EQ(std::set<void*>(again.begin(), again.end()),
              std::set<void*>(some.begin(), some.end()));

    // All gone: one chunk is kept for the next listing.
    for (size_t i = 0; i < rest.size(); ++i)
        if (i % 3 != 0)
            pool.Free(rest[i]);
    for (void* b : again)
        pool.Free(b);
    c = pool.Count();
    EXPECT_EQ(c.blocks, 0u);
    EXPECT_EQ(c.chunks, 1u);
    EXPECT_EQ(c.bytes, CBlockPool::kChunk);
}

TEST(BlockPool_, RefusesWhatNoChunkHoldsAndRoundsTinyItems) {
    CBlockPool huge(CBlockPool::kChunk);
    EXPECT_EQ(huge.BlocksPerChunk(), 0u);
    EXPECT_THROW(huge.Allocate(), std::bad_alloc);
    EXPECT_EQ(huge.Count().chunks, 0u);

    // A block must hold the link to the next free one.
    CBlockPool tiny(1);
    EXPECT_GE(tiny.ItemSize(), sizeof(void*));
    void* a = tiny.Allocate();
    void* b = tiny.Allocate();
    EXPECT_GE(std::abs(static_cast<char*>(b) - static_cast<char*>(a)), 16);
    tiny.Free(a);
    tiny.Free(b);
}

TEST(BlockPool_, SeveralThreadsAtOnceNeverShareABlock) {
    CBlockPool pool(48);
    constexpr int kThreads = 4, kRounds = 20000;
    std::vector<std::thread> threads;
    std::vector<int> faults(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            std::vector<void*> mine;
            for (int i = 0; i < kRounds; ++i) {
                void* b = pool.Allocate();
                Stamp(b, pool.ItemSize(), uint8_t(t + 1));
                mine.push_back(b);
                if (i % 3 == 2) {
                    // Give one back now and then, from the middle.
                    const size_t k = size_t(i) % mine.size();
                    faults[size_t(t)] += HasStamp(mine[k], pool.ItemSize(), uint8_t(t + 1)) ? 0 : 1;
                    pool.Free(mine[k]);
                    mine.erase(mine.begin() + std::ptrdiff_t(k));
                }
            }
            for (void* b : mine) {
                faults[size_t(t)] += HasStamp(b, pool.ItemSize(), uint8_t(t + 1)) ? 0 : 1;
                pool.Free(b);
            }
        });
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(faults[size_t(t)], 0) << "thread " << t;
    EXPECT_EQ(pool.Count().blocks, 0u);
    EXPECT_EQ(pool.Count().chunks, 1u);
}

TEST(BlockPool_, TilesComeFromThePool) {
    const size_t before = CImageTile::PoolBytes();
    std::vector<std::unique_ptr<CImageTile>> tiles;
    for (int i = 0; i < 30000; ++i) {
        tiles.push_back(std::make_unique<CImageTile>());
        tiles.back()->SetName("/d/", QString::number(i) + ".jpg");
    }
    for (int i = 0; i < 30000; i += 997)
        ASSERT_EQ(tiles[size_t(i)]->Path(), "/d/" + QString::number(i) + ".jpg");
#if defined(__SANITIZE_ADDRESS__)
    // Under the address sanitizer tiles come from the general heap, where it watches them.
    EXPECT_EQ(CImageTile::PoolBytes(), 0u);
#else
    EXPECT_GE(CImageTile::PoolBytes(), before + 2 * CBlockPool::kChunk);
#endif
    tiles.clear();
    EXPECT_LE(CImageTile::PoolBytes(), std::max(before, CBlockPool::kChunk));
}

// ---- arrays in huge pages ----------------------------------------------------------------------

TEST(HugePages_, LargeArraysGetPagesOfTheirOwnSmallOnesTheHeap) {
    const size_t before = HugePages::BytesHeld();
    // Small: the general heap, nothing held apart.
    void* small = HugePages::Allocate(1000);
    ASSERT_NE(small, nullptr);
    std::memset(small, 0x5A, 1000);
    EXPECT_EQ(HugePages::BytesHeld(), before);
    HugePages::Free(small, 1000);

    // Large: whole huge pages, aligned to them, written end to end.
    const size_t size = HugePages::kPage * 2 + 123;
    auto* big = static_cast<uint8_t*>(HugePages::Allocate(size));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % 16, 0u);
    for (size_t i = 0; i < size; i += 4096)
        big[i] = uint8_t(i >> 12);
    big[size - 1] = 0xEE;
    for (size_t i = 0; i < size; i += 4096)
        ASSERT_EQ(big[i], uint8_t(i >> 12)) << i;
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(HugePages::BytesHeld(), before);
#else
    EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % HugePages::kPage, 0u);
    EXPECT_EQ(HugePages::BytesHeld(), before + 3 * HugePages::kPage);
#endif
    HugePages::Free(big, size);
    EXPECT_EQ(HugePages::BytesHeld(), before);
    HugePages::Free(nullptr, size); // nothing
}

TEST(HugePages_, AVectorGrowsShrinksAndMovesWithIt) {
    const size_t before = HugePages::BytesHeld();
    {
        std::vector<uint64_t, HugePages::Allocator<uint64_t>> v;
        for (uint64_t i = 0; i < 1000000; ++i)
            v.push_back(i * 7);
        for (uint64_t i = 0; i < v.size(); i += 9973)
            ASSERT_EQ(v[size_t(i)], i * 7);
        // Moved, not copied: the same memory.
        const uint64_t* data = v.data();
        auto w = std::move(v);
        EXPECT_EQ(w.data(), data);
        EXPECT_EQ(w.size(), 1000000u);
        w.resize(10);
        w.shrink_to_fit();
        EXPECT_EQ(w.back(), 63u);
    }
    EXPECT_EQ(HugePages::BytesHeld(), before) << "everything given back";
}

TEST(DirList_, EntriesHintLeavesRoomForTheFolder) {
    QTemporaryDir dir;
    const QString path = dir.path();
    for (int i = 0; i < 3000; ++i) {
        QFile f(path + QString("/name-of-some-length-%1.jpg").arg(i));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    // On the file systems tests run on (ext4, tmpfs) the folder's size grows with its entries.
    const size_t hint = DirList::EntriesHint(path);
    EXPECT_GE(hint, 1000u);
    EXPECT_LE(hint, size_t(1) << 24);
    EXPECT_EQ(DirList::EntriesHint(path + "/missing"), 0u);
    EXPECT_EQ(DirList::EntriesHint(path + "/name-of-some-length-1.jpg"), 0u) << "a file";
}
