#include "thumbs/ImageTile.h"

#include "platform/FileNames.h"

namespace {

// Byte-wise comparison, case-insensitive for the letters A to Z only.
int CompareText(const QByteArray& a, const QByteArray& b) {
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        int x = uchar(a[i]), y = uchar(b[i]);
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y)
            return x - y;
    }
    return int(a.size() > n) - int(b.size() > n);
}

QByteArray Extension(const QByteArray& name) {
    const qsizetype dot = name.lastIndexOf('.');
    return dot < 0 ? QByteArray() : name.mid(dot + 1);
}

// The names' code page 932 bytes; the listing runs on one thread, which keeps one converter.
FileNames::CCp932Encoder& Encoder() {
    static FileNames::CCp932Encoder encoder;
    return encoder;
}

} // namespace

void CImageTile::SetPath(const QString& path) {
    m_wndImage.m_strPath = path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return;
    m_strName = path.mid(slash + 1);
    m_strCaption = FileNames::Display(m_strName);
    if (FileNames::HasRawBytes(m_strName)) {
        // Bytes that are not UTF-8 are taken for what they most likely are: code page 932.
        m_key = FileNames::ToNative(m_strName);
        m_bKeyOutside = false;
    } else if (std::optional<QByteArray> cp932 = Encoder().Encode(m_strName)) {
        m_key = std::move(*cp932);
        m_bKeyOutside = false;
    } else {
        m_key = m_strName.toUtf8();
        m_bKeyOutside = true;
    }
}

namespace {

// Names: those that code page 932 holds first, then the others.
int CompareNames(const CImageTile& a, const CImageTile& b) {
    if (a.m_bKeyOutside != b.m_bKeyOutside)
        return a.m_bKeyOutside ? 1 : -1;
    return CompareText(a.m_key, b.m_key);
}

} // namespace

int CompareEntries(const CImageTile& a, const CImageTile& b, int sortMode, bool ascending) {
    int r = 0;
    switch (sortMode) {
    case 0:
        r = CompareNames(a, b);
        break;
    case 1: {
        r = CompareText(Extension(a.m_key), Extension(b.m_key));
        if (r == 0)
            r = CompareNames(a, b);
        break;
    }
    case 2:
        r = a.m_nSize == b.m_nSize ? CompareNames(a, b)
                                   : int32_t(a.m_nSize - b.m_nSize); // as a signed 32-bit value
        break;
    case 3:
        r = a.m_time == b.m_time ? CompareNames(a, b) : (a.m_time < b.m_time ? -1 : 1);
        break;
    default:
        r = 0;
        break;
    }
    const int sign = r < 0 ? -1 : r > 0 ? 1 : 0;
    return ascending ? sign : -sign;
}

void SortTiles(TileList& tiles, int sortMode, bool ascending) {
    // Position p (1-based) is element p - 1.
    auto at = [&](size_t p) -> std::unique_ptr<CImageTile>& { return tiles[p - 1]; };
    auto cmp = [&](const CImageTile& a, const CImageTile& b) {
        return CompareEntries(a, b, sortMode, ascending);
    };
    size_t n = tiles.size();
    auto siftDown = [&](std::unique_ptr<CImageTile> v, size_t i) {
        size_t j = 2 * i;
        while (j <= n) {
            if (j < n && cmp(*at(j), *at(j + 1)) < 0)
                ++j;
            if (cmp(*v, *at(j)) >= 0)
                break;
            at(i) = std::move(at(j));
            i = j;
            j = 2 * j;
        }
        at(i) = std::move(v);
    };
    for (size_t k = n / 2; k >= 1; --k)
        siftDown(std::move(at(k)), k);
    while (n > 1) {
        std::unique_ptr<CImageTile> v = std::move(at(n));
        at(n) = std::move(at(1));
        --n;
        siftDown(std::move(v), 1);
    }
}
