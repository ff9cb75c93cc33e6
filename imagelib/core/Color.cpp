#include "core/Color.h"

#include <QCryptographicHash>
#include <QtEndian>
#include <array>
#include <lcms2.h>
#include <map>
#include <mutex>

namespace ik {

namespace {

// A profile handle closed when it goes out of scope.
struct ProfileHandle {
    cmsHPROFILE h = nullptr;
    explicit ProfileHandle(cmsHPROFILE p) : h(p) {}
    ~ProfileHandle() {
        if (h)
            cmsCloseProfile(h);
    }
    ProfileHandle(const ProfileHandle&) = delete;
    ProfileHandle& operator=(const ProfileHandle&) = delete;
};

// Profiles larger than this are no real picture's: refused before Little CMS parses them.
constexpr qsizetype kMaxProfileBytes = 16 << 20;

cmsHPROFILE Open(const QByteArray& icc) {
    if (icc.isEmpty())
        return cmsCreate_sRGBProfile();
    if (icc.size() > kMaxProfileBytes)
        return nullptr;
    return cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
}

// How the pixels handed to a conversion are laid out.
enum Layout : char {
    kLayoutRgb = 'r',  // red, green, blue bytes (RGB888)
    kLayoutQRgb = 'q', // QRgb values (RGB32, ARGB32 and colour tables), alpha kept as it is
};

// QRgb values in memory: B, G, R, A on a little-endian machine, A, R, G, B on a big-endian one.
constexpr cmsUInt32Number kQRgbFormat = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TYPE_BGRA_8 : TYPE_ARGB_8;

// One conversion between two profiles for one layout. A grey source goes through a table of its
// 256 levels; an RGB one through a Little CMS transform, left out when it changes no colour by more
// than a level.
struct Conversion {
    cmsHTRANSFORM transform = nullptr;
    bool identity = false;
    bool grey = false;
    std::array<QRgb, 256> greyLevels{};

    Conversion() = default;
    ~Conversion() {
        if (transform)
            cmsDeleteTransform(transform);
    }
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;
};

// True when the transform leaves every colour of a 17-level grid within one level.
bool LeavesColours(cmsHTRANSFORM transform, Layout layout) {
    constexpr int kLevels = 17;
    const int bytes = layout == kLayoutRgb ? 3 : 4;
    std::vector<uchar> in, out(size_t(kLevels) * kLevels * kLevels * bytes);
    in.reserve(out.size());
    for (int r = 0; r < kLevels; ++r)
        for (int g = 0; g < kLevels; ++g)
            for (int b = 0; b < kLevels; ++b) {
                const uchar R = uchar(std::min(255, r * 16)), G = uchar(std::min(255, g * 16)),
                            B = uchar(std::min(255, b * 16));
                if (layout == kLayoutRgb) {
                    in.insert(in.end(), {R, G, B});
                } else {
                    const QRgb v = qRgb(R, G, B);
                    const auto* p = reinterpret_cast<const uchar*>(&v);
                    in.insert(in.end(), p, p + 4);
                }
            }
    cmsDoTransform(transform, in.data(), out.data(), cmsUInt32Number(in.size() / bytes));
    for (size_t i = 0; i < in.size(); ++i)
        if (std::abs(int(in[i]) - int(out[i])) > 1)
            return false;
    return true;
}

std::unique_ptr<Conversion> MakeConversion(const QByteArray& source, const QByteArray& destination,
                                           Layout layout, QByteArray* reason) {
    ProfileHandle src(Open(source)), dst(Open(destination));
    if (!src.h) {
        *reason = "the picture's colour profile cannot be read";
        return nullptr;
    }
    if (!dst.h || cmsGetColorSpace(dst.h) != cmsSigRgbData) {
        *reason = "the destination colour profile cannot be read or is not an RGB profile";
        return nullptr;
    }
    auto c = std::make_unique<Conversion>();
    // No cache of the last pixel: the thumbnail workers share one transform.
    const cmsUInt32Number flags = cmsFLAGS_NOCACHE;
    if (cmsGetColorSpace(src.h) == cmsSigGrayData) {
        cmsHTRANSFORM t =
            cmsCreateTransform(src.h, TYPE_GRAY_8, dst.h, TYPE_RGB_8, INTENT_PERCEPTUAL, flags);
        if (!t) {
            *reason = "no conversion between the two colour profiles";
            return nullptr;
        }
        std::array<uchar, 256> levels;
        std::array<uchar, 256 * 3> rgb;
        for (int i = 0; i < 256; ++i)
            levels[size_t(i)] = uchar(i);
        cmsDoTransform(t, levels.data(), rgb.data(), 256);
        cmsDeleteTransform(t);
        c->grey = true;
        for (size_t i = 0; i < 256; ++i)
            c->greyLevels[i] = qRgb(rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]);
        return c;
    }
    const cmsUInt32Number format = layout == kLayoutRgb ? TYPE_RGB_8 : kQRgbFormat;
    c->transform = cmsCreateTransform(src.h, format, dst.h, format, INTENT_PERCEPTUAL,
                                      flags | (layout == kLayoutQRgb ? cmsFLAGS_COPY_ALPHA : 0));
    if (!c->transform) {
        *reason = "no conversion between the two colour profiles";
        return nullptr;
    }
    if (LeavesColours(c->transform, layout)) {
        cmsDeleteTransform(c->transform);
        c->transform = nullptr;
        c->identity = true;
    }
    return c;
}

// The conversions made so far, by the MD5 of both profiles and the layout. Few pictures carry
// more than a handful of distinct profiles; past a bound the store starts again.
constexpr size_t kMaxConversions = 64;

std::shared_ptr<const Conversion> ConversionFor(const QByteArray& source,
                                                const QByteArray& destination, Layout layout,
                                                QByteArray* reason) {
    static std::mutex mutex;
    static std::map<QByteArray, std::shared_ptr<const Conversion>> store;
    const QByteArray key = QCryptographicHash::hash(source, QCryptographicHash::Md5) +
                           QCryptographicHash::hash(destination, QCryptographicHash::Md5) +
                           char(layout);
    std::lock_guard lock(mutex);
    if (auto it = store.find(key); it != store.end())
        return it->second;
    std::shared_ptr<const Conversion> c = MakeConversion(source, destination, layout, reason);
    if (!c)
        return nullptr;
    if (store.size() >= kMaxConversions)
        store.clear();
    store.emplace(key, c);
    return c;
}

void ApplyToQRgb(const Conversion& c, QRgb* pixels, int count) {
    if (c.grey) {
        for (int i = 0; i < count; ++i)
            pixels[i] =
                (c.greyLevels[size_t(qGreen(pixels[i]))] & 0xFFFFFF) | (pixels[i] & 0xFF000000);
    } else {
        cmsDoTransform(c.transform, pixels, pixels, cmsUInt32Number(count));
    }
}

} // namespace

