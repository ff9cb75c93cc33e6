#include "imaging/Dib.h"

#include "imaging/DibRead.h"

// The formats DibRead writes are QImage's, by number.
static_assert(int(DibRead::kMono) == int(QImage::Format_Mono));
static_assert(int(DibRead::kIndexed8) == int(QImage::Format_Indexed8));
static_assert(int(DibRead::kRgb32) == int(QImage::Format_RGB32));
static_assert(int(DibRead::kArgb32) == int(QImage::Format_ARGB32));
static_assert(int(DibRead::kRgb16) == int(QImage::Format_RGB16));
static_assert(int(DibRead::kRgb555) == int(QImage::Format_RGB555));
static_assert(int(DibRead::kRgb888) == int(QImage::Format_RGB888));

QImage DibToImage(const void* info, size_t infoSize, const void* bits, size_t bitsSize,
                  QString* reason, const DibImageMaker& maker, int factor) {
    QImage out;
    const DibRead::CanvasMaker make = [&](int w, int h, DibRead::Format format) {
        const auto f = QImage::Format(format);
        out = maker ? maker(w, h, f) : QImage(w, h, f);
        if (out.isNull())
            return DibRead::Canvas{};
        return DibRead::Canvas{out.bits(), size_t(out.bytesPerLine())};
    };
    DibRead::Picture picture;
    std::string why;
    if (!DibRead::Read(info, infoSize, bits, bitsSize, make, &picture, &why, factor)) {
        if (reason)
            *reason = QString::fromStdString(why);
        return QImage();
    }
    if (!picture.colours.empty())
        out.setColorTable(QList<QRgb>(picture.colours.begin(), picture.colours.end()));
    return out;
}
