#include "imaging/ImageKit.h"

#include "imaging/Dib.h"
#include "imaging/Fit.h"
#include "imaging/ImageLibrary.h"
#include "imaging/SusieHost.h"
#include "platform/FileNames.h"
#include "platform/MsgBox.h"

#include <QPainter>
#include <cstring>

using ImageLib::Button;
using ImageLib::Caption;
using ImageLib::Entries;
using ImageLib::Message;

namespace {

// The extension: the text from the last "." of the whole path.
QString ExtensionOf(const QString& path) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : path.mid(dot).toLower();
}

bool IsLibraryExtension(const QString& ext) {
    static const char* const exts[] = {".bmp",  ".gif", ".jpg", ".jpeg",
                                       ".tiff", ".tif", ".pcx", ".png"};
    for (const char* e : exts)
        if (ext == QLatin1String(e))
            return true;
    return false;
}

// The path as the file system names it (names that are not UTF-8 keep their bytes).
QByteArray Utf8(const QString& path) {
    return FileNames::ToNative(path);
}

} // namespace

CImageKit::~CImageKit() {
    Free();
}

void CImageKit::Free() {
    if (m_hImage) {
        if (auto fn = Entries().IKFreeMemory)
            fn(m_hImage);
        m_hImage = 0;
    }
}

void CImageKit::Attach(IKHANDLE image) {
    if (image == m_hImage)
        return;
    Free();
    m_hImage = image;
}

bool CImageKit::Load(const QString& path, bool show) {
    SetProgressTexts(show);
    if (GetFileTypeCode(path) != 0) {
        Free();
        if (auto fn = Entries().IKFileLoad) {
            const IKHANDLE h =
                fn(Utf8(path).constData(), 0, 0, 0, 0, Caption(), Message(), Button());
            if (h) {
                m_hImage = h;
                return true;
            }
        }
    }
    if (LoadByPlugin(path))
        return true;
    Free();
    return false;
}

bool CImageKit::LoadThumbnail(const QString& path, bool show) {
    if (GetFileTypeCode(path) == IK_TYPE_JPEG_EXIF) {
        if (auto fn = Entries().IKJpegExifInfo) {
            std::vector<char> rec(IK_EXIF_SIZE, 0);
            if (fn(Utf8(path).constData(), rec.data())) {
                IKHANDLE thumb = 0;
                std::memcpy(&thumb, rec.data() + IK_EX_THUMBNAIL, sizeof thumb);
                Attach(thumb);
                if (thumb)
                    return true;
            }
        }
    }
    return Load(path, show);
}

bool CImageKit::LoadScaled(const QString& path, QSize minSize, QSize* original) {
    SetProgressTexts(false);
    if (GetFileTypeCode(path) != 0) {
        Free();
        if (auto fn = Entries().IKFileLoadScaled) {
            int32_t w = 0, h = 0;
            const IKHANDLE handle =
                fn(Utf8(path).constData(), minSize.width(), minSize.height(), &w, &h);
            if (handle) {
                m_hImage = handle;
                if (original)
                    *original = QSize(w, h);
                return true;
            }
        }
    }
    if (LoadByPlugin(path)) {
        if (original)
            *original = GetSize();
        return true;
    }
    Free();
    return false;
}

bool CImageKit::LoadForThumbnail(const QString& path, QSize box, QSize* original) {
    char rec[IK_FILETYPE_SIZE] = {};
    const int type = GetFileTypeCode(path, rec);
    if (type == IK_TYPE_JPEG_EXIF) {
        if (auto fn = Entries().IKJpegExifInfo) {
            std::vector<char> exif(IK_EXIF_SIZE, 0);
            if (fn(Utf8(path).constData(), exif.data())) {
                IKHANDLE thumb = 0;
                std::memcpy(&thumb, exif.data() + IK_EX_THUMBNAIL, sizeof thumb);
                Attach(thumb);
                if (thumb) {
                    if (original)
                        *original = GetSize();
                    return true;
                }
            }
        }
    }
    QSize target = box;
    if (type != 0) {
        int32_t w = 0, h = 0;
        std::memcpy(&w, rec + IK_FT_WIDTH, 4);
        std::memcpy(&h, rec + IK_FT_HEIGHT, 4);
        target = FittedSize(QSize(w, h), box);
    }
    return LoadScaled(path, target, original);
}

