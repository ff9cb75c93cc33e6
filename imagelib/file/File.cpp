#include "file/Formats.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ik {

File::File(const char* path) {
    if (!path)
        return;
    m_f = std::fopen(path, "rb");
    if (!m_f)
        return;
    struct stat st {};
    if (fstat(fileno(m_f), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(m_f);
        m_f = nullptr;
        return;
    }
    m_size = st.st_size;
}

File::~File() {
    if (m_f)
        std::fclose(m_f);
}

bool File::ReadAt(int64_t pos, void* buf, size_t n) {
    if (!m_f || pos < 0 || pos + int64_t(n) > m_size)
        return false;
    if (fseeko(m_f, off_t(pos), SEEK_SET) != 0)
        return false;
    return std::fread(buf, 1, n, m_f) == n;
}

QByteArray File::ReadAt(int64_t pos, size_t n) {
    if (!m_f || pos < 0 || pos >= m_size)
        return QByteArray();
    n = size_t(std::min<int64_t>(int64_t(n), m_size - pos));
    QByteArray out(qsizetype(n), Qt::Uninitialized);
    if (fseeko(m_f, off_t(pos), SEEK_SET) != 0)
        return QByteArray();
    out.resize(qsizetype(std::fread(out.data(), 1, n, m_f)));
    return out;
}

Mapped::Mapped(const char* path) {
    if (!path)
        return;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
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
    if (!Recognise(path, info))
        return Image();
    if (origWidth)
        *origWidth = info.width;
    if (origHeight)
        *origHeight = info.height;
    // Refuse what cannot be held before any decoder allocates for it.
    if (!SizeAllowed(info.width, info.height))
        return Image();
    Image image;
    if (IsJpegType(info.type)) {
        Mapped m(path);
        if (m.Data())
            image = DecodeJpeg(m.Data(), m.Size(), minWidth, minHeight, origWidth, origHeight,
                               progress);
    } else if (info.type == IK_TYPE_PNG) {
        image = DecodePng(path, progress);
    } else if (info.type == IK_TYPE_GIF87A || info.type == IK_TYPE_GIF89A) {
        image = DecodeGif(path, progress);
    } else if (IsTiffType(info.type)) {
        image = DecodeTiff(path, progress);
    } else if (info.type >= IK_TYPE_BMP && info.type <= IK_TYPE_BMP_RLE8) {
        Mapped m(path);
        if (m.Data())
            image = DecodeBmp(m.Data(), m.Size(), progress);
    } else if (info.type == IK_TYPE_PCX) {
        Mapped m(path);
        if (m.Data())
            image = DecodePcx(m.Data(), m.Size(), progress);
    }
    if (progress && progress->Stopped())
        return Image();
    ClampIndices(image);
    return image;
}

} // namespace ik
