// Colour profiles: the profiles embedded in JPEG, PNG and TIFF files read, their colours converted
// to sRGB (compared with Little CMS's own jpgicc and tificc converting the same files), damaged
// profiles ignored, and the profiles kept when a picture is saved again.
#include "ImagingSupport.h"
#include "SpiDirect.h"

#include "imaging/ImageKit.h"
#include "imaging/ImageLibrary.h"
#include "platform/DisplayProfile.h"
#include "thumbs/ThumbnailCache.h"
#include "thumbs/ThumbnailLoader.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <atomic>
#include <cmath>
#include <lcms2.h>
#include <thread>
#include <tiffio.h>
#include <unistd.h>
#include <vector>

#if QUILLA_TEST_HAVE_X11
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

using namespace testimg;

namespace {

const QString kProfiles = QStringLiteral("/usr/share/color/icc/colord/");
const QString kAdobe = kProfiles + QStringLiteral("AdobeRGB1998.icc");
const QString kProPhoto = kProfiles + QStringLiteral("ProPhotoRGB.icc");

// Colour patches, saturated ones first (those a wide-gamut profile moves most).
const QRgb kPatches[] = {
    qRgb(255, 0, 0),    qRgb(0, 255, 0),    qRgb(0, 0, 255),     qRgb(255, 255, 0),
    qRgb(0, 255, 255),  qRgb(255, 0, 255),  qRgb(200, 120, 90),  qRgb(128, 128, 128),
    qRgb(40, 60, 200),  qRgb(20, 20, 20),   qRgb(240, 240, 240), qRgb(90, 160, 60),
    qRgb(180, 40, 120), qRgb(250, 150, 30), qRgb(60, 200, 200),  qRgb(255, 255, 255)};
constexpr int kColumns = 8, kRows = 2, kSide = 32;

#define REQUIRE_FILE(path)                                                                         \
    do {                                                                                           \
        if (!QFile::exists(path))                                                                  \
            GTEST_SKIP() << qPrintable(path) << " is not installed";                               \
    } while (0)

// The mean colour of the middle half of each patch of a picture of the patch grid at any scale.
std::vector<QRgb> PatchMeans(const QImage& img) {
    std::vector<QRgb> out;
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    const int pw = rgb.width() / kColumns, ph = rgb.height() / kRows;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kColumns; ++c) {
            long sum[3] = {0, 0, 0}, n = 0;
            for (int y = r * ph + ph / 4; y < r * ph + ph * 3 / 4; ++y)
                for (int x = c * pw + pw / 4; x < c * pw + pw * 3 / 4; ++x) {
                    const QRgb p = rgb.pixel(x, y);
                    sum[0] += qRed(p);
                    sum[1] += qGreen(p);
                    sum[2] += qBlue(p);
                    ++n;
                }
            out.push_back(n ? qRgb(int(sum[0] / n), int(sum[1] / n), int(sum[2] / n)) : 0);
        }
    return out;
}

