// Reduction while decoding: a picture shrunk by a whole factor as its rows arrive, each block of
// about factor × factor pixels becoming their average, so that a thumbnail never needs the
// full-size picture in memory. The decoders feed it rows in the layout they decode to; the buffers
// live as long as the thread (a worker decoding one file after another allocates them once).
#pragma once

#include "file/Formats.h"

#include <vector>

namespace ik {

// The largest factor: the sums of a block then still fit their counters with room to spare.
constexpr int kMaxShrink = 4096;

// The whole factor by which a picture of w × h may be shrunk and stay at least minWidth ×
// minHeight (1: not at all). A minimum of 0 or less asks for no reduction.
int ShrinkFactor(int64_t w, int64_t h, int minWidth, int minHeight);

// How a row's pixels are laid out.
enum class RowLayout {
    Indexed,           // one byte a pixel naming a colour of the table (grey levels included)
    Rgb,               // red, green, blue, then (samples - 3) bytes skipped
    Rgba,              // red, green, blue, alpha (unassociated), then (samples - 4) bytes skipped
    RgbaPremultiplied, // the same with the colours already multiplied by alpha
    GreyAlpha,         // grey, alpha (unassociated), then (samples - 2) bytes skipped
    Argb32             // QRgb values (B, G, R, A bytes), alpha unassociated
};

class Shrinker {
public:
    // Prepares the reduction of a w × h picture by factor; the result is
    // (w / factor) × (h / factor), rounded down and at least 1, each of its pixels the average of
    // the source pixels it covers (factor or a few more a side). It is ARGB32 when alpha is set,
    // else RGB32 when trueColour32 is set and RGB888 otherwise. False when the result cannot be
    // allocated.
    bool Start(int w, int h, int factor, bool alpha, bool trueColour32);
    // Adds the next source row. samples is the bytes a pixel (Rgb, Rgba, GreyAlpha); table the
    // colours of Indexed rows (an index beyond the table counts as black).
    void AddRow(const uchar* row, RowLayout layout, int samples = 0,
                const QVector<QRgb>* table = nullptr);
    // Adds rows of the grey that stands for what a damaged or truncated file lacks, up to the
    // picture's height.
    void FillMissing();
    int RowsAdded() const { return m_rowsIn; }
    // The reduced picture (the rows not added are left black); its depth in bpp.
    Image Finish();

private:
    void Emit();
    // The source row at which output row y ends.
    int RowEnd(int y) const { return int(int64_t(y + 1) * m_h / m_outH); }

    int m_w = 0, m_h = 0, m_k = 1, m_outW = 0, m_outH = 1, m_rowEnd = 0;
    bool m_alpha = false;
    int m_rowsIn = 0, m_rowsInBlock = 0, m_outY = 0;
    Image m_out;
};

// Shrinks a decoded picture (palette, RGB888, RGB32 or ARGB32; any other is left as it is) by the
// factor, row by row, without a 32-bit copy of it.
Image ShrinkImage(const Image& src, int factor);

// The picture turned upright by an orientation of the TIFF and Exif kind (1..8).
QImage Oriented(const QImage& img, int orientation);

} // namespace ik
