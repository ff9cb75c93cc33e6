// The picture window of a thumbnail tile: it holds the tile's picture, fitted to its client area,
// and draws it centred onto the tile. Fine mode (one flag for the whole process) makes every
// thumbnail 32-bit and sharpens those that are shrunk.
#pragma once

#include "imaging/ImageKit.h"

#include <QRect>
#include <QString>
#include <atomic>

class QPainter;

class CPreviewWnd {
public:
    // Loads the file fitted to the client area; returns the image handle, 0 when nothing loaded.
    IKHANDLE LoadFitted(const QString& path);
    // Draws the picture centred in the client area; clientOrigin is where the client area's
    // top-left corner lies on the painter.
    void DrawCentered(QPainter* dc, QPoint clientOrigin);
    // The client area's size (the window less its 1-pixel border).
    QSize ClientSize() const { return QSize(m_rcWindow.width() - 2, m_rcWindow.height() - 2); }

    // Converts and shrinks a loaded picture for a client area: to 32 bits in fine mode or when it
    // has fewer than 16 bits, shrunk by the integer percent ratio of its longer side when it is
    // larger than the area (the arithmetic works on `original`, the picture's own size, even when
    // the picture at hand is a reduced copy), sharpened when shrunk in fine mode. Safe on any
    // thread; shows nothing. Returns false when the sharpening failed (the picture then stays
    // unsharpened), for the caller to report.
    // `palette` tells that the file's picture had fewer than 16 bits when the picture at hand is a
    // copy of it at another depth.
    // `ratio` is the screen's device pixel ratio: the arithmetic stays on the logical client
    // area, and a shrunk picture is kept at the device pixels of its fitted size
    // (DevicePixels::Fit).
    static bool Fit(CImageKit& picture, QSize original, QSize client, bool fine,
                    bool palette = false, double ratio = 1.0);

    CImageKit m_image;
    // The logical size the picture is shown at (empty: its own size); on a screen with a device
    // pixel ratio above 1 the picture has more pixels than that.
    QSize m_sizeShown;
    QString m_strPath;
    int m_nFlag = 1;
    QRect m_rcWindow; // in the tile's client coordinates, border included

    static std::atomic<bool> s_bFineMode;
};
