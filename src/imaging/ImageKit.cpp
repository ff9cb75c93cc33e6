#include "imaging/ImageKit.h"

#include "imaging/Dib.h"
#include "imaging/Fit.h"
#include "imaging/ImageLibrary.h"
#include "imaging/SPIControl.h"
#include "imaging/SusieHost.h"
#include "platform/DisplayProfile.h"
#include "platform/FileNames.h"
#include "platform/MsgBox.h"

#include <QPainter>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

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

template <typename Text> bool IsLibraryExtension(const Text& ext) {
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
    return LoadScaledAs(path, GetFileTypeCode(path), minSize, original);
}

bool CImageKit::LoadScaledAs(const QString& path, int type, QSize minSize, QSize* original) {
    SetProgressTexts(false);
    if (type != 0) {
        Free();
        if (auto fn = Entries().IKFileLoadScaledAs) {
            int32_t w = 0, h = 0;
            const IKHANDLE handle =
                fn(Utf8(path).constData(), type, minSize.width(), minSize.height(), &w, &h);
            if (handle) {
                m_hImage = handle;
                if (original)
                    *original = QSize(w, h);
                return true;
            }
        }
    }
    // The plug-ins are asked for the picture reduced too; a file the library does not read has
    // no known size here, so the box is the size wanted.
    if (LoadByPluginScaled(path, minSize, original))
        return true;
    Free();
    return false;
}

namespace {

int OrientationIn(const char* record) {
    int16_t o = 0;
    std::memcpy(&o, record + IK_FT_ORIENTATION, 2);
    return o >= IK_ORIENT_NORMAL && o <= IK_ORIENT_ROTATE_270 ? o : IK_ORIENT_NORMAL;
}

bool SwapsSides(int orientation) {
    return orientation >= IK_ORIENT_TRANSPOSE;
}

} // namespace

bool CImageKit::LoadForThumbnail(const QString& path, QSize box, QSize* original, bool* fromExif,
                                 int exifAtLeast) {
    char rec[IK_FILETYPE_SIZE] = {};
    const int type = GetFileTypeCode(path, rec);
    const int orientation = type != 0 ? OrientationIn(rec) : IK_ORIENT_NORMAL;
    if (fromExif)
        *fromExif = false;
    if (type == IK_TYPE_JPEG_EXIF) {
        if (auto fn = Entries().IKJpegExifInfo) {
            std::vector<char> exif(IK_EXIF_SIZE, 0);
            if (fn(Utf8(path).constData(), exif.data())) {
                IKHANDLE thumb = 0;
                std::memcpy(&thumb, exif.data() + IK_EX_THUMBNAIL, sizeof thumb);
                Attach(thumb);
                const QSize own = GetSize();
                const bool large = std::max(own.width(), own.height()) >= exifAtLeast;
                // The embedded thumbnail is stored as the picture is: turned upright alike.
                if (thumb && large && Orient(orientation)) {
                    if (original)
                        *original = GetSize();
                    if (fromExif)
                        *fromExif = true;
                    return true;
                }
                if (!large)
                    Free(); // the file itself is decoded below
            }
        }
    }
    QSize target = box;
    if (type != 0) {
        int32_t w = 0, h = 0;
        std::memcpy(&w, rec + IK_FT_WIDTH, 4);
        std::memcpy(&h, rec + IK_FT_HEIGHT, 4);
        // The box applies to the picture as it will stand; the decoder sees it as stored.
        const QSize stored(w, h);
        const QSize upright = SwapsSides(orientation) ? stored.transposed() : stored;
        target = FittedSize(upright, box);
        if (SwapsSides(orientation))
            target.transpose();
    }
    QSize size;
    // The type is known: the file is not recognised again.
    if (!LoadScaledAs(path, type, target, &size))
        return false;
    if (!Orient(orientation)) {
        Free();
        return false;
    }
    if (original)
        *original = SwapsSides(orientation) ? size.transposed() : size;
    return true;
}

QByteArray CImageKit::GetColorProfile() const {
    auto fn = Entries().IKGetColorProfile;
    if (!m_hImage || !fn)
        return QByteArray();
    const int size = fn(m_hImage, nullptr, 0);
    if (size <= 0)
        return QByteArray();
    QByteArray profile(size, Qt::Uninitialized);
    return fn(m_hImage, profile.data(), size) == size ? profile : QByteArray();
}

bool CImageKit::ConvertToProfile(const QByteArray& profile) {
    if (!m_hImage)
        return false;
    if (GetColorProfile() == profile)
        return true;
    auto fn = Entries().IKColorTransform;
    const IKHANDLE h = fn ? fn(m_hImage, profile.constData(), int(profile.size())) : 0;
    if (!h)
        return false;
    Attach(h);
    return true;
}

