#include "convert/Convert.h"

#include "imaging/SusieHost.h"

#include "imaging/ImageKit.h"
#include "platform/FileNames.h"
#include "platform/Files.h"
#include "platform/MsgBox.h"
#include "platform/Settings.h"

namespace Convert {

namespace {

struct FormatEntry {
    const char* listText;
    const char* extension;
    bool hasPage;
};
constexpr FormatEntry kFormats[kFormatCount] = {
    {"BMP", ".bmp", false}, {"GIFF", ".gif", true}, {"JPEG", ".jpg", true},
    {"TIFF", ".tif", true}, {"PCX", ".pcx", false}, {"PNG", ".png", true},
};

struct ColourEntry {
    const char16_t* text;
    int bits;
};
constexpr ColourEntry kColours[kColourCount] = {
    {u"変換しない", 0},   {u"2色", 1},          {u"16色", 4},         {u"256色", 8},
    {u"16bitカラー", 16}, {u"24bitカラー", 24}, {u"32bitカラー", 32},
};

bool ValidFormat(int format) {
    return format >= 0 && format < kFormatCount;
}

template <class T> T Pick(const std::optional<T>& v, const IntSetting& s) {
    return v ? *v : T(Settings::Get(s));
}

// The resize of step 5: the missing side from the fixed-point ratio of the picture's sides.
Result ResizeTo(CImageKit& kit, int width, int height, bool show) {
    if (width == 0 && height == 0)
        return Result::Ok;
    if (width == 0 || height == 0) {
        const QSize s = kit.GetSize();
        const int64_t ratio = s.width() > 0 ? int64_t(s.height()) * 10000 / s.width() : 0;
        // A picture more than 10,000 times wider than high has no usable ratio.
        if (ratio == 0)
            return Result::BadRatio;
        // A given side the library cannot take fails the resize as the library would, before
        // the arithmetic can overflow.
        const int given = width == 0 ? height : width;
        if (given < 1 || given > IK_MAX_SIDE)
            return Result::ResizeFailed;
        if (width == 0)
            width = CalcWidthForHeight(s.width(), s.height(), height);
        else
            height = CalcHeightForWidth(s.width(), s.height(), width);
    }
    return kit.Resize(width, height, show) ? Result::Ok : Result::ResizeFailed;
}

} // namespace

const char* FormatListText(int format) {
    return ValidFormat(format) ? kFormats[format].listText : "";
}

const char* FormatExtension(int format) {
    return ValidFormat(format) ? kFormats[format].extension : "";
}

bool HasOptionPage(int format) {
    return ValidFormat(format) && kFormats[format].hasPage;
}

QString ColourListText(int index) {
    return index >= 0 && index < kColourCount ? QString::fromUtf16(kColours[index].text)
                                              : QString();
}

int BitsOfColourIndex(int index) {
    return index >= 0 && index < kColourCount ? kColours[index].bits : 0;
}

int Options::Display() const {
    return Pick(display, Settings::CmdDisplay);
}
int Options::Palette() const {
    return Pick(palette, Settings::ColorPal);
}
int Options::Dither() const {
    return Pick(dither, Settings::ColorDither);
}
int Options::GifInterlace() const {
    return Pick(gifInterlace, Settings::GifInter);
}
int Options::GifTransparent() const {
    return Pick(gifTransparent, Settings::GifBack);
}
unsigned Options::GifColour() const {
    return Pick(gifColour, Settings::GifBackColorConvert);
}
int Options::JpegQuality() const {
    return Pick(jpegQuality, Settings::JpegQuality);
}
int Options::JpegProgressive() const {
    return Pick(jpegProgressive, Settings::JpegInter);
}
int Options::JpegSubsampling() const {
    return Pick(jpegSubsampling, Settings::JpegSubSamp);
}
int Options::TiffCompression() const {
    return Pick(tiffCompression, Settings::TiffType);
}
int Options::PngInterlace() const {
    return Pick(pngInterlace, Settings::PngInter);
}
int Options::PngTransparent() const {
    return Pick(pngTransparent, Settings::PngBack);
}
unsigned Options::PngColour() const {
    return Pick(pngColour, Settings::PngBackColorConvert);
}

Options Options::Resolved() const {
    Options o;
    o.display = Display();
    o.palette = Palette();
    o.dither = Dither();
    o.gifInterlace = GifInterlace();
    o.gifTransparent = GifTransparent();
    o.gifColour = GifColour();
    o.jpegQuality = JpegQuality();
    o.jpegProgressive = JpegProgressive();
    o.jpegSubsampling = JpegSubsampling();
    o.tiffCompression = TiffCompression();
    o.pngInterlace = PngInterlace();
    o.pngTransparent = PngTransparent();
    o.pngColour = PngColour();
    return o;
}

const char* ResultText(Result r) {
    switch (r) {
    case Result::Ok:
        return "converted";
    case Result::LoadFailed:
        return "cannot read the image";
    case Result::ResizeFailed:
        return "cannot resize the image to that size";
    case Result::BadRatio:
        return "the image is too wide to compute the missing side";
    case Result::SaveFailed:
        return "cannot write the file";
    case Result::BadFormat:
        return "unknown output format";
    case Result::NotRegular:
        return "not a regular file";
    }
    return "";
}

Result ConvertFile(const Request& req, const Options& opt, bool show, QString* reason) {
    if (reason)
        reason->clear();
    if (!ValidFormat(req.format))
        return Result::BadFormat;
    // Only regular files are opened: reading a FIFO would wait for a writer that never comes.
    if (const std::optional<Files::Info> info = Files::Stat(req.source); info && !info->isRegular)
        return Result::NotRegular;
    CImageKit kit;
    SusieHost::ClearLastError();
    if (!kit.Load(req.source, show) || kit.IsEmpty()) {
        if (reason)
            *reason = SusieHost::LastError();
        return Result::LoadFailed;
    }
    const int palette = opt.Palette(), dither = opt.Dither();
    // A failed colour conversion leaves the picture as it was loaded.
    if (req.bits > 0)
        kit.ConvertColor(req.bits, palette, dither, show);
    if (const Result r = ResizeTo(kit, req.width, req.height, show); r != Result::Ok)
        return r;
    bool saved = false;
    const int bits = kit.GetBitCount();
    switch (req.format) {
    case Bmp:
        saved = kit.SaveBmp(req.destination, show);
        break;
    case Gif:
        if (bits == 24)
            kit.ConvertColor(8, palette, dither, show);
        saved = kit.SaveGif(req.destination, opt.GifInterlace(), opt.GifTransparent(),
                            opt.GifColour(), show);
        break;
    case Jpeg:
        if (bits != 24)
            kit.ConvertColor(24, palette, dither, show);
        saved = kit.SaveJpeg(req.destination, opt.JpegQuality(), opt.JpegProgressive(),
                             opt.JpegSubsampling(), show);
        break;
    case Tiff:
        saved = kit.SaveTiff(req.destination, opt.TiffCompression(), show);
        break;
    case Pcx:
        if (bits == 16 || bits == 32)
            kit.ConvertColor(24, palette, dither, show);
        saved = kit.SavePcx(req.destination, show);
        break;
    case Png:
        if (bits == 16 || bits == 32)
            kit.ConvertColor(24, palette, dither, show);
        saved = kit.SavePng(req.destination, opt.PngInterlace(), opt.PngTransparent(),
                            opt.PngColour(), 0, show);
        break;
    }
    return saved ? Result::Ok : Result::SaveFailed;
}

int ConvertImageFile(const QString& source, const QString& destination, int format, int bits,
                     int width, int height) {
    const Options options;
    const Result r = ConvertFile({source, destination, format, bits, width, height}, options,
                                 options.Display() != 0);
    if (r == Result::ResizeFailed)
        QuillaMessageBox(nullptr, FileNames::Display(source), MB_OK);
    return r == Result::Ok ? 1 : 0;
}

QString WithSeparator(const QString& folder) {
    return folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

QString DestinationOf(const QString& folderWithSeparator, const QString& fileName, int format) {
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    return folderWithSeparator + (dot < 0 ? fileName : fileName.left(dot)) +
           QLatin1String(FormatExtension(format));
}

} // namespace Convert
