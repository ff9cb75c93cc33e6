#include "thumbs/ImageTile.h"

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

} // namespace

void CImageTile::SetPath(const QString& path) {
    m_wndImage.m_strPath = path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return;
    m_strName = path.mid(slash + 1);
    m_key = m_strName.toUtf8();
}

int CompareEntries(const CImageTile& a, const CImageTile& b, int sortMode, bool ascending) {
    int r = 0;
    switch (sortMode) {
    case 0:
        r = CompareText(a.m_key, b.m_key);
        break;
    case 1: {
        r = CompareText(Extension(a.m_key), Extension(b.m_key));
        if (r == 0)
            r = CompareText(a.m_key, b.m_key);
        break;
    }
    case 2:
        r = a.m_nSize == b.m_nSize ? CompareText(a.m_key, b.m_key)
                                   : int32_t(a.m_nSize - b.m_nSize); // as a signed 32-bit value
        break;
    case 3:
        r = a.m_time == b.m_time ? CompareText(a.m_key, b.m_key) : (a.m_time < b.m_time ? -1 : 1);
        break;
    default:
        r = 0;
        break;
    }
    const int sign = r < 0 ? -1 : r > 0 ? 1 : 0;
    return ascending ? sign : -sign;
}

void SortTiles(std::vector<CImageTile*>& tiles, int sortMode, bool ascending) {
    // Position p (1-based) is element p - 1.
    auto at = [&](size_t p) -> CImageTile*& { return tiles[p - 1]; };
    auto cmp = [&](const CImageTile* a, const CImageTile* b) {
        return CompareEntries(*a, *b, sortMode, ascending);
    };
    size_t n = tiles.size();
    auto siftDown = [&](CImageTile* v, size_t i) {
        size_t j = 2 * i;
        while (j <= n) {
            if (j < n && cmp(at(j), at(j + 1)) < 0)
                ++j;
            if (cmp(v, at(j)) >= 0)
                break;
            at(i) = at(j);
            i = j;
            j = 2 * j;
        }
        at(i) = v;
    };
    for (size_t k = n / 2; k >= 1; --k)
        siftDown(at(k), k);
    while (n > 1) {
        CImageTile* v = at(n);
        at(n) = at(1);
        --n;
        siftDown(v, 1);
    }
}
