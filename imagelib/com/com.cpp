// libik6com: handles, image information, bitmap import and the clipboard.
#include "core/Image.h"

#include <QClipboard>
#include <QGuiApplication>

extern "C" {

int IKFreeMemory(IKHANDLE image) {
    return ik::Free(image) ? 1 : 0;
}

int IKGetImageType(IKHANDLE image, void* record40) {
    const ik::Image* im = ik::Get(image);
    if (!im || !record40)
        return 0;
    std::memset(record40, 0, IK_IMAGETYPE_SIZE);
    ik::Put16(record40, IK_IT_BITCOUNT, im->bpp);
    ik::Put32(record40, IK_IT_PALETTE, im->bpp <= 8 ? im->img.colorCount() : 0);
    ik::Put32(record40, IK_IT_STRIDE, im->img.bytesPerLine());
    ik::Put32(record40, IK_IT_ALPHA, im->img.hasAlphaChannel() ? 1 : 0);
    ik::Put32(record40, IK_IT_WIDTH, im->img.width());
    ik::Put32(record40, IK_IT_HEIGHT, im->img.height());
    return 1;
}

IKHANDLE IKDibFromBitmap(const void* qimage, int) {
    if (!qimage)
        return 0;
    return ik::Put(ik::FromQImage(*static_cast<const QImage*>(qimage)));
}

int IKSetToClipBrd(void*, IKHANDLE image, int, const char*, const char*, const char*) {
    const ik::Image* im = ik::Get(image);
    if (!im || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return 0;
    QClipboard* cb = QGuiApplication::clipboard();
    if (!cb)
        return 0;
    cb->setImage(im->img);
    return 1;
}

void IKSetProgressDelay(int milliseconds) {
    ik::SetProgressDelay(milliseconds);
}

} // extern "C"