// The CIE 1976 colour difference of two sRGB colours, through Little CMS's Lab.
double DeltaE(QRgb a, QRgb b) {
    static const struct ToLab {
        cmsHTRANSFORM t;
        ToLab() {
            cmsHPROFILE srgb = cmsCreate_sRGBProfile(), lab = cmsCreateLab4Profile(nullptr);
            t = cmsCreateTransform(srgb, TYPE_RGB_8, lab, TYPE_Lab_DBL,
                                   INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
            cmsCloseProfile(srgb);
            cmsCloseProfile(lab);
        }
    } toLab;
    const uchar in[6] = {uchar(qRed(a)), uchar(qGreen(a)), uchar(qBlue(a)),
                         uchar(qRed(b)), uchar(qGreen(b)), uchar(qBlue(b))};
    cmsCIELab lab[2];
    cmsDoTransform(toLab.t, in, lab, 2);
    return cmsDeltaE(&lab[0], &lab[1]);
}

// The largest colour difference between the patches of two pictures.
double WorstDeltaE(const QImage& a, const QImage& b) {
    const std::vector<QRgb> pa = PatchMeans(a), pb = PatchMeans(b);
    double worst = 0;
    for (size_t i = 0; i < pa.size() && i < pb.size(); ++i)
        worst = std::max(worst, DeltaE(pa[i], pb[i]));
    return worst;
}

QByteArray ProfileOf(IKHANDLE h) {
    const int n = IKGetColorProfile(h, nullptr, 0);
    QByteArray out(std::max(0, n), '\0');
    if (n > 0) {
        EXPECT_EQ(IKGetColorProfile(h, out.data(), n), n);
    }
    return out;
}

QByteArray Md5(const QByteArray& b) {
    return QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex();
}

// The profile a file embeds, as exiftool extracts it.
QByteArray ProfileByExiftool(const QString& path) {
    QByteArray out;
    EXPECT_TRUE(RunTool(QStringLiteral("exiftool"), {"-b", "-icc_profile", path}, &out));
    return out;
}

// An 8-bit RGB TIFF of the picture carrying the bytes as its colour profile.
bool WriteTiffWithProfile(const QString& path, const QImage& img, const QByteArray& icc) {
    TIFF* tif = TIFFOpen(path.toLocal8Bit().constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(img.width()));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(img.height()));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(img.height()));
    TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(icc.size()), icc.constData());
    const QImage rgb = img.convertToFormat(QImage::Format_RGB888);
    bool ok = true;
    for (int y = 0; y < rgb.height() && ok; ++y)
        ok = TIFFWriteScanline(tif, const_cast<uchar*>(rgb.constScanLine(y)), uint32_t(y)) >= 0;
    TIFFClose(tif);
    return ok;
}