bool CImageKit::LoadByPlugin(const QString& path) {
    if (SusieHost::GetFormatCount() < 1)
        return false;
    HLOCAL hInfo = nullptr, hBits = nullptr;
    SPI_PICTUREINFO info{};
    if (SusieHost::DecodeFile(path, &hInfo, &hBits, &info) != 0)
        return false;
    Free();
    // The blocks are read only as far as their sizes go; the picture is checked against the
    // library's limits before anything is allocated for it.
    const QImage picture =
        DibToImage(LocalLock(hInfo), LocalSize(hInfo), LocalLock(hBits), LocalSize(hBits));
    LocalUnlock(hInfo);
    LocalUnlock(hBits);
    LocalFree(hInfo);
    LocalFree(hBits);
    if (info.hInfo)
        LocalFree(info.hInfo);
    // A picture the library cannot take still counts as loaded; the object then holds no image.
    if (!picture.isNull())
        if (auto fn = Entries().IKDibFromBitmap)
            m_hImage = fn(&picture, 0);
    return true;
}

bool CImageKit::SaveBmp(const QString& path, bool show) {
    SetProgressTexts(show);
    auto fn = Entries().IKBmpFileSave;
    return fn && fn(Utf8(path).constData(), m_hImage, 0, 0, Caption(), Message(), Button()) != 0;
}

bool CImageKit::SaveJpeg(const QString& path, int quality, int progressive, int subsampling,
                         bool show) {
    SetProgressTexts(show);
    auto fn = Entries().IKJpegFileSave;
    return fn && fn(Utf8(path).constData(), m_hImage, progressive, quality, subsampling, "", 0,
                    Caption(), Message(), Button()) != 0;
}

bool CImageKit::SaveTiff(const QString& path, int compression, bool show) {
    SetProgressTexts(show);
    auto fn = Entries().IKTiffFileSave;
    return fn && fn(Utf8(path).constData(), m_hImage, compression, 0, 0, "", 0, 0, Caption(),
                    Message(), Button()) != 0;
}

bool CImageKit::SaveGif(const QString& path, int interlaced, int transparent, unsigned colour,
                        bool show) {
    SetProgressTexts(show);
    auto fn = Entries().IKGifFileSave;
    return fn && fn(Utf8(path).constData(), m_hImage, interlaced, transparent, int(colour & 0xFF),
                    int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF), 0, 0, "", 0, Caption(),
                    Message(), Button()) != 0;
}

bool CImageKit::SavePcx(const QString& path, bool show) {
    SetProgressTexts(show);
    auto fn = Entries().IKPcxFileSave;
    return fn && fn(Utf8(path).constData(), m_hImage, 0, Caption(), Message(), Button()) != 0;
}

bool CImageKit::SavePng(const QString& path, int interlaced, int transparent, unsigned colour,
                        int extra, bool show) {
    SetProgressTexts(show);
    auto fn = Entries().IKPngFileSave;
    return fn && fn(Utf8(path).constData(), m_hImage, interlaced, transparent, int(colour & 0xFF),
                    int((colour >> 8) & 0xFF), int((colour >> 16) & 0xFF), extra, 0, Caption(),
                    Message(), Button()) != 0;
}

bool CImageKit::Draw(QPainter* dc, int width, int height, int mode) {
    auto fn = Entries().IKImageOut;
    if (!fn || !dc)
        return false;
    const QSize own = GetSize();
    if (width == -1)
        width = own.width();
    if (height == -1)
        height = own.height();
    const IKRECT r{0, 0, width, height};
    return fn(dc, m_hImage, &r, mode, 0, 0) != 0;
}

bool CImageKit::DrawAt(QPainter* dc, int x, int y, int width, int height, int mode) {
    if (!dc)
        return false;
    const QTransform saved = dc->transform();
    dc->translate(x, y);
    const bool ok = Draw(dc, width, height, mode);
    dc->setTransform(saved);
    return ok;
}

QSize CImageKit::GetSize() const {
    auto fn = Entries().IKGetImageType;
    char rec[IK_IMAGETYPE_SIZE] = {};
    if (!fn || !fn(m_hImage, rec))
        return QSize(0, 0);
    int32_t w = 0, h = 0;
    std::memcpy(&w, rec + IK_IT_WIDTH, 4);
    std::memcpy(&h, rec + IK_IT_HEIGHT, 4);
    return QSize(w, h);
}

