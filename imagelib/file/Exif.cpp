// Exif information of JPEG files through libexif, with the embedded thumbnail as an image.
#include "file/Formats.h"

#include <libexif/exif-data.h>

namespace ik {

namespace {

// The payload of the first APP1 segment that holds Exif data, read from the file's headers.
QByteArray ExifSegment(const char* path) {
    File f(path);
    uchar b[4];
    if (!f.ReadAt(0, b, 2) || b[0] != 0xFF || b[1] != 0xD8)
        return QByteArray();
    int64_t pos = 2;
    for (int guard = 0; guard < 10000; ++guard) {
        if (!f.ReadAt(pos, b, 4) || b[0] != 0xFF)
            return QByteArray();
        if (b[1] == 0xFF) {
            ++pos;
            continue;
        }
        if (b[1] == 0xDA || b[1] == 0xD9)
            return QByteArray();
        const int len = b[2] << 8 | b[3];
        if (len < 2)
            return QByteArray();
        if (b[1] == 0xE1) {
            QByteArray seg = f.ReadAt(pos + 4, size_t(len - 2));
            if (seg.startsWith(QByteArray("Exif\0\0", 6)))
                return seg;
        }
        pos += 2 + len;
    }
    return QByteArray();
}

QByteArray Ascii(ExifData* ed, ExifIfd ifd, ExifTag tag) {
    ExifEntry* e = exif_content_get_entry(ed->ifd[ifd], tag);
    if (!e || !e->data || e->size == 0)
        return QByteArray();
    QByteArray raw(reinterpret_cast<const char*>(e->data), qsizetype(e->size));
    const qsizetype nul = raw.indexOf('\0');
    if (nul >= 0)
        raw.truncate(nul);
    return TextToUtf8(raw.trimmed());
}

bool Rational(ExifData* ed, ExifTag tag, uint32_t& num, uint32_t& den) {
    ExifEntry* e = exif_content_get_entry(ed->ifd[EXIF_IFD_EXIF], tag);
    if (!e || !e->data || e->size < 8 || e->components < 1)
        return false;
    const ExifByteOrder order = exif_data_get_byte_order(ed);
    if (e->format == EXIF_FORMAT_RATIONAL) {
        const ExifRational r = exif_get_rational(e->data, order);
        num = r.numerator;
        den = r.denominator;
        return true;
    }
    if (e->format == EXIF_FORMAT_SRATIONAL) {
        const ExifSRational r = exif_get_srational(e->data, order);
        num = uint32_t(r.numerator);
        den = uint32_t(r.denominator);
        return true;
    }
    return false;
}

// The orientation in IFD0, 1 when absent or not one of the eight.
int OrientationOf(ExifData* ed) {
    ExifEntry* e = exif_content_get_entry(ed->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (!e || !e->data || e->format != EXIF_FORMAT_SHORT || e->components < 1 || e->size < 2)
        return IK_ORIENT_NORMAL;
    const int v = exif_get_short(e->data, exif_data_get_byte_order(ed));
    return v >= IK_ORIENT_NORMAL && v <= IK_ORIENT_ROTATE_270 ? v : IK_ORIENT_NORMAL;
}

// Parsed Exif data, released with the object.
struct ExifHolder {
    ExifData* ed;
    explicit ExifHolder(const QByteArray& segment) : ed(exif_data_new()) {
        if (!ed)
            return;
        // Read the data as it is: no tags added, none "corrected".
        exif_data_unset_option(ed, EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
        exif_data_load_data(ed, reinterpret_cast<const unsigned char*>(segment.constData()),
                            unsigned(segment.size()));
    }
    ~ExifHolder() {
        if (ed)
            exif_data_unref(ed);
    }
    ExifHolder(const ExifHolder&) = delete;
    ExifHolder& operator=(const ExifHolder&) = delete;
};

} // namespace

int ExifOrientation(const QByteArray& segment) {
    const ExifHolder exif(segment);
    return exif.ed ? OrientationOf(exif.ed) : IK_ORIENT_NORMAL;
}

} // namespace ik

using namespace ik;

extern "C" int IKJpegExifInfo(const char* path, void* record) {
    Call call;
    if (!record)
        return call.Done(false, IK_ERR_ARGUMENT, "no record");
    const QByteArray seg = ExifSegment(path);
    if (seg.isEmpty())
        return call.Done(false, IK_ERR_FORMAT, "not a JPEG file with Exif data");
    const ExifHolder exif(seg);
    ExifData* ed = exif.ed;
    if (!ed)
        return call.Done(false, IK_ERR_MEMORY, "out of memory");
    bool any = false;
    for (int i = 0; i < EXIF_IFD_COUNT; ++i)
        any = any || (ed->ifd[i] && ed->ifd[i]->count > 0);
    if (!any)
        return call.Done(false, IK_ERR_DATA, "the Exif data holds no tags");
    std::memset(record, 0, IK_EXIF_SIZE);
    PutText(record, IK_EX_MAKER, 1024, Ascii(ed, EXIF_IFD_0, EXIF_TAG_MAKE));
    PutText(record, IK_EX_MODEL, 1024, Ascii(ed, EXIF_IFD_0, EXIF_TAG_MODEL));
    QByteArray when = Ascii(ed, EXIF_IFD_EXIF, EXIF_TAG_DATE_TIME_ORIGINAL);
    if (when.isEmpty())
        when = Ascii(ed, EXIF_IFD_0, EXIF_TAG_DATE_TIME);
    PutText(record, IK_EX_DATETIME, 52, when);
    Put16(record, IK_EX_ORIENTATION, OrientationOf(ed));

    // Numerator and denominator of each rational field, 0 and 0 when absent.
    static const struct {
        ExifTag tag;
        int offset;
    } rationals[] = {{EXIF_TAG_EXPOSURE_TIME, IK_EX_EXPOSURE},
                     {EXIF_TAG_SHUTTER_SPEED_VALUE, IK_EX_SHUTTER},
                     {EXIF_TAG_FOCAL_LENGTH, IK_EX_FOCAL},
                     {EXIF_TAG_FNUMBER, IK_EX_FNUMBER}};
    for (const auto& r : rationals) {
        uint32_t n = 0, d = 0;
        if (Rational(ed, r.tag, n, d)) {
            Put32(record, r.offset, n);
            Put32(record, r.offset + 4, d);
        }
    }
    // The embedded thumbnail, unless it is larger than a thumbnail can be: a picture hidden there
    // would cost as much as the picture itself, and the caller loads that instead.
    IKHANDLE thumb = 0;
    if (ed->data && ed->size > 0) {
        JpegRequest req;
        req.maxSide = IK_MAX_THUMBNAIL_SIDE;
        thumb = Put(DecodeJpeg(ed->data, ed->size, req));
    }
    Put32(record, IK_EX_THUMBNAIL, thumb);
    return call.Done(true, IK_ERR_NONE, "");
}
