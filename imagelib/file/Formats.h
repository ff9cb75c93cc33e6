// The file module's internals: content recognition and one decoder per format.
#pragma once

#include "core/Image.h"

#include <QByteArray>
#include <cstdio>
#include <vector>

namespace ik {

// A read-only file opened by a UTF-8 path, read at any position through a buffer: the many small
// reads of header walks (a GIF's sub-blocks, a PNG's chunks) cost a copy each, not a system call.
class File {
public:
    explicit File(const char* path);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    // Why the file could not be opened.
    QByteArray Error() const { return m_error; }
    int64_t Size() const { return m_size; }
    // Reads exactly n bytes at pos; false when the file is shorter.
    bool ReadAt(int64_t pos, void* buf, size_t n);
    QByteArray ReadAt(int64_t pos, size_t n); // as many as there are, up to n

private:
    // Reads into buf from pos until n bytes or the end of the file; the count read.
    size_t Pread(int64_t pos, char* buf, size_t n) const;

    int m_fd = -1;
    int64_t m_size = 0;
    QByteArray m_error;
    std::vector<char> m_buffer;
    int64_t m_bufferPos = 0;
    size_t m_bufferLen = 0;
};

// The whole file in memory (mapped when possible).
class Mapped {
public:
    explicit Mapped(const char* path);
    ~Mapped();
    Mapped(const Mapped&) = delete;
    Mapped& operator=(const Mapped&) = delete;
    const uchar* Data() const { return m_data; }
    size_t Size() const { return m_size; }
    bool IsOpen() const { return m_data != nullptr || m_ok; }

private:
    const uchar* m_data = nullptr;
    size_t m_size = 0;
    bool m_ok = false;
    void* m_map = nullptr;
    QByteArray m_copy;
};

struct TypeInfo {
    int type = IK_TYPE_UNKNOWN;
    int64_t width = 0, height = 0;
    int bitCount = 0;
    int orientation = IK_ORIENT_NORMAL; // Exif orientation of a JPEG file
    int interlace = 0;
    int panes = 1;
    int64_t fileSize = 0;
    QByteArray comment; // UTF-8
};

// Recognises the file by its content, reading headers only. False when the format is unknown.
bool Recognise(const char* path, TypeInfo& info);

inline bool IsJpegType(int t) {
    return t == IK_TYPE_JPEG || t == IK_TYPE_JPEG_PROGRESSIVE || t == IK_TYPE_JPEG_EXIF;
}
inline bool IsTiffType(int t) {
    return (t >= IK_TYPE_TIFF_NONE && t <= IK_TYPE_TIFF_LZW) || t == IK_TYPE_TIFF_OTHER;
}

// Little- and big-endian fields of file headers.
inline uint16_t LE16(const uchar* p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t LE32(const uchar* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t BE16(const uchar* p) {
    return uint16_t(p[0] << 8 | p[1]);
}
inline uint32_t BE32(const uchar* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// What a JPEG decoding is asked for.
struct JpegRequest {
    int minWidth = 0, minHeight = 0; // reduced-scale decoding not below this size (0: full size)
    int maxSide = 0;              // a wider or taller picture is refused (0: the library's limit)
    int64_t* origWidth = nullptr; // receive the full size when not null
    int64_t* origHeight = nullptr;
    Progress* progress = nullptr;
};

// What the decoders that shrink while they decode (PNG, TIFF) are asked for: the picture reduced by
// a whole factor to no less than minWidth × minHeight as it stands upright (0: full size), and its
// full upright size through origWidth and origHeight when they are not null.
struct Reduction {
    int minWidth = 0, minHeight = 0;
    int64_t* origWidth = nullptr;
    int64_t* origHeight = nullptr;
};

// Decoders. Each records the reason of its failure (Fail) and notes a truncated file.
Image DecodeJpeg(const uchar* data, size_t size, const JpegRequest& request);
Image DecodePng(const char* path, Progress* progress, const Reduction& reduction = {});
Image DecodeGif(const char* path, Progress* progress);
// The first page, turned upright by its orientation tag.
Image DecodeTiff(const char* path, Progress* progress, const Reduction& reduction = {});
Image DecodeBmp(const uchar* data, size_t size, Progress* progress);
Image DecodePcx(const uchar* data, size_t size, Progress* progress);

// Records the reason and returns no image: the decoders' way to fail.
inline Image Refuse(int code, const QByteArray& reason) {
    Fail(code, reason);
    return Image();
}

// Decodes any supported file, reduced when minWidth/minHeight are given (JPEG by its DCT scales,
// the others by a whole factor), recognising it first.
Image DecodeFile(const char* path, int minWidth, int minHeight, int64_t* origWidth,
                 int64_t* origHeight, Progress* progress);
// The same for a file whose type code is known: the file is not recognised again; a file whose
// content is of another type fails in the decoder.
Image DecodeFileAs(const char* path, int type, int minWidth, int minHeight, int64_t* origWidth,
                   int64_t* origHeight, Progress* progress);

// Palette images whose pixels name colours beyond the palette have those pixels set to 0.
void ClampIndices(Image& image);
// The colour of the rows a truncated file lacks, and its index in a palette image's colour table
// (added to the table when there is room; -1 when the table is full and holds no such grey).
constexpr QRgb kMissingGrey = 0xFF808080;
int GreyIndex(QImage& img);
// Fills the area (clipped to the image) with the missing-rows grey; a palette image whose table
// has neither the grey nor room for it is turned into 24 (or 32) bits first.
void FillMissing(Image& image, const QRect& area);
// The Exif orientation (1..8) of an APP1 Exif segment's payload ("Exif\0\0" and a TIFF
// structure); 1 when it has none or an invalid one.
int ExifOrientation(const QByteArray& segment);
// A grey-level colour table of n entries from black to white.
QVector<QRgb> GreyTable(int n);

} // namespace ik