QByteArray UsableProfile(const QByteArray& icc, bool grey) {
    if (icc.size() < 132 || icc.size() > kMaxProfileBytes)
        return QByteArray();
    ProfileHandle h(Open(icc));
    if (!h.h)
        return QByteArray();
    const cmsColorSpaceSignature space = cmsGetColorSpace(h.h);
    if (space != cmsSigRgbData && !(grey && space == cmsSigGrayData))
        return QByteArray();
    if (!cmsIsIntentSupported(h.h, INTENT_PERCEPTUAL, LCMS_USED_AS_INPUT))
        return QByteArray();
    return icc;
}

QByteArray ProfileFromChromaticities(const double white[2], const double red[2],
                                     const double green[2], const double blue[2], double gamma) {
    for (const double* xy : {white, red, green, blue})
        if (!(xy[0] > 0 && xy[0] < 1 && xy[1] > 0 && xy[1] < 1))
            return QByteArray();
    if (!(gamma > 0.05 && gamma < 20))
        return QByteArray();
    const cmsCIExyY wp{white[0], white[1], 1.0};
    const cmsCIExyYTRIPLE primaries{
        {red[0], red[1], 1.0}, {green[0], green[1], 1.0}, {blue[0], blue[1], 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.0 / gamma);
    if (!curve)
        return QByteArray();
    cmsToneCurve* curves[3] = {curve, curve, curve};
    ProfileHandle h(cmsCreateRGBProfile(&wp, &primaries, curves));
    cmsFreeToneCurve(curve);
    cmsUInt32Number size = 0;
    if (!h.h || !cmsSaveProfileToMem(h.h, nullptr, &size) || size == 0)
        return QByteArray();
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (!cmsSaveProfileToMem(h.h, out.data(), &size))
        return QByteArray();
    return UsableProfile(out, false);
}

uint32_t ProfileColorSpace(const QByteArray& icc) {
    if (icc.size() < 20)
        return 0;
    return qFromBigEndian<quint32>(icc.constData() + 16);
}

bool TransformColors(const Image& src, const QByteArray& destination, Image* out) {
    *out = Image();
    const QImage::Format format = src.img.format();
    const bool rgb = format == QImage::Format_RGB888;
    if (!rgb && format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_Indexed8)
        return Fail(IK_ERR_FORMAT, "colour profiles: pictures of this depth keep their colours");
    QByteArray reason;
    const std::shared_ptr<const Conversion> c =
        ConversionFor(src.icc, destination, rgb ? kLayoutRgb : kLayoutQRgb, &reason);
    if (!c)
        return Fail(IK_ERR_DATA, "colour profiles: " + reason);
    Image result;
    result.bpp = src.bpp;
    result.img = src.img.copy();
    if (result.img.isNull())
        return Fail(IK_ERR_MEMORY, "colour profiles: out of memory");
    result.icc = destination;
    if (!c->identity) {
        QImage& img = result.img;
        const int w = img.width(), h = img.height();
        if (format == QImage::Format_Indexed8) {
            QVector<QRgb> table = img.colorTable();
            ApplyToQRgb(*c, table.data(), int(table.size()));
            img.setColorTable(table);
        } else if (rgb && c->grey) {
            for (int y = 0; y < h; ++y) {
                uchar* p = img.scanLine(y);
                for (int x = 0; x < w; ++x, p += 3) {
                    const QRgb v = c->greyLevels[p[1]];
                    p[0] = uchar(qRed(v));
                    p[1] = uchar(qGreen(v));
                    p[2] = uchar(qBlue(v));
                }
            }
        } else if (rgb) {
            cmsDoTransformLineStride(c->transform, img.constBits(), img.bits(), cmsUInt32Number(w),
                                     cmsUInt32Number(h), cmsUInt32Number(img.bytesPerLine()),
                                     cmsUInt32Number(img.bytesPerLine()), 0, 0);
        } else {
            for (int y = 0; y < h; ++y)
                ApplyToQRgb(*c, reinterpret_cast<QRgb*>(img.scanLine(y)), w);
        }
    }
    *out = std::move(result);
    return true;
}

} // namespace ik
