// The file module's internals: content recognition and one decoder per format.
#pragma once

#include "core/Image.h"

#include <QByteArray>
#include <cstdio>

namespace ik {

// A read-only file opened by a UTF-8 path.
class File {
public:
    explicit File(const char* path);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return m_f != nullptr; }
    int64_t Size() const { return m_size; }
    // Reads exactly n bytes at pos; false when the file is shorter.
    bool ReadAt(int64_t pos, void* buf, size_t n);
    QByteArray ReadAt(int64_t pos, size_t n); // as many as there are, up to n
    std::FILE* Handle() const { return m_f; }

private:
    std::FILE* m_f = nullptr;
    int64_t m_size = 0;
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

// Decoders. minWidth/minHeight ask a JPEG for reduced-scale decoding (0: full size).
Image DecodeJpeg(const uchar* data, size_t size, int minWidth, int minHeight, int64_t* origWidth,
                 int64_t* origHeight, Progress* progress);
Image DecodePng(const char* path, Progress* progress);
Image DecodeGif(const char* path, Progress* progress);
Image DecodeTiff(const char* path, Progress* progress);
Image DecodeBmp(const uchar* data, size_t size, Progress* progress);
Image DecodePcx(const uchar* data, size_t size, Progress* progress);

// Decodes any supported file (reduced for JPEG when minWidth/minHeight are given).
Image DecodeFile(const char* path, int minWidth, int minHeight, int64_t* origWidth,
                 int64_t* origHeight, Progress* progress);

// Palette images whose pixels name colours beyond the palette have those pixels set to 0.
void ClampIndices(Image& image);
// A grey-level colour table of n entries from black to white.
QVector<QRgb> GreyTable(int n);

} // namespace ik