bool CImageKit::ConvertToDisplay() {
    return ConvertToProfile(DisplayProfile::Current());
}

bool CImageKit::LoadUpright(const QString& path, bool show) {
    if (!Load(path, show))
        return false;
    const int orientation = OrientationOf(path);
    if (orientation != IK_ORIENT_NORMAL && !IsEmpty())
        Orient(orientation);
    return true;
}

void CImageKit::Release(IKHANDLE image) {
    if (!image)
        return;
    if (auto fn = Entries().IKFreeMemory)
        fn(image);
}

IKHANDLE CImageKit::Detach() {
    return std::exchange(m_hImage, 0);
}

int64_t CImageKit::ByteCount() const {
    auto fn = Entries().IKGetImageType;
    char rec[IK_IMAGETYPE_SIZE] = {};
    if (!m_hImage || !fn || !fn(m_hImage, rec))
        return 0;
    int32_t stride = 0, h = 0;
    std::memcpy(&stride, rec + IK_IT_STRIDE, 4);
    std::memcpy(&h, rec + IK_IT_HEIGHT, 4);
    return int64_t(stride) * h;
}

bool CImageKit::TrySharpen(int strength, int left, int top, int right, int bottom) {
    const IKPOINT corners[4] = {{left, top}, {right, top}, {right, bottom}, {left, bottom}};
    auto fn = Entries().IKSharp;
    const IKHANDLE h = fn ? fn(IKIMAGEREF{m_hImage, 0}, IK_AREA_POLYGON, corners, 4, 0,
                               IK_SHARP_DEFAULT, strength, 0, "", "", "")
                          : 0;
    if (!h)
        return false;
    Attach(h);
    return true;
}

bool CImageKit::LoadPngWithText(const QString& path,
                                std::vector<std::pair<QByteArray, QByteArray>>* text) {
    Free();
    auto read = Entries().IKPngTextRead;
    auto load = Entries().IKFileLoad;
    if (!read || !load)
        return false;
    const QByteArray native = Utf8(path);
    std::vector<char> buf(64 * 1024);
    const int n = read(native.constData(), buf.data(), int(buf.size()));
    if (n <= 0)
        return false;
    if (text) {
        text->clear();
        for (int i = 0; i < n && buf[size_t(i)];) {
            const QByteArray key(buf.data() + i);
            i += int(key.size()) + 1;
            const QByteArray value(buf.data() + i);
            i += int(value.size()) + 1;
            text->emplace_back(key, value);
        }
    }
    m_hImage = load(native.constData(), 0, 0, 0, 0, "", "", "");
    return m_hImage != 0;
}

bool CImageKit::SavePngWithText(const QString& path,
                                const std::vector<std::pair<QByteArray, QByteArray>>& text,
                                int mode) const {
    auto fn = Entries().IKPngFileSaveText;
    if (!fn || !m_hImage)
        return false;
    std::vector<const char*> keys, values;
    for (const auto& [k, v] : text) {
        keys.push_back(k.constData());
        values.push_back(v.constData());
    }
    // The shared cache's entries are sRGB, as its standard says: a picture in another profile is
    // written converted (a copy; the picture itself keeps its colours). One whose profile cannot
    // be converted is written as it is.
    CImageKit srgb;
    if (!GetColorProfile().isEmpty())
        if (auto convert = Entries().IKColorTransform)
            srgb.Attach(convert(m_hImage, nullptr, 0));
    return fn(Utf8(path).constData(), srgb.IsEmpty() ? m_hImage : srgb.GetHandle(),
              int(text.size()), keys.data(), values.data(), mode) != 0;
}

int OrientationOf(const QString& path) {
    char rec[IK_FILETYPE_SIZE] = {};
    return GetFileTypeCode(path, rec) != 0 ? OrientationIn(rec) : IK_ORIENT_NORMAL;
}

namespace {
thread_local bool t_noPlugins = false;
} // namespace

CImageKit::NoPlugins::NoPlugins() : m_bBefore(std::exchange(t_noPlugins, true)) {}

CImageKit::NoPlugins::~NoPlugins() {
    t_noPlugins = m_bBefore;
}

bool CImageKit::LoadByPlugin(const QString& path, bool reserved, const std::atomic<bool>* cancel) {
    if (t_noPlugins || SusieHost::GetFormatCount() < 1)
        return false;
    SpiPicture picture;
    if (SusieHost::DecodeFile(path, &picture, nullptr, reserved, cancel) != 0)
        return false;
    Free();
    // The picture was checked against the library's limits in the helper and again when it came
    // back; the library copies it out of the shared memory, which goes with picture.
    // A picture the library cannot take still counts as loaded; the object then holds no image.
    if (!picture.image.isNull())
        if (auto fn = Entries().IKDibFromBitmap)
            m_hImage = fn(&picture.image, 0);
    return true;
}