class ColorProfile : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_TOOL("jpgicc");
        REQUIRE_TOOL("tificc");
        REQUIRE_TOOL("convert");
        REQUIRE_FILE(kAdobe);
        REQUIRE_FILE(kProPhoto);
        LoadImageLibrary();
    }
    QDir Dir() const { return QDir(m_dir.path()); }
    // The patches as an sRGB picture without a profile, in a lossless file of the given format.
    QString PatchFile(const QString& name) {
        QImage img(kColumns * kSide, kRows * kSide, QImage::Format_RGB32);
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x)
                img.setPixel(x, y, kPatches[(y / kSide) * kColumns + x / kSide]);
        const QString ppm = Dir().filePath(QStringLiteral("patches.ppm"));
        EXPECT_TRUE(img.save(ppm, "PPM"));
        return Convert(Dir(), ppm, name, {"-quality", "100"});
    }
    // The patches converted by jpgicc or tificc into the profile, which the file embeds.
    QString InProfile(const QString& tool, const QString& src, const QString& profile,
                      const QString& name) {
        const QString out = Dir().filePath(name);
        QStringList args{QStringLiteral("-o") + profile, QStringLiteral("-e")};
        if (tool == QLatin1String("jpgicc"))
            args << QStringLiteral("-q100");
        EXPECT_TRUE(RunTool(tool, args + QStringList{src, out}));
        return out;
    }
    // The peer's conversion of a file with an embedded profile back to sRGB.
    QImage PeerToSrgb(const QString& tool, const QString& src, const QString& name) {
        const QString out = Dir().filePath(name);
        QStringList args;
        if (tool == QLatin1String("jpgicc"))
            args << QStringLiteral("-q100");
        EXPECT_TRUE(RunTool(tool, args + QStringList{src, out}));
        // The peer's file holds sRGB without a profile: read as it is stored.
        return Loaded(out).Rgb();
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_F(ColorProfile, JpegInAdobeRgbMatchesJpgiccAndThumbnailIsSrgb) {
    const QString adobe =
        InProfile("jpgicc", PatchFile("srgb.jpg"), kAdobe, QStringLiteral("adobe.jpg"));
    const QImage reference = PeerToSrgb("jpgicc", adobe, QStringLiteral("back.jpg"));
    ASSERT_FALSE(reference.isNull());

    Loaded raw(adobe);
    ASSERT_NE(raw.Handle(), 0u);
    EXPECT_EQ(Md5(ProfileOf(raw.Handle())), Md5(ReadBytes(kAdobe)));
    // Taken as sRGB, the saturated patches are visibly wrong: the comparison can tell.
    EXPECT_GT(WorstDeltaE(raw.Rgb(), reference), 5.0);

    Loaded srgb(IKColorTransform(raw.Handle(), nullptr, 0));
    ASSERT_NE(srgb.Handle(), 0u);
    EXPECT_EQ(IKGetColorProfile(srgb.Handle(), nullptr, 0), 0);
    EXPECT_LE(WorstDeltaE(srgb.Rgb(), reference), 2.0);

    // The thumbnail's way: decoded at a reduced scale, then converted.
    CImageKit kit;
    QSize original;
    ASSERT_TRUE(
        kit.LoadForThumbnail(adobe, QSize(kColumns * kSide / 2, kRows * kSide / 2), &original));
    EXPECT_EQ(original, QSize(kColumns * kSide, kRows * kSide));
    EXPECT_LT(kit.GetSize().width(), original.width());
    EXPECT_EQ(Md5(kit.GetColorProfile()), Md5(ReadBytes(kAdobe)));
    ASSERT_TRUE(kit.ConvertToProfile(QByteArray()));
    EXPECT_TRUE(kit.GetColorProfile().isEmpty());
    // Converting to the profile it is in already does nothing.
    const IKHANDLE before = kit.GetHandle();
    EXPECT_TRUE(kit.ConvertToProfile(QByteArray()));
    EXPECT_EQ(kit.GetHandle(), before);
    Loaded thumb(kit.Detach());
    EXPECT_LE(WorstDeltaE(thumb.Rgb(), reference), 2.0);
}

TEST_F(ColorProfile, TiffInProPhotoMatchesTificcToSrgbAndToAnotherProfile) {
    const QString pro =
        InProfile("tificc", PatchFile("srgb.tif"), kProPhoto, QStringLiteral("pro.tif"));
    const QImage reference = PeerToSrgb("tificc", pro, QStringLiteral("back.tif"));
    ASSERT_FALSE(reference.isNull());
    Loaded raw(pro);
    ASSERT_NE(raw.Handle(), 0u);
    EXPECT_EQ(Md5(ProfileOf(raw.Handle())), Md5(ReadBytes(kProPhoto)));
    EXPECT_GT(WorstDeltaE(raw.Rgb(), reference), 5.0);
    Loaded srgb(IKColorTransform(raw.Handle(), nullptr, 0));
    ASSERT_NE(srgb.Handle(), 0u);
    EXPECT_LE(WorstDeltaE(srgb.Rgb(), reference), 2.0);

    // To a screen in AdobeRGB: the peer's conversion of the same file to that profile.
    const QString peerAdobe = Dir().filePath(QStringLiteral("peer-adobe.tif"));
    ASSERT_TRUE(RunTool("tificc", {QStringLiteral("-o") + kAdobe, pro, peerAdobe}));
    const QByteArray adobe = ReadBytes(kAdobe);
    Loaded toAdobe(IKColorTransform(raw.Handle(), adobe.constData(), int(adobe.size())));
    ASSERT_NE(toAdobe.Handle(), 0u);
    EXPECT_EQ(Md5(ProfileOf(toAdobe.Handle())), Md5(adobe));
    // Both in AdobeRGB: compared as numbers, the difference in sRGB terms is what ΔE measures.
    EXPECT_LE(MaxDiff(toAdobe.Rgb(), Loaded(peerAdobe).Rgb()), 3);
}

TEST_F(ColorProfile, PngIccpAndPaletteAgainstTificcOfTheSamePixels) {
    // The same pixels with AdobeRGB assigned, as a PNG (iCCP) and a TIFF for the peer.
    const QString ppm = PatchFile("srgb.ppm");
    const QString png = Convert(Dir(), ppm, "adobe.png", {"-profile", kAdobe});
    const QString tif = Convert(Dir(), ppm, "adobe.tif", {"-profile", kAdobe});
    const QImage reference = PeerToSrgb("tificc", tif, QStringLiteral("back.tif"));
    Loaded raw(png);
    ASSERT_NE(raw.Handle(), 0u);
    ASSERT_GT(IKGetColorProfile(raw.Handle(), nullptr, 0), 0);
    Loaded srgb(IKColorTransform(raw.Handle(), nullptr, 0));
    EXPECT_LE(WorstDeltaE(srgb.Rgb(), reference), 2.0);
    // A palette picture is converted through its colours.
    const QString pal = Convert(Dir(), ppm, "PNG8:adobe8.png", {"-profile", kAdobe});
    Loaded palette(pal);
    ASSERT_EQ(palette.Bpp(), 8);
    Loaded palSrgb(IKColorTransform(palette.Handle(), nullptr, 0));
    ASSERT_NE(palSrgb.Handle(), 0u);
    EXPECT_EQ(palSrgb.Bpp(), 8);
    EXPECT_LE(WorstDeltaE(palSrgb.Rgb(), reference), 2.0);
}

TEST_F(ColorProfile, PngGammaWithoutProfileAndSrgbChunk) {
    // A PNG written by Qt, its chunks rebuilt with a gAMA of 1.0 (linear light) or an sRGB mark.
    const QString plain = PatchFile("plain.png");
    const QByteArray bytes = ReadBytes(plain);
    ASSERT_GT(bytes.size(), 33);
    auto withChunk = [&](const char* type, const QByteArray& data, const QString& name) {
        // The signature and IHDR (8 + 25 bytes), the new chunk, then the rest.
        return WriteBytes(Dir(), name, bytes.left(33) + PngChunk(type, data) + bytes.mid(33));
    };
    QByteArray gamma1;
    AppendBE32(gamma1, 100000);
    Loaded linear(withChunk("gAMA", gamma1, "linear.png"));
    ASSERT_NE(linear.Handle(), 0u);
    ASSERT_GT(IKGetColorProfile(linear.Handle(), nullptr, 0), 0);
    Loaded srgb(IKColorTransform(linear.Handle(), nullptr, 0));
    // Expected: each stored value is linear light, encoded by sRGB's curve.
    QImage expected(kColumns * kSide, kRows * kSide, QImage::Format_RGB32);
    auto encode = [](int v) {
        const double l = v / 255.0;
        const double e = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055;
        return int(std::lround(e * 255));
    };
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb p = kPatches[(y / kSide) * kColumns + x / kSide];
            expected.setPixel(x, y, qRgb(encode(qRed(p)), encode(qGreen(p)), encode(qBlue(p))));
        }
    EXPECT_LE(WorstDeltaE(srgb.Rgb(), expected), 2.0);
    EXPECT_GT(WorstDeltaE(linear.Rgb(), expected), 5.0);

    // The sRGB mark (even with a gamma beside it) is sRGB: no profile, nothing to convert.
    QByteArray intent(1, '\0');
    Loaded marked(withChunk("sRGB", intent, "marked.png"));
    ASSERT_NE(marked.Handle(), 0u);
    EXPECT_EQ(IKGetColorProfile(marked.Handle(), nullptr, 0), 0);
    EXPECT_EQ(MaxDiff(marked.Rgb(), Loaded(plain).Rgb()), 0);
}

