// The thumbnail grid's geometry, all in integers: t is the text height of the file-name font,
// X × Y the thumbnail size.
#pragma once

#include <QRect>
#include <QSize>

namespace Layout {

// One cell: (X + 8) × (Y + t + t/2 + 8).
inline QSize CellSize(QSize thumb, int t) {
    return QSize(thumb.width() + 8, thumb.height() + t + t / 2 + 8);
}
// Columns for a client width: at least one.
inline int Columns(int clientWidth, int cellWidth) {
    if (cellWidth <= 0)
        return 1;
    const unsigned n = unsigned(clientWidth < 0 ? 0 : clientWidth) / unsigned(cellWidth);
    return n < 1 ? 1 : int(n);
}
// Entry i's cell in view coordinates at scroll position (0, 0).
inline QRect CellRect(int i, QSize cell, int columns) {
    return QRect((i % columns) * cell.width(), (i / columns) * cell.height(), cell.width(),
                 cell.height());
}
// The picture window's rectangle inside a tile's client area cw × ch (its own client area is
// this rectangle less its 1-pixel border).
inline QRect ImageWindowRect(int cw, int ch, int t) {
    return QRect(QPoint(4, 4), QPoint(cw - 4 - 1, ch - t - t / 2 - 4 - 1));
}
// The caption's rectangle inside a tile's client area.
inline QRect CaptionRect(int cw, int ch, int t) {
    return QRect(QPoint(5, ch - t - t / 4 - 4), QPoint(cw - 5 - 1, ch - 4 - 1));
}

struct ScrollSizes {
    int totalHeight, pageHeight, lineHeight;
};
// Vertical scroll sizes: one row more than the full rows; a page of whole rows (or the client
// height when not even one fits); a line of one row unless a row is taller than the client.
inline ScrollSizes VerticalSizes(int entries, int columns, int cellHeight, int clientHeight) {
    ScrollSizes s;
    s.totalHeight = (entries / columns + 1) * cellHeight;
    const int rows = cellHeight > 0 ? clientHeight / cellHeight : 0;
    s.pageHeight = rows > 0 ? rows * cellHeight : clientHeight;
    s.lineHeight = cellHeight < clientHeight ? cellHeight : clientHeight;
    return s;
}
// The view's total width for scrolling.
constexpr int kTotalWidth = 100;

} // namespace Layout