int CImageKit::GetBitCount() const {
    auto fn = Entries().IKGetImageType;
    char rec[IK_IMAGETYPE_SIZE] = {};
    if (!fn || !fn(m_hImage, rec))
        return 0;
    int16_t bits = 0;
    std::memcpy(&bits, rec + IK_IT_BITCOUNT, 2);
    return bits;
}

bool CImageKit::Resize(int width, int height, bool show) {
    if (!m_hImage)
        return false;
    SetProgressTexts(show);
    auto fn = Entries().IKResize;
    if (!fn)
        return false;
    const IKIMAGEREF r = fn(IKIMAGEREF{m_hImage, 0}, width, height, IK_RESIZE_SMOOTH, 0, Caption(),
                            Message(), Button());
    if (!r.image)
        return false;
    Attach(r.image);
    return true;
}

bool CImageKit::Sharpen(int strength, int left, int top, int right, int bottom, int option,
                        bool show) {
    SetProgressTexts(show);
    const IKPOINT corners[4] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
    IKHANDLE h = 0;
    if (auto fn = Entries().IKSharp)
        h = fn(IKIMAGEREF{m_hImage, 0}, IK_AREA_POLYGON, corners, 4, 0, option, strength, 0,
               Caption(), Message(), Button());
    if (!h) {
        QuillaMessageBox(nullptr, QStringLiteral("処理が失敗しました"), MB_OK);
        return false;
    }
    Attach(h);
    return true;
}

bool CImageKit::ConvertColor(int bits, int palette, int dither, bool show) {
    SetProgressTexts(show);
    auto fn = Entries().IKConvertColor;
    if (!fn)
        return false;
    const IKHANDLE h =
        fn(m_hImage, bits, palette, dither, IK_THRESHOLD_MIDDLE, 0, Caption(), Message(), Button());
    if (!h)
        return false;
    Attach(h);
    return true;
}

bool CImageKit::Orient(int orientation) {
    if (!m_hImage)
        return false;
    if (orientation == IK_ORIENT_NORMAL)
        return true;
    auto fn = Entries().IKOrient;
    const IKHANDLE h = fn ? fn(m_hImage, orientation) : 0;
    if (!h)
        return false;
    Attach(h);
    return true;
}

bool CImageKit::CopyToClipboard(QWidget* owner) {
    auto fn = Entries().IKSetToClipBrd;
    return fn && fn(owner, m_hImage, 0, "", "", "") != 0;
}

bool IsImageFile(const QString& path) {
    const QString ext = ExtensionOf(path);
    if (IsLibraryExtension(ext))
        return true;
    return SusieHost::GetFormatCount() > 0 && SusieHost::IsSupportedExtension(ext);
}

int GetFileTypeCode(const QString& path, void* record) {
    if (!IsLibraryExtension(ExtensionOf(path)))
        return 0;
    auto fn = Entries().IKFileType;
    if (!fn)
        return 0;
    char local[IK_FILETYPE_SIZE];
    char* rec = record ? static_cast<char*>(record) : local;
    if (!fn(Utf8(path).constData(), 0, rec))
        return 0;
    int16_t type = 0;
    std::memcpy(&type, rec + IK_FT_TYPE, 2);
    return type;
}

int GetSaveType(const QString& path) {
    if (!path.contains(QLatin1Char('.')))
        return -1;
    const QString ext = ExtensionOf(path);
    if (ext == QLatin1String(".bmp"))
        return 0;
    if (ext == QLatin1String(".gif"))
        return 1;
    if (ext == QLatin1String(".jpg") || ext == QLatin1String(".jpeg"))
        return 2;
    if (ext == QLatin1String(".tif") || ext == QLatin1String(".tiff"))
        return 3;
    if (ext == QLatin1String(".pcx"))
        return 4;
    if (ext == QLatin1String(".png"))
        return 5;
    return 255;
}

int CalcWidthForHeight(int width, int height, int newHeight) {
    if (width == 0)
        return 0;
    const int ratio = int(int64_t(height) * 10000 / width);
    // A picture more than 10,000 times wider than high has a ratio of 0, which cannot divide:
    // compute its width from the sides themselves.
    if (ratio == 0)
        return height == 0 ? 0 : int(int64_t(newHeight) * width / height);
    return int(uint32_t(newHeight * 10000) / uint32_t(ratio));
}

int CalcHeightForWidth(int width, int height, int newWidth) {
    if (width == 0)
        return 0;
    const int ratio = int(int64_t(height) * 10000 / width);
    return int(int64_t(newWidth) * ratio / 10000);
}
