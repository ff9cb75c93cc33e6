// PCX decoding: 1-bit, 2-bit (CGA), 4-bit in planes (EGA), 8-bit with the 256-colour palette at
// the end, and 24-bit (three planes); run-length encoded.
#include "file/Formats.h"

namespace ik {

Image DecodePcx(const uchar* data, size_t size, Progress* progress) {
    if (size < 128 || data[0] != 0x0A || data[2] != 1)
        return Refuse(IK_ERR_DATA, "PCX: not a PCX file");
    const int bpp = data[3], planes = data[65];
    const int xmin = data[4] | data[5] << 8, ymin = data[6] | data[7] << 8;
    const int xmax = data[8] | data[9] << 8, ymax = data[10] | data[11] << 8;
    const int bytesPerLine = data[66] | data[67] << 8;
    if (xmax < xmin || ymax < ymin)
        return Refuse(IK_ERR_DATA, "PCX: damaged header");
    const int64_t w = xmax - xmin + 1, h = ymax - ymin + 1;
    if (!SizeAllowed(w, h))
        return Refuse(IK_ERR_LIMIT, "PCX: the picture is larger than the library's limit");
    if (bytesPerLine <= 0 || int64_t(bytesPerLine) * 8 < w * bpp)
        return Refuse(IK_ERR_DATA, "PCX: damaged header");
    const bool mono = planes == 1 && bpp == 1, cga = planes == 1 && bpp == 2;
    const bool ega = (planes == 3 || planes == 4) && bpp == 1;
    const bool pal8 = planes == 1 && bpp == 8, rgb = (planes == 3 || planes == 4) && bpp == 8;
    if (!(mono || cga || ega || pal8 || rgb))
        return Refuse(IK_ERR_FORMAT, "PCX: unsupported depth");
    // A run holds at most 63 bytes in two: a file too short for its picture is refused before
    // the picture is allocated.
    if (int64_t(size - 128) * 63 < int64_t(bytesPerLine) * planes * h * 2)
        return Refuse(IK_ERR_DATA, "PCX: the file is too short for its picture");

    Image out;
    if (rgb) {
        out.img =
            QImage(int(w), int(h), planes == 4 ? QImage::Format_ARGB32 : QImage::Format_RGB888);
        out.bpp = planes == 4 ? 32 : 24;
    } else {
        out.img = QImage(int(w), int(h), QImage::Format_Indexed8);
        QVector<QRgb> table;
        if (mono) {
            table = {qRgb(0, 0, 0), qRgb(255, 255, 255)};
            out.bpp = 1;
        } else if (pal8) {
            // The palette is the last 769 bytes: a 12 and 256 colours; without it, grey levels.
            if (size >= 128 + 769 && data[size - 769] == 12) {
                const uchar* p = data + size - 768;
                table.resize(256);
                for (int i = 0; i < 256; ++i)
                    table[i] = qRgb(p[3 * i], p[3 * i + 1], p[3 * i + 2]);
            } else {
                table = GreyTable(256);
            }
            out.bpp = 8;
        } else {
            const int n = cga ? 4 : 1 << planes;
            table.resize(n);
            for (int i = 0; i < n; ++i)
                table[i] = qRgb(data[16 + 3 * i], data[17 + 3 * i], data[18 + 3 * i]);
            out.bpp = 4;
        }
        out.img.setColorTable(table);
    }
    if (out.img.isNull())
        return Refuse(IK_ERR_MEMORY, "PCX: out of memory");

    const size_t lineBytes = size_t(bytesPerLine) * size_t(planes);
    std::vector<uchar> line(lineBytes);
    const uchar* p = data + 128;
    // The 8-bit palette is not image data.
    const uchar* end =
        data + (pal8 && size >= 128 + 769 && data[size - 769] == 12 ? size - 769 : size);
    int run = 0, value = 0;
    for (int64_t y = 0; y < h; ++y) {
        // Runs may continue from one line into the next.
        for (size_t i = 0; i < lineBytes; ++i) {
            if (run == 0) {
                if (p >= end)
                    return Refuse(IK_ERR_DATA, "PCX: the file ends before its picture does");
                const int b = *p++;
                if ((b & 0xC0) == 0xC0) {
                    if (p >= end)
                        return Refuse(IK_ERR_DATA, "PCX: the file ends before its picture does");
                    run = b & 0x3F;
                    value = *p++;
                    if (run == 0)
                        continue;
                } else {
                    run = 1;
                    value = b;
                }
            }
            line[i] = uchar(value);
            --run;
        }
        uchar* dst = out.img.scanLine(int(y));
        if (rgb) {
            for (int64_t x = 0; x < w; ++x) {
                const int r = line[x], g = line[bytesPerLine + x], b = line[2 * bytesPerLine + x];
                if (planes == 4)
                    reinterpret_cast<QRgb*>(dst)[x] = qRgba(r, g, b, line[3 * bytesPerLine + x]);
                else {
                    dst[3 * x] = uchar(r);
                    dst[3 * x + 1] = uchar(g);
                    dst[3 * x + 2] = uchar(b);
                }
            }
        } else if (pal8) {
            std::memcpy(dst, line.data(), size_t(w));
        } else if (mono || cga) {
            for (int64_t x = 0; x < w; ++x) {
                const int64_t bit = x * bpp;
                dst[x] = uchar((line[bit / 8] >> (8 - bpp - int(bit % 8))) & ((1 << bpp) - 1));
            }
        } else {
            for (int64_t x = 0; x < w; ++x) {
                int v = 0;
                for (int pl = 0; pl < planes; ++pl)
                    v |= ((line[pl * bytesPerLine + x / 8] >> (7 - x % 8)) & 1) << pl;
                dst[x] = uchar(v);
            }
        }
        if (progress && !progress->Step(y + 1, h))
            return Image();
    }
    return out;
}

} // namespace ik
