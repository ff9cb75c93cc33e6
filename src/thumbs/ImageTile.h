// One entry of the thumbnail view: an image file of the current folder and the tile that shows
// it. Tiles are light objects that the view places, paints and hit-tests.
#pragma once

#include "preview/PreviewWnd.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

class CImageTile {
public:
    // Stores the full path in the picture window, the part after the last "/" as the name, the
    // caption shown for it and its sort key.
    void SetPath(const QString& path);

    CPreviewWnd m_wndImage;
    QString m_strName;    // the exact name (raw bytes kept, see FileNames)
    QString m_strCaption; // the name as shown
    // The name as sorting compares it: its code page 932 bytes, which put level-1 kanji in reading
    // order and half-width kana before kanji. A name with characters that code page cannot hold
    // sorts after every other, by its UTF-8 bytes.
    QByteArray m_key;
    bool m_bKeyOutside = false;
    uint32_t m_nSize = 0; // the file size modulo 2^32
    int64_t m_time = 0;   // last write, seconds since 1970
    bool m_bSelected = false;
    bool m_bFailed = false;  // its picture could not be loaded; not tried again until relisted
    int16_t m_t = 0;         // the caption font's text height when the tile was created
    bool m_bCreated = false; // placed in the grid (a "window" exists)

    // The thumbnail engine's bookkeeping (user-interface thread only).
    uint64_t m_id = 0;       // the loader's name for this tile's picture
    size_t m_nIndex = 0;     // the position in display order
    bool m_bLoading = false; // a worker is making its picture
    bool m_bEvicted = false; // its picture was dropped to keep within the memory budget
    uint64_t m_nPainted = 0; // when it last asked for its picture by being painted
    int64_t m_nBytes = 0;    // the memory its picture holds

    bool HasPicture() const { return !m_wndImage.m_image.IsEmpty(); }
    // Waiting for a picture: none yet, none on the way, and not known to fail.
    bool WantsPicture() const { return !HasPicture() && !m_bFailed && !m_bLoading; }
};

using TileList = std::vector<std::unique_ptr<CImageTile>>;

// The sort order of two entries for the sort key (0 name, 1 extension, 2 size, 3 date) and
// direction; negative, zero or positive.
int CompareEntries(const CImageTile& a, const CImageTile& b, int sortMode, bool ascending);
// Orders the entries by a heapsort over 1-based positions, as the listing has always sorted
// them: equal keys end in the order this particular sort leaves them.
void SortTiles(TileList& tiles, int sortMode, bool ascending);
