// One entry of the thumbnail view: an image file of the current folder and the tile that shows
// it. Tiles are light objects that the view places, paints and hit-tests.
#pragma once

#include "platform/HugePages.h"
#include "preview/PreviewWnd.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class CImageTile {
public:
    // Tiles come from a pool of their own: a large folder makes one per file, and they then lie
    // side by side in huge pages instead of costing an allocation and page faults apiece.
    static void* operator new(size_t size);
    static void operator delete(void* p, size_t size) noexcept;
    // The memory the pool holds for tiles (it is not part of the general heap).
    static size_t PoolBytes();

    // Stores the folder (with its final "/") and the name after the last "/", with the name's
    // sort key.
    void SetPath(const QString& path);
    // The same for a name of a folder given apart: tiles of one listing share its folder's text.
    void SetName(const QString& dirWithSlash, const QString& name);
    // The full path.
    QString Path() const { return m_strDir + m_strName; }
    // The name as shown.
    QString Caption() const;

    CPreviewWnd m_wndImage;
    QString m_strDir;  // the folder, ending in "/" (shared by the tiles of a listing)
    QString m_strName; // the exact name (raw bytes kept, see FileNames)
    // The name as sorting compares it: its code page 932 bytes, which put level-1 kanji in reading
    // order and half-width kana before kanji. A name with characters that code page cannot hold
    // sorts after every other, by its UTF-8 bytes.
    QByteArray m_key;
    int64_t m_time = 0;   // last write, seconds since 1970
    uint32_t m_nSize = 0; // the file size modulo 2^32
    // While the size and date are still being looked up: the name's place in that lookup.
    static constexpr uint32_t kStated = UINT32_MAX;
    uint32_t m_nStatSlot = kStated;
    bool StatPending() const { return m_nStatSlot != kStated; }
    // False while the size and date have not been read at all (a listing by names alone).
    bool m_bStated = true;
    // Its place in an order by size or date waits for its size and date: it stands at the end.
    bool m_bUnplaced = false;
    bool m_bKeyOutside = false;
    bool m_bSelected = false;
    bool m_bFailed = false;  // its picture could not be loaded; not tried again until relisted
    bool m_bCreated = false; // placed in the grid (a "window" exists)
    int16_t m_t = 0;         // the caption font's text height when the tile was created

    // The thumbnail engine's bookkeeping (user-interface thread only).
    bool m_bLoading = false; // a worker is making its picture
    bool m_bEvicted = false; // its picture was dropped to keep within the memory budget
    uint64_t m_id = 0;       // the loader's name for this tile's picture
    size_t m_nIndex = 0;     // the position in display order
    uint64_t m_nPainted = 0; // when it last asked for its picture by being painted
    int64_t m_nBytes = 0;    // the memory its picture holds

    bool HasPicture() const { return !m_wndImage.m_image.IsEmpty(); }
    // Waiting for a picture: none yet, none on the way, and not known to fail.
    bool WantsPicture() const { return !HasPicture() && !m_bFailed && !m_bLoading; }

private:
    void MakeKey();
};

// The list of a folder's tiles; a large folder's list lies in huge pages of its own.
using TileList =
    std::vector<std::unique_ptr<CImageTile>, HugePages::Allocator<std::unique_ptr<CImageTile>>>;

// Tiles by place, as a lookup of a large folder's sizes and dates holds them.
using TilePointers = std::vector<CImageTile*, HugePages::Allocator<CImageTile*>>;

// The sort order of two entries for the sort key (0 name, 1 extension, 2 size, 3 date) and
// direction; negative, zero or positive.
int CompareEntries(const CImageTile& a, const CImageTile& b, int sortMode, bool ascending);
// Orders the entries by a heapsort over 1-based positions, as the listing has always sorted
// them: equal keys end in the order this particular sort leaves them.
void SortTiles(TileList& tiles, int sortMode, bool ascending);

// The same order, found apart from the tiles: taken from them (their keys, sizes and dates
// copied), sorted on any thread, then applied to the same list, unchanged meanwhile.
class CTileOrder {
public:
    CTileOrder(const TileList& tiles, int sortMode, bool ascending);
    ~CTileOrder();
    void Sort();
    void Apply(TileList& tiles) const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::vector<uint32_t, HugePages::Allocator<uint32_t>> m_order;
};
