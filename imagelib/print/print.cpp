// libik6print: drawing an image into a QPainter.
#include "core/Image.h"

#include <QPainter>

extern "C" int IKImageOut(void* qpainter, IKHANDLE image, const IKRECT* dest, int, int, int) {
    const ik::Image* im = ik::Get(image);
    auto* painter = static_cast<QPainter*>(qpainter);
    if (!im || !painter || !dest || !painter->isActive())
        return 0;
    const QRect r(QPoint(dest->left, dest->top), QPoint(dest->right - 1, dest->bottom - 1));
    if (r.isEmpty())
        return 0;
    if (r.size() == im->img.size()) {
        painter->drawImage(r.topLeft(), im->img);
    } else {
        const bool smooth = painter->renderHints().testFlag(QPainter::SmoothPixmapTransform);
        painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter->drawImage(r, im->img);
        painter->setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    }
    return 1;
}