TEST_F(ColorProfile, MultiSegmentJpegProfileAndDamagedSegments) {
    // A profile larger than one APP2 segment holds: AdobeRGB with a long copyright text.
    cmsHPROFILE base = cmsOpenProfileFromFile(kAdobe.toLocal8Bit().constData(), "r");
    ASSERT_NE(base, nullptr);
    cmsMLU* text = cmsMLUalloc(nullptr, 1);
    const std::string filler(150000, 'c');
    cmsMLUsetASCII(text, "en", "US", filler.c_str());
    cmsWriteTag(base, cmsSigCopyrightTag, text);
    cmsMLUfree(text);
    cmsUInt32Number size = 0;
    ASSERT_TRUE(cmsSaveProfileToMem(base, nullptr, &size));
    QByteArray big(qsizetype(size), '\0');
    ASSERT_TRUE(cmsSaveProfileToMem(base, big.data(), &size));
    cmsCloseProfile(base);
    ASSERT_GT(big.size(), 2 * 65519);
    const QString bigPath = WriteBytes(Dir(), "big.icc", big);
    const QString jpeg = PatchFile("srgb.jpg");
    const QString tagged = Dir().filePath("big.jpg");
    ASSERT_TRUE(RunTool("exiftool", {"-q", "-o", tagged, "-icc_profile<=" + bigPath, jpeg}));

    Loaded whole(tagged);
    ASSERT_NE(whole.Handle(), 0u);
    EXPECT_EQ(Md5(ProfileOf(whole.Handle())), Md5(big));
    const QImage untouched = Loaded(jpeg).Rgb();

    // The APP2 segments, found by their marker and "ICC_PROFILE" name.
    const QByteArray file = ReadBytes(tagged);
    std::vector<qsizetype> segments;
    for (qsizetype at = file.indexOf("ICC_PROFILE"); at >= 0;
         at = file.indexOf("ICC_PROFILE", at + 1))
        segments.push_back(at);
    ASSERT_GE(segments.size(), 3u);
    // Sequence numbers follow the name's NUL: [seq][count].
    auto damaged = [&](const QString& name, const std::function<void(QByteArray&)>& change) {
        QByteArray b = file;
        change(b);
        return WriteBytes(Dir(), name, b);
    };
    const QStringList variants{
        damaged("repeated.jpg", [&](QByteArray& b) { b[segments[1] + 12] = b[segments[0] + 12]; }),
        damaged("beyond.jpg", [&](QByteArray& b) { b[segments[1] + 12] = char(99); }),
        damaged("zero.jpg", [&](QByteArray& b) { b[segments[2] + 12] = char(0); }),
        damaged("counts.jpg", [&](QByteArray& b) { b[segments[1] + 13] = char(7); }),
        damaged("renamed.jpg", [&](QByteArray& b) { b[segments[1]] = 'X'; }),
        // The data garbled where the tag table lies: not a profile Little CMS reads.
        damaged("garbled.jpg",
                [&](QByteArray& b) {
                    for (int i = 0; i < 400; ++i)
                        b[segments[0] + 14 + 128 + i] = char(0xA5 ^ i);
                }),
    };
    for (const QString& path : variants) {
        SCOPED_TRACE(path.toStdString());
        Loaded l(path);
        ASSERT_NE(l.Handle(), 0u);
        EXPECT_EQ(IKGetColorProfile(l.Handle(), nullptr, 0), 0);
        EXPECT_EQ(MaxDiff(l.Rgb(), untouched), 0);
        // The app's conversion to sRGB leaves such a picture as it is.
        CImageKit kit;
        kit.Attach(IKFileLoad(path.toUtf8().constData(), 0, 0, 0, 0, "", "", ""));
        EXPECT_TRUE(kit.ConvertToProfile(QByteArray()));
        EXPECT_EQ(MaxDiff(Loaded(kit.Detach()).Rgb(), untouched), 0);
    }
}

