#include "file/Formats.h"
#include "file/Shrink.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ik {

namespace {

constexpr size_t kFileBuffer = 64 * 1024;

} // namespace

File::File(const char* path) {
    if (!path)
        return;
    // Without waiting: a FIFO or a device named like a picture is refused below, not waited on
    // (the flag changes nothing for a regular file).
    m_fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) {
        m_error = QByteArray("cannot open the file: ") + std::strerror(errno);
        return;
    }
    struct stat st {};
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        m_error = "not a regular file";
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_size = st.st_size;
}

File::~File() {
    if (m_fd >= 0)
        ::close(m_fd);
}

size_t File::Pread(int64_t pos, char* buf, size_t n) const {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(m_fd, buf + done, n - done, off_t(pos + int64_t(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += size_t(got);
    }
    return done;
}

bool File::ReadAt(int64_t pos, void* buf, size_t n) {
    if (m_fd < 0 || pos < 0 || pos + int64_t(n) > m_size)
        return false;
    char* out = static_cast<char*>(buf);
    if (n > kFileBuffer)
        return Pread(pos, out, n) == n;
    if (pos < m_bufferPos || pos + int64_t(n) > m_bufferPos + int64_t(m_bufferLen)) {
        m_buffer.resize(kFileBuffer);
        m_bufferPos = pos;
        m_bufferLen = Pread(pos, m_buffer.data(), kFileBuffer);
        if (m_bufferLen < n)
            return false;
    }
    std::memcpy(out, m_buffer.data() + (pos - m_bufferPos), n);
    return true;
}

QByteArray File::ReadAt(int64_t pos, size_t n) {
    if (m_fd < 0 || pos < 0 || pos >= m_size)
        return QByteArray();
    n = size_t(std::min<int64_t>(int64_t(n), m_size - pos));
    QByteArray out(qsizetype(n), Qt::Uninitialized);
    if (!ReadAt(pos, out.data(), n))
        return QByteArray();
    return out;
}

Mapped::Mapped(const char* path) {
    if (!path)
        return;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK); // as File
    if (fd < 0)
        return;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        m_size = size_t(st.st_size);
        if (m_size == 0) {
            m_ok = true;
        } else {
            void* p = mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                m_map = p;
                m_data = static_cast<const uchar*>(p);
            }
        }
    }
    ::close(fd);
}

Mapped::~Mapped() {
    if (m_map)
        munmap(m_map, m_size);
}

void ClampIndices(Image& image) {
    if (image.img.format() != QImage::Format_Indexed8)
        return;
    const int n = image.img.colorCount();
    if (n >= 256)
        return;
    for (int y = 0; y < image.img.height(); ++y) {
        uchar* line = image.img.scanLine(y);
        for (int x = 0; x < image.img.width(); ++x)
            if (line[x] >= n)
                line[x] = 0;
    }
}

int GreyIndex(QImage& img) {
    QVector<QRgb> table = img.colorTable();
    const qsizetype at = table.indexOf(kMissingGrey);
    if (at >= 0)
        return int(at);
    if (table.size() >= 256)
        return -1;
    table.append(kMissingGrey);
    img.setColorTable(table);
    return int(table.size() - 1);
}

void FillMissing(Image& image, const QRect& area) {
    QImage& img = image.img;
    const QRect r = area & img.rect();
    if (r.isEmpty())
        return;
    if (img.format() == QImage::Format_Indexed8) {
        const int grey = GreyIndex(img);
        if (grey >= 0) {
            // The palette may have grown past its depth: say so.
            image.bpp = std::max(image.bpp, PaletteDepth(img.colorCount()));
            for (int y = r.top(); y <= r.bottom(); ++y)
                std::memset(img.scanLine(y) + r.left(), grey, size_t(r.width()));
            return;
        }
        const bool alpha = img.hasAlphaChannel();
        img = img.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB888);
        image.bpp = alpha ? 32 : 24;
    }
    for (int y = r.top(); y <= r.bottom(); ++y) {
        if (img.format() == QImage::Format_RGB888) {
            std::memset(img.scanLine(y) + 3 * r.left(), qGray(kMissingGrey), size_t(r.width()) * 3);
        } else if (img.depth() == 32) {
            auto* px = reinterpret_cast<QRgb*>(img.scanLine(y)) + r.left();
            std::fill(px, px + r.width(), kMissingGrey);
        } else {
            for (int x = r.left(); x <= r.right(); ++x)
                img.setPixel(x, y, kMissingGrey);
        }
    }
}