bool CImageKit::LoadByPluginScaled(const QString& path, QSize box, QSize* original) {
    if (t_noPlugins || SusieHost::GetFormatCount() < 1)
        return false;
    SpiPicture picture;
    if (SusieHost::DecodeScaled(path, box, &picture) != 0)
        return false;
    Free();
    if (!picture.image.isNull())
        if (auto fn = Entries().IKDibFromBitmap)
            m_hImage = fn(&picture.image, 0);
    if (original)
        *original = picture.whole.isEmpty() ? GetSize() : picture.whole;
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
    // A listing asks for every name: a plain ASCII extension is compared where it lies.
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && path.size() - dot <= 5) {
        char lower[6] = {};
        bool ascii = true;
        for (qsizetype i = dot; i < path.size() && ascii; ++i) {
            const char16_t c = path[i].unicode();
            ascii = c < 0x80;
            lower[i - dot] = char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        }
        if (ascii)
            return IsLibraryExtension(QLatin1String(lower)) ||
                   (SusieHost::GetFormatCount() > 0 &&
                    SusieHost::IsSupportedExtension(QString::fromLatin1(lower)));
    }
    const QString ext = ExtensionOf(path);
    if (IsLibraryExtension(ext))
        return true;
    return SusieHost::GetFormatCount() > 0 && SusieHost::IsSupportedExtension(ext);
}

bool IsLibraryFileName(const QString& path) {
    return IsLibraryExtension(ExtensionOf(path));
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

namespace {
template <class T> T FieldAt(const char* record, int offset) {
    T v;
    std::memcpy(&v, record + offset, sizeof v);
    return v;
}
} // namespace

bool GetImageFileInfo(const QString& path, ImageFileInfo& info) {
    auto fn = Entries().IKFileType;
    std::vector<char> rec(IK_FILETYPE_SIZE, 0);
    if (!fn || !fn(Utf8(path).constData(), 0, rec.data()))
        return false;
    info.type = FieldAt<int16_t>(rec.data(), IK_FT_TYPE);
    info.interlaced = FieldAt<int16_t>(rec.data(), IK_FT_INTERLACE) != 0;
    info.width = FieldAt<int32_t>(rec.data(), IK_FT_WIDTH);
    info.height = FieldAt<int32_t>(rec.data(), IK_FT_HEIGHT);
    info.panes = FieldAt<int16_t>(rec.data(), IK_FT_PANES);
    info.fileSize = FieldAt<uint32_t>(rec.data(), IK_FT_FILESIZE);
    rec.back() = '\0';
    info.comment = QString::fromUtf8(rec.data() + IK_FT_COMMENT);
    return true;
}

bool GetExifShootingInfo(const QString& path, ExifShootingInfo& info) {
    auto fn = Entries().IKJpegExifInfo;
    std::vector<char> rec(IK_EXIF_SIZE, 0);
    if (!fn || !fn(Utf8(path).constData(), rec.data()))
        return false;
    // The embedded thumbnail is of no use here.
    if (auto release = Entries().IKFreeMemory)
        release(FieldAt<IKHANDLE>(rec.data(), IK_EX_THUMBNAIL));
    auto text = [&](int offset, int size) {
        return QString::fromUtf8(rec.data() + offset, qstrnlen(rec.data() + offset, size));
    };
    info.maker = text(IK_EX_MAKER, 1024);
    info.model = text(IK_EX_MODEL, 1024);
    info.dateTime = text(IK_EX_DATETIME, 52);
    info.exposureNum = FieldAt<uint32_t>(rec.data(), IK_EX_EXPOSURE);
    info.exposureDen = FieldAt<uint32_t>(rec.data(), IK_EX_EXPOSURE + 4);
    info.shutterNum = FieldAt<int32_t>(rec.data(), IK_EX_SHUTTER);
    info.shutterDen = FieldAt<int32_t>(rec.data(), IK_EX_SHUTTER + 4);
    info.focalNum = FieldAt<uint32_t>(rec.data(), IK_EX_FOCAL);
    info.focalDen = FieldAt<uint32_t>(rec.data(), IK_EX_FOCAL + 4);
    info.fNumberNum = FieldAt<uint32_t>(rec.data(), IK_EX_FNUMBER);
    info.fNumberDen = FieldAt<uint32_t>(rec.data(), IK_EX_FNUMBER + 4);
    return true;
}