TEST_F(ColorProfile, HostileProfilesInPngAndTiffAreIgnored) {
    const QString ppm = PatchFile("srgb.ppm");
    const QImage untouched = Loaded(Convert(Dir(), ppm, "plain.png")).Rgb();
    // A truncated profile and one of random bytes with a profile's size field.
    QByteArray truncated = ReadBytes(kProPhoto).left(200);
    QByteArray garbage(3000, '\0');
    for (int i = 0; i < garbage.size(); ++i)
        garbage[i] = char((i * 7919) ^ (i >> 3));
    garbage[0] = 0, garbage[1] = 0, garbage[2] = char(3000 >> 8), garbage[3] = char(3000 & 255);
    int n = 0;
    for (const QByteArray& bad : {truncated, garbage}) {
        SCOPED_TRACE(n);
        const QString icc = WriteBytes(Dir(), QStringLiteral("bad%1.icc").arg(n), bad);
        // The PNG chunk is built here: ImageMagick checks what it embeds.
        QByteArray iccp("bad");
        iccp.append('\0').append('\0').append(qCompress(bad).mid(4));
        const QByteArray plain = ReadBytes(Dir().filePath("plain.png"));
        const QString png = WriteBytes(Dir(), QStringLiteral("bad%1.png").arg(n),
                                       plain.left(33) + PngChunk("iCCP", iccp) + plain.mid(33));
        // The TIFF is written here too: exiftool refuses to embed what is no profile.
        const QString tif = Dir().filePath(QStringLiteral("bad%1.tif").arg(n));
        ASSERT_TRUE(WriteTiffWithProfile(tif, untouched, bad));
        for (const QString& path : {png, tif}) {
            Loaded l(path);
            ASSERT_NE(l.Handle(), 0u) << path.toStdString();
            EXPECT_EQ(IKGetColorProfile(l.Handle(), nullptr, 0), 0) << path.toStdString();
            EXPECT_EQ(MaxDiff(l.Rgb(), untouched), 0) << path.toStdString();
        }
        // A destination that is no profile is refused with a reason; the picture is kept.
        Loaded l(png);
        EXPECT_EQ(IKColorTransform(l.Handle(), bad.constData(), int(bad.size())), 0u);
        EXPECT_EQ(LastStatus().code, IK_ERR_DATA);
        EXPECT_FALSE(LastStatus().reason.isEmpty());
        ++n;
    }
}

