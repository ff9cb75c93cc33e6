#include "thumbs/ImageTile.h"

#include "platform/BlockPool.h"
#include "platform/FileNames.h"

#include <algorithm>
#include <cstring>

namespace {

// A sort key's bytes: the tile's code page 932 bytes (m_key), or, when m_key is empty, the
// characters of a plain ASCII name, which are its bytes: most names cost no key of their own.
struct KeyRef {
    const char* bytes = nullptr;
    const char16_t* ascii = nullptr;
    qsizetype size = 0;
    uchar At(qsizetype i) const { return bytes ? uchar(bytes[i]) : uchar(ascii[i]); }
    // The text after the last ".", "" when there is none.
    KeyRef Extension() const {
        qsizetype dot = size;
        while (dot-- > 0)
            if (At(dot) == '.')
                break;
        KeyRef ext = *this;
        if (dot < 0) {
            ext.size = 0;
        } else if (bytes) {
            ext.bytes += dot + 1;
            ext.size -= dot + 1;
        } else {
            ext.ascii += dot + 1;
            ext.size -= dot + 1;
        }
        return ext;
    }
};

KeyRef KeyOf(const CImageTile& t) {
    KeyRef k;
    if (t.m_key.isEmpty()) {
        k.ascii = reinterpret_cast<const char16_t*>(t.m_strName.utf16());
        k.size = t.m_strName.size();
    } else {
        k.bytes = t.m_key.constData();
        k.size = t.m_key.size();
    }
    return k;
}

uchar Fold(uchar c) {
    return c >= 'A' && c <= 'Z' ? uchar(c + ('a' - 'A')) : c;
}

// Byte-wise comparison, case-insensitive for the letters A to Z only.
int CompareText(const KeyRef& a, const KeyRef& b) {
    const qsizetype n = std::min(a.size, b.size);
    for (qsizetype i = 0; i < n; ++i) {
        const int x = Fold(a.At(i)), y = Fold(b.At(i));
        if (x != y)
            return x - y;
    }
    return int(a.size > n) - int(b.size > n);
}

// The names' code page 932 bytes; the listing runs on one thread, which keeps one converter.
FileNames::CCp932Encoder& Encoder() {
    static FileNames::CCp932Encoder encoder;
    return encoder;
}

// Never destroyed: a tile may outlive the objects of static storage (the pool's chunks go back to
// the system at exit).
CBlockPool& TilePool() {
    static CBlockPool* pool = new CBlockPool(sizeof(CImageTile));
    return *pool;
}

// The address sanitizer watches the general heap for tiles used after they were deleted; a pool
// would hand a deleted tile's block out again at once.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif

} // namespace

void* CImageTile::operator new(size_t size) {
    if (kPooled && size == sizeof(CImageTile))
        return TilePool().Allocate();
    return ::operator new(size);
}

void CImageTile::operator delete(void* p, size_t size) noexcept {
    if (kPooled && size == sizeof(CImageTile))
        TilePool().Free(p);
    else
        ::operator delete(p);
}

size_t CImageTile::PoolBytes() {
    return kPooled ? TilePool().Count().bytes : 0;
}

void CImageTile::SetPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    m_strDir = path.left(slash + 1);
    m_strName = path.mid(slash + 1);
    MakeKey();
}

void CImageTile::SetName(const QString& dirWithSlash, const QString& name) {
    m_strDir = dirWithSlash;
    m_strName = name;
    MakeKey();
}

QString CImageTile::Caption() const {
    return FileNames::Display(m_strName);
}

void CImageTile::MakeKey() {
    bool ascii = true;
    for (QChar c : m_strName)
        ascii = ascii && c.unicode() < 0x80;
    if (ascii) {
        m_key.clear(); // the characters are the bytes
        m_bKeyOutside = false;
    } else if (FileNames::HasRawBytes(m_strName)) {
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
    return CompareText(KeyOf(a), KeyOf(b));
}

} // namespace

