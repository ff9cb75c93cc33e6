#include "preview/PreviewWnd.h"

#include "imaging/Fit.h"

#include <QPainter>

bool CPreviewWnd::s_bFineMode = false;

IKHANDLE CPreviewWnd::LoadFitted(const QString& path) {
    // The available area: a client edge below 1 counts as 1.
    const int aw = std::max(1, m_rcWindow.width() - 2);
    const int ah = std::max(1, m_rcWindow.height() - 2);
    // The Exif thumbnail when there is one, else the file decoded no larger than needed; the
    // fitting below is computed on the size the picture has.
    QSize original;
    if (!m_image.LoadForThumbnail(path, QSize(aw, ah), &original) || m_image.IsEmpty()) {
        m_image.Free();
        return 0;
    }
    if (s_bFineMode || m_image.GetBitCount() < 16)
        m_image.ConvertColor(32, IK_PALETTE_OPTIMAL, IK_DITHER_ON, false);
    if (original.width() > aw || original.height() > ah) {
        const QSize fitted = FittedSize(original, QSize(aw, ah));
        if (fitted != m_image.GetSize())
            m_image.Resize(fitted.width(), fitted.height(), false);
        if (s_bFineMode)
            m_image.Sharpen(10, 0, 0, fitted.width(), fitted.height(), IK_SHARP_DEFAULT, false);
    } else if (m_image.GetSize() != original) {
        // A reduced decode of a picture that fits: bring it to its own size.
        m_image.Resize(original.width(), original.height(), false);
    }
    return m_image.GetHandle();
}

void CPreviewWnd::DrawCentered(QPainter* dc, QPoint clientOrigin) {
    if (m_image.IsEmpty())
        return;
    const QSize client = ClientSize();
    const QSize size = m_image.GetSize();
    // Integer division rounding toward zero; negative when the picture is larger.
    const int x = (client.width() - size.width()) / 2;
    const int y = (client.height() - size.height()) / 2;
    m_image.DrawAt(dc, clientOrigin.x() + x, clientOrigin.y() + y, size.width(), size.height(),
                   IK_OUT_THUMBNAIL);
}