TEST_F(ColorProfile, SavedFilesKeepTheProfileAndThePixels) {
    REQUIRE_TOOL("exiftool");
    const QString pro =
        InProfile("tificc", PatchFile("srgb.tif"), kProPhoto, QStringLiteral("pro.tif"));
    const QByteArray profile = ReadBytes(kProPhoto);
    Loaded src(pro);
    ASSERT_NE(src.Handle(), 0u);
    // Operations that make new images keep it.
    IKIMAGEREF resized = IKResize({src.Handle(), 0}, 128, 32, IK_RESIZE_SMOOTH, 0, "", "", "");
    Loaded small(resized.image);
    EXPECT_EQ(Md5(ProfileOf(small.Handle())), Md5(profile));
    Loaded turned(IKOrient(src.Handle(), IK_ORIENT_ROTATE_90));
    EXPECT_EQ(Md5(ProfileOf(turned.Handle())), Md5(profile));

    const QString jpg = Dir().filePath("out.jpg"), png = Dir().filePath("out.png"),
                  tif = Dir().filePath("out.tif");
    ASSERT_TRUE(IKJpegFileSave(jpg.toUtf8().constData(), src.Handle(), 0, 95, IK_JPEG_444, "", 0,
                               "", "", ""));
    ASSERT_TRUE(
        IKPngFileSave(png.toUtf8().constData(), src.Handle(), 0, 0, 0, 0, 0, 0, 0, "", "", ""));
    ASSERT_TRUE(IKTiffFileSave(tif.toUtf8().constData(), src.Handle(), IK_TIFF_LZW, 0, 0, "", 0, 0,
                               "", "", ""));
    for (const QString& path : {jpg, png, tif}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(Md5(ProfileByExiftool(path)), Md5(profile));
        Loaded back(path);
        EXPECT_EQ(Md5(ProfileOf(back.Handle())), Md5(profile));
        // The pixels are written as they were, not converted.
        EXPECT_LE(MaxDiff(back.Rgb(), src.Rgb()), path == jpg ? 12 : 0);
    }
    // The shared cache's entries are written without a profile.
    const char* keys[] = {"Thumb::URI"};
    const char* values[] = {"file:///x"};
    const QString cache = Dir().filePath("cache.png");
    ASSERT_TRUE(IKPngFileSaveText(cache.toUtf8().constData(), src.Handle(), 1, keys, values, -1));
    EXPECT_TRUE(ProfileByExiftool(cache).isEmpty());
}

