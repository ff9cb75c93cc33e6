#include "preview/PreviewWnd.h"

#include "imaging/DevicePixels.h"
#include "platform/MsgBox.h"

#include <QPainter>

std::atomic<bool> CPreviewWnd::s_bFineMode = false;

bool CPreviewWnd::Fit(CImageKit& picture, QSize original, QSize client, bool fine, bool palette,
                      double ratio) {
    // The available area: a client edge below 1 counts as 1.
    const int aw = std::max(1, client.width()), ah = std::max(1, client.height());
    palette = palette || picture.GetBitCount() < 16;
    // A palette picture is shrunk first and converted after: converting it at its full size
    // would cost four bytes a pixel for nothing.
    if (fine && !palette)
        picture.ConvertColor(32, IK_PALETTE_OPTIMAL, IK_DITHER_ON, false);
    bool sharpened = true;
    if (original.width() > aw || original.height() > ah) {
        const QSize fitted = DevicePixels::Fit(original, QSize(aw, ah), ratio).pixels;
        if (fitted != picture.GetSize())
            picture.Resize(fitted.width(), fitted.height(), false);
        if (palette && picture.GetBitCount() < 32)
            picture.ConvertColor(32, IK_PALETTE_OPTIMAL, IK_DITHER_ON, false);
        if (fine)
            sharpened = picture.TrySharpen(10, 0, 0, fitted.width(), fitted.height());
    } else {
        // A reduced decode of a picture that fits: bring it to its own size.
        if (picture.GetSize() != original)
            picture.Resize(original.width(), original.height(), false);
        if (palette && picture.GetBitCount() < 32)
            picture.ConvertColor(32, IK_PALETTE_OPTIMAL, IK_DITHER_ON, false);
    }
    return sharpened;
}

IKHANDLE CPreviewWnd::LoadFitted(const QString& path) {
    // The Exif thumbnail when there is one, else the file decoded no larger than needed, turned
    // upright; the fitting below is computed on the size the picture has.
    QSize original;
    if (!m_image.LoadForThumbnail(path, ClientSize(), &original) || m_image.IsEmpty()) {
        m_image.Free();
        return 0;
    }
    m_sizeShown = QSize();
    if (!Fit(m_image, original, ClientSize(), s_bFineMode))
        QuillaMessageBox(nullptr, QStringLiteral("処理が失敗しました"), MB_OK);
    m_image.ConvertToDisplay();
    return m_image.GetHandle();
}

void CPreviewWnd::DrawCentered(QPainter* dc, QPoint clientOrigin) {
    if (m_image.IsEmpty())
        return;
    const QSize client = ClientSize();
    const QSize size = m_sizeShown.isEmpty() ? m_image.GetSize() : m_sizeShown;
    // Integer division rounding toward zero; negative when the picture is larger.
    const int x = (client.width() - size.width()) / 2;
    const int y = (client.height() - size.height()) / 2;
    DevicePixels::Draw(dc, m_image, clientOrigin + QPoint(x, y), size, IK_OUT_THUMBNAIL);
}