int CompareEntries(const CImageTile& a, const CImageTile& b, int sortMode, bool ascending) {
    int r = 0;
    switch (sortMode) {
    case 0:
        r = CompareNames(a, b);
        break;
    case 1: {
        r = CompareText(KeyOf(a).Extension(), KeyOf(b).Extension());
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

namespace {

// One entry as the heap holds it: its key folded into a shared buffer, the first 8 bytes of it
// (or of its extension, or its size or time) in an integer that orders them the same way.
struct SortItem {
    uint64_t lead;   // big-endian folded bytes, zero-padded; or the size or time, biased
    uint32_t offset; // of the folded key in the buffer
    uint32_t size;
    uint32_t index; // the tile's position before sorting
    uint16_t ext;   // where the extension starts in the key (size when there is none)
    uint8_t outside;
};

uint64_t Lead(const uchar* p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i)
        v = (v << 8) | (i < n ? p[i] : 0);
    return v;
}

class Sorter {
public:
    Sorter(const TileList& tiles, int mode, bool ascending)
        : m_mode(mode), m_sign(ascending ? 1 : -1) {
        const size_t n = tiles.size();
        m_items.resize(n);
        if (mode == 2 || mode == 3)
            m_values.resize(n);
        // One walk over the tiles (a large folder's do not stay in the cache between two): the
        // keys' room is reserved for a typical name and grows where names are longer.
        m_text.reserve(n * kTypicalKey);
        size_t at = 0;
        for (size_t i = 0; i < n; ++i) {
            const CImageTile& t = *tiles[i];
            const KeyRef k = KeyOf(t);
            m_text.resize(at + size_t(k.size));
            SortItem& item = m_items[i];
            item.offset = uint32_t(at);
            item.size = uint32_t(k.size);
            item.index = uint32_t(i);
            item.outside = t.m_bKeyOutside ? 1 : 0;
            for (qsizetype j = 0; j < k.size; ++j)
                m_text[at + size_t(j)] = Fold(k.At(j));
            const KeyRef ext = k.Extension();
            item.ext = uint16_t(std::min<qsizetype>(k.size - ext.size, 0xFFFF));
            at += size_t(k.size);
            if (mode == 2)
                m_values[i] = int64_t(t.m_nSize);
            else if (mode == 3)
                m_values[i] = t.m_time;
        }
        // The bytes every key starts with decide nothing: the names of a folder often share
        // their first ones ("IMG_0", "DSC0"), and the leading integer holds the bytes after them.
        m_skip = n > 0 ? m_items[0].size : 0;
        for (size_t i = 1; i < n && m_skip > 0; ++i) {
            const uchar* a = Text(m_items[0]);
            const uchar* b = Text(m_items[i]);
            const size_t limit = std::min<size_t>(m_skip, m_items[i].size);
            size_t same = 0;
            while (same < limit && a[same] == b[same])
                ++same;
            m_skip = same;
        }
        for (SortItem& item : m_items) {
            if (mode == 1)
                item.lead = Lead(Text(item) + item.ext, item.size - item.ext);
            else
                item.lead = Lead(Text(item) + m_skip, item.size - m_skip);
        }
    }

    // The same sign as CompareEntries gives for the two tiles.
    int Compare(const SortItem& a, const SortItem& b) const {
        int r = 0;
        switch (m_mode) {
        case 0:
            r = Names(a, b);
            break;
        case 1:
            r = a.lead != b.lead
                    ? (a.lead < b.lead ? -1 : 1)
                    : Bytes(Text(a) + a.ext, a.size - a.ext, Text(b) + b.ext, b.size - b.ext);
            if (r == 0)
                r = Names(a, b);
            break;
        case 2: {
            const auto x = uint32_t(m_values[a.index]), y = uint32_t(m_values[b.index]);
            r = x == y ? Names(a, b) : int32_t(x - y); // as a signed 32-bit value
            break;
        }
        case 3: {
            const int64_t x = m_values[a.index], y = m_values[b.index];
            r = x == y ? Names(a, b) : (x < y ? -1 : 1);
            break;
        }
        default:
            break;
        }
        const int sign = r < 0 ? -1 : r > 0 ? 1 : 0;
        return sign * m_sign;
    }

    std::vector<SortItem, HugePages::Allocator<SortItem>> m_items;

private:
    const uchar* Text(const SortItem& item) const { return m_text.data() + item.offset; }
    static int Bytes(const uchar* a, size_t na, const uchar* b, size_t nb) {
        const size_t n = std::min(na, nb);
        const int r = n ? std::memcmp(a, b, n) : 0;
        return r != 0 ? r : int(na > n) - int(nb > n);
    }
    int Names(const SortItem& a, const SortItem& b) const {
        if (a.outside != b.outside)
            return a.outside ? 1 : -1;
        if (m_mode != 1 && a.lead != b.lead)
            return a.lead < b.lead ? -1 : 1;
        return Bytes(Text(a) + m_skip, a.size - m_skip, Text(b) + m_skip, b.size - m_skip);
    }

    static constexpr size_t kTypicalKey = 16;
    int m_mode;
    int m_sign;
    size_t m_skip = 0; // the length of the start all keys share
    std::vector<uchar, HugePages::Allocator<uchar>> m_text;
    std::vector<int64_t, HugePages::Allocator<int64_t>> m_values;
};

} // namespace

struct CTileOrder::Impl {
    Impl(const TileList& tiles, int mode, bool ascending) : sorter(tiles, mode, ascending) {}
    Sorter sorter;
};

CTileOrder::CTileOrder(const TileList& tiles, int sortMode, bool ascending)
    : m_impl(std::make_unique<Impl>(tiles, sortMode, ascending)) {}

CTileOrder::~CTileOrder() = default;

// The heap holds compact copies of the keys (case folded, side by side), not the tiles, so that a
// large folder sorts without a walk through memory for every comparison; the comparisons, and so
// the order equal keys end in, are those of the heapsort over the tiles.
void CTileOrder::Sort() {
    const Sorter& sorter = m_impl->sorter;
    auto& items = m_impl->sorter.m_items;
    m_order.clear();
    m_order.reserve(items.size());
    // Where no two keys are equal there is one order, whichever sort finds it: a quicker one
    // than the heapsort, whose only mark is the order it leaves equal keys in. Equal keys (names
    // that differ only in case) are looked for afterwards; only then does the heapsort run, from
    // the listing's order again.
    std::sort(items.begin(), items.end(), [&](const SortItem& a, const SortItem& b) {
        const int r = sorter.Compare(a, b);
        return r != 0 ? r < 0 : a.index < b.index;
    });
    bool equal = false;
    for (size_t i = 1; i < items.size() && !equal; ++i)
        equal = sorter.Compare(items[i - 1], items[i]) == 0;
    if (!equal) {
        for (const SortItem& item : items)
            m_order.push_back(item.index);
        return;
    }
    {
        std::vector<SortItem, HugePages::Allocator<SortItem>> listed(items.size());
        for (const SortItem& item : items)
            listed[item.index] = item;
        items.swap(listed);
    }
    // Position p (1-based) is element p - 1.
    auto at = [&](size_t p) -> SortItem& { return items[p - 1]; };
    auto cmp = [&](const SortItem& a, const SortItem& b) { return sorter.Compare(a, b); };
    size_t n = items.size();
    auto siftDown = [&](SortItem v, size_t i) {
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
        const SortItem v = at(n);
        at(n) = at(1);
        --n;
        siftDown(v, 1);
    }
    for (const SortItem& item : items)
        m_order.push_back(item.index);
}

void CTileOrder::Apply(TileList& tiles) const {
    TileList sorted;
    sorted.reserve(tiles.size());
    for (const uint32_t i : m_order)
        sorted.push_back(std::move(tiles[i]));
    tiles = std::move(sorted);
}

void SortTiles(TileList& tiles, int sortMode, bool ascending) {
    CTileOrder order(tiles, sortMode, ascending);
    order.Sort();
    order.Apply(tiles);
}
