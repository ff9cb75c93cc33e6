#include "file/Shrink.h"

#include <QTransform>
#include <algorithm>

namespace ik {

namespace {

// The sums of one row of blocks: red, green, blue and alpha of each output pixel. With alpha the
// colours are summed multiplied by their alpha, so that transparent pixels give no colour.
thread_local std::vector<uint64_t> t_sums;
// A palette as separate channels (colours multiplied by alpha when the picture has alpha).
struct Lut {
    const QVector<QRgb>* table = nullptr;
    uint32_t r[256], g[256], b[256], a[256];
};
thread_local Lut t_lut;
// Where each output column's block starts in a source row, and where the last one ends.
thread_local std::vector<int> t_columns;

} // namespace

int ShrinkFactor(int64_t w, int64_t h, int minWidth, int minHeight) {
    if (minWidth <= 0 || minHeight <= 0 || w <= 0 || h <= 0)
        return 1;
    const int64_t k = std::min(w / minWidth, h / minHeight);
    return int(std::clamp<int64_t>(k, 1, kMaxShrink));
}

bool Shrinker::Start(int w, int h, int factor, bool alpha, bool trueColour32) {
    m_w = w;
    m_h = h;
    m_k = std::clamp(factor, 1, kMaxShrink);
    m_alpha = alpha;
    // Whole blocks: the picture is divided evenly, each output pixel covering factor or a few
    // more source pixels a side, so that the reduced picture keeps the geometry of the full one.
    m_outW = std::max(1, w / m_k);
    const int outH = std::max(1, h / m_k);
    m_outH = outH;
    t_columns.resize(size_t(m_outW) + 1);
    for (int x = 0; x <= m_outW; ++x)
        t_columns[size_t(x)] = int(int64_t(x) * w / m_outW);
    m_rowsIn = m_rowsInBlock = m_outY = 0;
    m_rowEnd = RowEnd(0);
    m_out = Image();
    const QImage::Format f = alpha          ? QImage::Format_ARGB32
                             : trueColour32 ? QImage::Format_RGB32
                                            : QImage::Format_RGB888;
    m_out.img = QImage(m_outW, outH, f);
    if (m_out.img.isNull())
        return false;
    m_out.img.fill(alpha ? Qt::transparent : Qt::black);
    m_out.bpp = f == QImage::Format_RGB888 ? 24 : 32;
    t_sums.assign(size_t(m_outW) * 4, 0);
    t_lut.table = nullptr;
    return true;
}

void Shrinker::AddRow(const uchar* p, RowLayout layout, int samples, const QVector<QRgb>* table) {
    if (m_rowsIn >= m_h)
        return;
    uint64_t* acc = t_sums.data();
    const int* cols = t_columns.data();
    int x = 0;
    switch (layout) {
    case RowLayout::Indexed: {
        Lut& lut = t_lut;
        if (lut.table != table) {
            lut.table = table;
            const int n = table ? int(std::min<qsizetype>(table->size(), 256)) : 0;
            for (int i = 0; i < 256; ++i) {
                const QRgb c = i < n ? table->at(i) : qRgb(0, 0, 0);
                const uint32_t a = m_alpha ? uint32_t(qAlpha(c)) : 255;
                const uint32_t m = m_alpha ? a : 1;
                lut.r[i] = uint32_t(qRed(c)) * m;
                lut.g[i] = uint32_t(qGreen(c)) * m;
                lut.b[i] = uint32_t(qBlue(c)) * m;
                lut.a[i] = a;
            }
        }
        for (int ox = 0; ox < m_outW; ++ox, acc += 4) {
            const int end = cols[ox + 1];
            uint32_t r = 0, g = 0, b = 0, a = 0;
            for (; x < end; ++x) {
                const uchar i = p[x];
                r += lut.r[i];
                g += lut.g[i];
                b += lut.b[i];
                a += lut.a[i];
            }
            acc[0] += r;
            acc[1] += g;
            acc[2] += b;
            acc[3] += a;
        }
        break;
    }
    case RowLayout::Rgb:
        for (int ox = 0; ox < m_outW; ++ox, acc += 4) {
            const int end = cols[ox + 1];
            uint32_t r = 0, g = 0, b = 0;
            for (; x < end; ++x, p += samples) {
                r += p[0];
                g += p[1];
                b += p[2];
            }
            // Opaque: with alpha the colours count times 255.
            const uint64_t m = m_alpha ? 255u : 1u;
            acc[0] += r * m;
            acc[1] += g * m;
            acc[2] += b * m;
            acc[3] += 255u * uint32_t(end - cols[ox]);
        }
        break;
    case RowLayout::Rgba:
    case RowLayout::RgbaPremultiplied:
    case RowLayout::GreyAlpha: {
        const bool grey = layout == RowLayout::GreyAlpha;
        const bool pre = layout == RowLayout::RgbaPremultiplied;
        const int ai = grey ? 1 : 3, gi = grey ? 0 : 1, bi = grey ? 0 : 2;
        for (int ox = 0; ox < m_outW; ++ox, acc += 4) {
            const int end = cols[ox + 1];
            uint64_t r = 0, g = 0, b = 0, a = 0;
            for (; x < end; ++x, p += samples) {
                const uint32_t al = p[ai];
                if (!m_alpha) {
                    r += p[0];
                    g += p[gi];
                    b += p[bi];
                } else if (pre) { // premultiplied: c × 255 stands for the colour × alpha
                    r += uint32_t(std::min(p[0], p[ai])) * 255u;
                    g += uint32_t(std::min(p[gi], p[ai])) * 255u;
                    b += uint32_t(std::min(p[bi], p[ai])) * 255u;
                } else {
                    r += p[0] * al;
                    g += p[gi] * al;
                    b += p[bi] * al;
                }
                a += m_alpha ? al : 255u;
            }
            acc[0] += r;
            acc[1] += g;
            acc[2] += b;
            acc[3] += a;
        }
        break;
    }
    case RowLayout::Argb32: {
        const QRgb* px = reinterpret_cast<const QRgb*>(p);
        for (int ox = 0; ox < m_outW; ++ox, acc += 4) {
            const int end = cols[ox + 1];
            uint64_t r = 0, g = 0, b = 0, a = 0;
            for (; x < end; ++x) {
                const QRgb c = px[x];
                const uint32_t al = m_alpha ? uint32_t(qAlpha(c)) : 255u;
                const uint32_t m = m_alpha ? al : 1u;
                r += uint32_t(qRed(c)) * m;
                g += uint32_t(qGreen(c)) * m;
                b += uint32_t(qBlue(c)) * m;
                a += al;
            }
            acc[0] += r;
            acc[1] += g;
            acc[2] += b;
            acc[3] += a;
        }
        break;
    }
    }
    ++m_rowsIn;
    ++m_rowsInBlock;
    if (m_rowsIn >= m_rowEnd)
        Emit();
}

void Shrinker::Emit() {
    if (m_outY >= m_out.img.height() || m_rowsInBlock == 0)
        return;
    uint64_t* acc = t_sums.data();
    uchar* line = m_out.img.scanLine(m_outY);
    QRgb* px = reinterpret_cast<QRgb*>(line);
    const bool rgb888 = m_out.img.format() == QImage::Format_RGB888;
    for (int ox = 0; ox < m_outW; ++ox, acc += 4) {
        const uint64_t n =
            uint64_t(t_columns[size_t(ox) + 1] - t_columns[size_t(ox)]) * uint64_t(m_rowsInBlock);
        int r, g, b, a = 255;
        if (m_alpha) {
            // The colours were summed times alpha: divided by the sum of alpha they are the
            // average colour of what is visible.
            const uint64_t sa = acc[3];
            a = int((sa + n / 2) / n);
            r = sa ? int((acc[0] + sa / 2) / sa) : 0;
            g = sa ? int((acc[1] + sa / 2) / sa) : 0;
            b = sa ? int((acc[2] + sa / 2) / sa) : 0;
        } else {
            r = int((acc[0] + n / 2) / n);
            g = int((acc[1] + n / 2) / n);
            b = int((acc[2] + n / 2) / n);
        }
        if (rgb888) {
            line[3 * ox] = uchar(r);
            line[3 * ox + 1] = uchar(g);
            line[3 * ox + 2] = uchar(b);
        } else {
            px[ox] = qRgba(std::min(r, 255), std::min(g, 255), std::min(b, 255), a);
        }
        acc[0] = acc[1] = acc[2] = acc[3] = 0;
    }
    m_rowsInBlock = 0;
    ++m_outY;
    m_rowEnd = RowEnd(m_outY);
}

void Shrinker::FillMissing() {
    if (m_rowsIn >= m_h)
        return;
    const uchar grey = uchar(qGray(kMissingGrey));
    std::vector<uchar> row(size_t(m_w) * 3, grey);
    // Whole blocks of grey need no sums: only the block under way is finished with grey rows.
    while (m_rowsIn < m_h && m_rowsInBlock != 0)
        AddRow(row.data(), RowLayout::Rgb, 3);
    const QRgb fill = kMissingGrey;
    for (int y = m_outY; y < m_out.img.height(); ++y) {
        if (m_out.img.format() == QImage::Format_RGB888) {
            std::memset(m_out.img.scanLine(y), grey, size_t(m_outW) * 3);
        } else {
            QRgb* px = reinterpret_cast<QRgb*>(m_out.img.scanLine(y));
            std::fill(px, px + m_outW, fill);
        }
    }
    m_outY = m_out.img.height();
    m_rowsIn = m_h;
}

Image Shrinker::Finish() {
    if (m_rowsInBlock > 0)
        Emit();
    // A long-lived worker keeps its sums, unless a very wide picture made them large.
    if (t_sums.capacity() > (size_t(1) << 20))
        std::vector<uint64_t>().swap(t_sums);
    t_lut.table = nullptr;
    return std::move(m_out);
}

Image ShrinkImage(const Image& src, int factor) {
    const QImage& img = src.img;
    RowLayout layout;
    int samples = 0;
    switch (img.format()) {
    case QImage::Format_Indexed8:
        layout = RowLayout::Indexed;
        break;
    case QImage::Format_RGB888:
        layout = RowLayout::Rgb;
        samples = 3;
        break;
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
        layout = RowLayout::Argb32;
        break;
    default:
        return src;
    }
    if (factor < 2)
        return src;
    const bool alpha = img.hasAlphaChannel();
    Shrinker s;
    // Palette pictures come back true colour at 32 bits, as resizing makes them.
    if (!s.Start(img.width(), img.height(), factor, alpha, src.bpp != 24))
        return src;
    const QVector<QRgb> table = img.colorTable();
    for (int y = 0; y < img.height(); ++y)
        s.AddRow(img.constScanLine(y), layout, samples, &table);
    return s.Finish();
}

QImage Oriented(const QImage& img, int orientation) {
    // Each orientation as what is done to the stored picture to view it: a mirror left to right
    // first, then a turn clockwise by a multiple of 90 degrees.
    static const struct {
        bool mirror;
        int degrees;
    } steps[9] = {{false, 0},  {false, 0},  {true, 0},  {false, 180}, {true, 180},
                  {true, 270}, {false, 90}, {true, 90}, {false, 270}};
    if (orientation <= IK_ORIENT_NORMAL || orientation > IK_ORIENT_ROTATE_270)
        return img;
    const auto& step = steps[orientation];
    QImage out = step.mirror ? img.mirrored(true, false) : img;
    if (step.degrees != 0 && !out.isNull())
        out = out.transformed(QTransform().rotate(step.degrees));
    return out;
}

} // namespace ik