QVector<QRgb> GreyTable(int n) {
    QVector<QRgb> t(n);
    for (int i = 0; i < n; ++i) {
        const int v = n > 1 ? i * 255 / (n - 1) : 0;
        t[i] = qRgb(v, v, v);
    }
    return t;
}

Image DecodeFile(const char* path, int minWidth, int minHeight, int64_t* origWidth,
                 int64_t* origHeight, Progress* progress) {
    TypeInfo info;
    if (!Recognise(path, info)) {
        Fail(IK_ERR_FORMAT, "not an image file");
        return Image();
    }
    // Refuse what cannot be held before any decoder allocates for it.
    if (!SizeAllowed(info.width, info.height)) {
        Fail(IK_ERR_LIMIT, "the picture is larger than the library's limit");
        return Image();
    }
    return DecodeFileAs(path, info.type, minWidth, minHeight, origWidth, origHeight, progress);
}

Image DecodeFileAs(const char* path, int type, int minWidth, int minHeight, int64_t* origWidth,
                   int64_t* origHeight, Progress* progress) {
    Image image;
    int64_t ow = 0, oh = 0;
    // The formats read from memory map the whole file.
    const bool mapped = IsJpegType(type) || type == IK_TYPE_PCX ||
                        (type >= IK_TYPE_BMP && type <= IK_TYPE_BMP_RLE8);
    Mapped m(mapped ? path : nullptr);
    if (mapped && !m.Data()) {
        Fail(IK_ERR_OPEN, "cannot read the file");
        return Image();
    }
    Reduction reduction;
    reduction.minWidth = minWidth;
    reduction.minHeight = minHeight;
    reduction.origWidth = &ow;
    reduction.origHeight = &oh;
    bool reduced = false; // shrunk while decoding (or not to be shrunk after)
    if (IsJpegType(type)) {
        JpegRequest req;
        req.minWidth = minWidth;
        req.minHeight = minHeight;
        req.origWidth = &ow;
        req.origHeight = &oh;
        req.progress = progress;
        image = DecodeJpeg(m.Data(), m.Size(), req);
        reduced = true;
    } else if (type == IK_TYPE_PNG) {
        image = DecodePng(path, progress, reduction);
    } else if (type == IK_TYPE_GIF87A || type == IK_TYPE_GIF89A) {
        image = DecodeGif(path, progress);
    } else if (IsTiffType(type)) {
        image = DecodeTiff(path, progress, reduction);
        reduced = true;
    } else if (type >= IK_TYPE_BMP && type <= IK_TYPE_BMP_RLE8) {
        image = DecodeBmp(m.Data(), m.Size(), progress);
    } else if (type == IK_TYPE_PCX) {
        image = DecodePcx(m.Data(), m.Size(), progress);
    } else {
        Fail(IK_ERR_FORMAT, "the library recognises this format but does not decode it");
    }
    if (progress && progress->Stopped())
        return Image();
    ClampIndices(image);
    if (!image.IsNull() && (ow <= 0 || oh <= 0)) {
        ow = image.img.width();
        oh = image.img.height();
    }
    // What did not shrink while it decoded (an interlaced PNG, a GIF, ...) is shrunk now, still
    // without a 32-bit copy of the whole picture.
    if (!reduced && !image.IsNull() && minWidth > 0 && minHeight > 0) {
        const int factor = ShrinkFactor(image.img.width(), image.img.height(), minWidth, minHeight);
        if (factor > 1)
            image = ShrinkImage(image, factor);
    }
    if (origWidth)
        *origWidth = ow;
    if (origHeight)
        *origHeight = oh;
    return image;
}

} // namespace ik
