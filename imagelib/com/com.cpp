// libik6com: handles, image information, bitmap import, the clipboard and the status of a call.
#include "core/Image.h"

#include <QClipboard>
#include <QGuiApplication>

extern "C" {

int IKGetErrorStatus(char* reason, int size) {
    QByteArray text;
    const int code = ik::Status(&text);
    if (reason && size > 0)
        ik::PutText(reason, 0, size, text);
    return code;
}

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

int IKGetColorProfile(IKHANDLE image, void* buffer, int size) {
    ik::Call call;
    const ik::Image* im = ik::Get(image);
    if (!im)
        return call.Done(false, IK_ERR_ARGUMENT, "no such image");
    const int n = int(im->icc.size());
    if (buffer && size >= n && n > 0)
        std::memcpy(buffer, im->icc.constData(), size_t(n));
    call.Done(true, IK_ERR_NONE, "");
    return n;
}

IKHANDLE IKDibFromBitmap(const void* qimage, int) {
    ik::Call call;
    if (!qimage)
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "no bitmap");
    const QImage& img = *static_cast<const QImage*>(qimage);
    if (img.isNull())
        return call.Done(IKHANDLE(0), IK_ERR_ARGUMENT, "the bitmap is empty");
    if (!ik::SizeAllowed(img.width(), img.height()))
        return call.Done(IKHANDLE(0), IK_ERR_LIMIT,
                         "the bitmap is larger than the library's limit");
    return call.Done(ik::Put(ik::FromQImage(img)), IK_ERR_MEMORY, "out of memory");
}

int IKSetToClipBrd(void*, IKHANDLE image, int, const char*, const char*, const char*) {
    ik::Call call;
    const ik::Image* im = ik::Get(image);
    if (!im)
        return call.Done(false, IK_ERR_ARGUMENT, "no such image");
    // The clipboard belongs to the GUI thread.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) || !ik::OnGuiThread())
        return call.Done(false, IK_ERR_THREAD, "the clipboard is only reached from the GUI thread");
    QClipboard* cb = QGuiApplication::clipboard();
    if (!cb)
        return call.Done(false, IK_ERR_THREAD, "no clipboard");
    cb->setImage(im->img);
    return call.Done(true, IK_ERR_NONE, "");
}

void IKSetProgressDelay(int milliseconds) {
    ik::SetProgressDelay(milliseconds);
}

} // extern "C"