TEST_F(ColorProfile, ConversionsAreSharedByThreads) {
    const QString adobe =
        InProfile("jpgicc", PatchFile("srgb.jpg"), kAdobe, QStringLiteral("adobe.jpg"));
    const QString pro =
        InProfile("jpgicc", PatchFile("srgb2.jpg"), kProPhoto, QStringLiteral("pro.jpg"));
    Loaded refA(IKColorTransform(Loaded(adobe).Handle(), nullptr, 0));
    Loaded refP(IKColorTransform(Loaded(pro).Handle(), nullptr, 0));
    const QImage expectA = refA.Rgb(), expectP = refP.Rgb();
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 6; ++i) {
                const bool a = (t + i) % 2 == 0;
                CImageKit kit;
                QSize original;
                if (!kit.LoadForThumbnail(a ? adobe : pro, QSize(kColumns * kSide, kRows * kSide),
                                          &original) ||
                    !kit.ConvertToProfile(QByteArray())) {
                    ++wrong;
                    continue;
                }
                Loaded l(kit.Detach());
                if (MaxDiff(l.Rgb(), a ? expectA : expectP) != 0)
                    ++wrong;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(ColorProfile, PluginsHandOverSrgbFromWebpHeifAndJpegXl) {
    // The patches with AdobeRGB assigned: a true-colour PNG for the encoders (heif-enc misreads
    // palette PNGs), a TIFF for the peer.
    const QString ppm = PatchFile("srgb.ppm");
    const QString png = Convert(Dir(), ppm, "PNG24:adobe.png", {"-profile", kAdobe});
    const QString tif = Convert(Dir(), ppm, "adobe.tif", {"-profile", kAdobe});
    const QImage reference = PeerToSrgb("tificc", tif, QStringLiteral("back.tif"));
    const QImage assigned = Loaded(png).Rgb(); // the pixels as stored
    ASSERT_GT(WorstDeltaE(assigned, reference), 5.0);
    struct Case {
        const char* plugin;
        const char* tool;
        QStringList args; // %in and %out stand for the files
        const char* name;
        double tolerance;
    };
    const Case cases[] = {
        {"webp",
         "cwebp",
         {"-quiet", "-lossless", "-metadata", "icc", "%in", "-o", "%out"},
         "a.webp",
         2.0},
        {"jxl", "cjxl", {"%in", "%out", "-d", "0", "--quiet"}, "a.jxl", 2.0},
        // Lossy JPEG XL keeps the colours as XYB: libjxl renders them in sRGB itself.
        {"jxl", "cjxl", {"%in", "%out", "-d", "1", "--quiet"}, "lossy.jxl", 4.0},
        // Lossy: the encoder's own error comes on top.
        {"heif", "heif-enc", {"-q", "95", "%in", "-o", "%out"}, "a.heic", 4.0},
    };
    int tested = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.plugin);
        SpiDirect spi(c.plugin);
        if (!spi.Loaded() || !Have(c.tool))
            continue;
        const QString out = Dir().filePath(c.name);
        QStringList args = c.args;
        args.replaceInStrings("%in", png).replaceInStrings("%out", out);
        ASSERT_TRUE(RunTool(c.tool, args));
        const QImage picture = spi.Picture(out);
        ASSERT_FALSE(picture.isNull());
        EXPECT_LE(WorstDeltaE(picture, reference), c.tolerance);
        // Reduced pictures for thumbnails are converted too.
        if (spi.HasScaled()) {
            const QImage small = spi.Picture(out, nullptr, QSize(kColumns * kSide / 2, kSide));
            ASSERT_FALSE(small.isNull());
            EXPECT_LE(WorstDeltaE(small, reference), c.tolerance + 1);
        }
        ++tested;
    }
    if (tested == 0)
        GTEST_SKIP() << "no plug-in or encoder";
}

// A lossy JPEG XL picture with an AdobeRGB profile, dark tones only: libjxl renders its XYB
// colours straight in sRGB for the plug-in, so the dark tones come out as tificc turns the same
// pixels to sRGB (at 8 bits in linear light, then converted, their steps would be many levels).
TEST_F(ColorProfile, LossyJpegXlKeepsItsDarkTones) {
    REQUIRE_TOOL("cjxl");
    SpiDirect jxl("jxl");
    if (!jxl.Loaded())
        GTEST_SKIP() << "jxl.spi was not built";
    QImage ramp(256, 32, QImage::Format_RGB32);
    for (int y = 0; y < ramp.height(); ++y)
        for (int x = 0; x < ramp.width(); ++x)
            ramp.setPixel(x, y, qRgb(x * 40 / 255, x * 48 / 255, x * 32 / 255));
    const QString tif = Dir().filePath(QStringLiteral("dark.tif"));
    ASSERT_TRUE(WriteTiffWithProfile(tif, ramp, ReadBytes(kAdobe)));
    const QString png = Convert(Dir(), tif, "PNG24:dark.png", {});
    const QString out = Dir().filePath(QStringLiteral("dark.jxl"));
    ASSERT_TRUE(RunTool("cjxl", {png, out, "-d", "0.3", "--quiet"}));
    const QImage reference = PeerToSrgb("tificc", tif, QStringLiteral("back.tif"));
    const QImage picture = jxl.Picture(out);
    ASSERT_EQ(picture.size(), ramp.size());
    // The middle row, away from the encoder's edges.
    int worst = 0;
    double sum = 0;
    const int y = ramp.height() / 2;
    for (int x = 4; x < ramp.width() - 4; ++x) {
        const QRgb a = picture.pixel(x, y), b = reference.pixel(x, y);
        const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                std::abs(qBlue(a) - qBlue(b))});
        worst = std::max(worst, d);
        sum += d;
    }
    EXPECT_LE(worst, 4);
    EXPECT_LT(sum / (ramp.width() - 8), 1.5);
}

TEST_F(ColorProfile, ThumbnailCacheHoldsSrgbAndTilesFollowTheScreenProfile) {
    QTemporaryDir cache;
    ThumbnailCache::SetBaseDir(cache.path());
    const QString adobe =
        InProfile("jpgicc", PatchFile("srgb.jpg"), kAdobe, QStringLiteral("adobe.jpg"));
    const QImage reference = PeerToSrgb("jpgicc", adobe, QStringLiteral("back.jpg"));
    const QImage stored = Loaded(adobe).Rgb(); // AdobeRGB numbers
    const ThumbnailJob job{1, adobe, QSize(kColumns * kSide / 2, kColumns * kSide / 2), false};

    // Jobs run on a worker thread, never on the user-interface one.
    auto make = [&job] {
        ThumbnailResult r;
        std::thread([&] { r = CThumbnailLoader::Make(job); }).join();
        return r;
    };
    const ThumbnailResult first = make();
    ASSERT_NE(first.image, 0u);
    EXPECT_FALSE(first.fromCache);
    Loaded tile(first.image);
    EXPECT_LE(WorstDeltaE(tile.Rgb(), reference), 2.0);
    // The entry written is sRGB, without a profile, for every program that reads the cache.
    const QString entry = ThumbnailCache::EntryPath(adobe, ThumbnailCache::ClassSide(job.box));
    ASSERT_TRUE(QFile::exists(entry));
    Loaded cached(entry);
    EXPECT_EQ(IKGetColorProfile(cached.Handle(), nullptr, 0), 0);
    EXPECT_TRUE(ProfileByExiftool(entry).isEmpty());
    EXPECT_LE(WorstDeltaE(cached.Rgb(), reference), 2.0);

    // A screen in AdobeRGB: the tile made from the cache entry is in the screen's numbers, which
    // are the file's own.
    const QByteArray screen = ReadBytes(kAdobe);
    DisplayProfile::Override(&screen);
    const ThumbnailResult second = make();
    DisplayProfile::Override(nullptr);
    ASSERT_NE(second.image, 0u);
    EXPECT_TRUE(second.fromCache);
    Loaded tile2(second.image);
    EXPECT_EQ(Md5(ProfileOf(tile2.Handle())), Md5(screen));
    const std::vector<QRgb> got = PatchMeans(tile2.Rgb()), want = PatchMeans(stored);
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(qRed(got[i]), qRed(want[i]), 6);
        EXPECT_NEAR(qGreen(got[i]), qGreen(want[i]), 6);
        EXPECT_NEAR(qBlue(got[i]), qBlue(want[i]), 6);
    }
    ThumbnailCache::SetBaseDir(QString());
}

#if QUILLA_TEST_HAVE_X11
TEST(DisplayProfileX11, TheRootWindowsPropertyIsReadFromTheDisplay) {
    if (!QFile::exists("/usr/bin/Xvfb"))
        GTEST_SKIP() << "Xvfb is not installed";
    // A virtual screen of its own, on a display number no other test run takes.
    const QByteArray name = ":" + QByteArray::number(200 + ::getpid() % 500);
    QProcess server;
    server.start("/usr/bin/Xvfb", {QString::fromLatin1(name), "-nolisten", "tcp"});
    ASSERT_TRUE(server.waitForStarted());
    Display* dpy = nullptr;
    for (int i = 0; i < 100 && !dpy; ++i) {
        dpy = XOpenDisplay(name.constData());
        if (!dpy)
            QThread::msleep(50);
    }
    ASSERT_NE(dpy, nullptr);
    const QByteArray old = qgetenv("DISPLAY");
    qputenv("DISPLAY", name);
    // No property: sRGB.
    EXPECT_TRUE(DisplayProfile::ReadFromX11().isEmpty());
    QFile file(kAdobe);
    if (file.open(QIODevice::ReadOnly)) {
        const QByteArray profile = file.readAll();
        const Atom atom = XInternAtom(dpy, "_ICC_PROFILE", False);
        XChangeProperty(dpy, DefaultRootWindow(dpy), atom, XA_CARDINAL, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(profile.constData()),
                        int(profile.size()));
        XSync(dpy, False);
        EXPECT_EQ(DisplayProfile::ReadFromX11(), profile);
    }
    qputenv("DISPLAY", old);
    XCloseDisplay(dpy);
    server.kill();
    server.waitForFinished();
}
#endif
