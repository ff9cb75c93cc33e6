// The conversion of one file: names, sizes, depths, the save options as the settings give them,
// failures, and several conversions at once.
#include "ConvertSupport.h"
#include "TestSupport.h"

#include "convert/Convert.h"
#include "imaging/ImageKit.h"
#include "imaging/ImageLibrary.h"
#include "platform/Settings.h"

#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <climits>
#include <sys/stat.h>
#include <thread>

using namespace convtest;
using Convert::Result;

namespace {

class ConvertFile : public ::testing::Test {
protected:
    void SetUp() override {
        LoadImageLibrary();
        m_old = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
            m_boxes.push_back(r.text);
            return IDOK;
        });
    }
    void TearDown() override { SetMessageBoxResponder(std::move(m_old)); }
    QString P(const QString& name) const { return m_dir.filePath(name); }
    Result Conv(const QString& src, const QString& dst, int format, int bits = 0, int w = 0,
                int h = 0) {
        return Convert::ConvertFile({P(src), P(dst), format, bits, w, h}, Convert::Options(),
                                    false);
    }
    QSize SizeOf(const QString& name) {
        const QStringList wh = Identify("%w %h", P(name)).split(' ');
        return wh.size() == 2 ? QSize(wh[0].toInt(), wh[1].toInt()) : QSize();
    }

    TempSettings m_settings;
    QTemporaryDir m_tmp;
    QDir m_dir{m_tmp.path()};
    QStringList m_boxes;
    MsgBoxResponder m_old;
};

} // namespace

TEST(ConvertLists, FormatAndColourListsInTheirOrder) {
    const char* texts[] = {"BMP", "GIFF", "JPEG", "TIFF", "PCX", "PNG"};
    const char* exts[] = {".bmp", ".gif", ".jpg", ".tif", ".pcx", ".png"};
    for (int i = 0; i < Convert::kFormatCount; ++i) {
        EXPECT_STREQ(Convert::FormatListText(i), texts[i]);
        EXPECT_STREQ(Convert::FormatExtension(i), exts[i]);
        EXPECT_EQ(Convert::HasOptionPage(i), i != Convert::Bmp && i != Convert::Pcx) << i;
    }
    EXPECT_STREQ(Convert::FormatExtension(6), "");
    const QStringList colours = {"変換しない",  "2色",         "16色",       "256色",
                                 "16bitカラー", "24bitカラー", "32bitカラー"};
    const int bits[] = {0, 1, 4, 8, 16, 24, 32};
    for (int i = 0; i < Convert::kColourCount; ++i) {
        EXPECT_EQ(Convert::ColourListText(i), colours[i]);
        EXPECT_EQ(Convert::BitsOfColourIndex(i), bits[i]);
    }
    EXPECT_EQ(Convert::BitsOfColourIndex(-1), 0); // nothing chosen: no conversion
}

TEST(ConvertNames, SeparatorAndDestination) {
    EXPECT_EQ(Convert::WithSeparator(""), "/");
    EXPECT_EQ(Convert::WithSeparator("/work"), "/work/");
    EXPECT_EQ(Convert::WithSeparator("/work/"), "/work/");
    EXPECT_EQ(Convert::WithSeparator("/写真 フォルダ"), "/写真 フォルダ/");
    EXPECT_EQ(Convert::DestinationOf("/o/", "photo.jpeg", Convert::Jpeg), "/o/photo.jpg");
    EXPECT_EQ(Convert::DestinationOf("/o/", "a.b.PNG", Convert::Gif), "/o/a.b.gif");
    // The dot is looked for in the name only, never in the folder.
    EXPECT_EQ(Convert::DestinationOf("/o.d/", "README", Convert::Png), "/o.d/README.png");
    EXPECT_EQ(Convert::DestinationOf("/o/", ".hidden.tif", Convert::Bmp), "/o/.hidden.bmp");
}

TEST_F(ConvertFile, ResizeKeepsTheRatioWhenOneSideIsGiven) {
    WriteGradient(P("big.png"), 1600, 1200);
    // R = 7500: width 400 gives height 300.
    ASSERT_EQ(Conv("big.png", "w.png", Convert::Png, 0, 400, 0), Result::Ok);
    EXPECT_EQ(SizeOf("w.png"), QSize(400, 300));
    ASSERT_EQ(Conv("big.png", "h.png", Convert::Png, 0, 0, 150), Result::Ok);
    EXPECT_EQ(SizeOf("h.png"), QSize(200, 150));
    // Both sides: exactly that size, proportions lost.
    ASSERT_EQ(Conv("big.png", "both.png", Convert::Png, 0, 100, 100), Result::Ok);
    EXPECT_EQ(SizeOf("both.png"), QSize(100, 100));
    // Neither: no resize.
    ASSERT_EQ(Conv("big.png", "none.png", Convert::Png, 0, 0, 0), Result::Ok);
    EXPECT_EQ(SizeOf("none.png"), QSize(1600, 1200));
    // Truncating arithmetic: 7 × 3 has R = 4285; width 10 gives 4 (4.285), height 2 gives 4
    // (20000 / 4285 = 4.67).
    WriteGradient(P("small.png"), 7, 3);
    ASSERT_EQ(Conv("small.png", "s1.png", Convert::Png, 0, 10, 0), Result::Ok);
    EXPECT_EQ(SizeOf("s1.png"), QSize(10, 4));
    ASSERT_EQ(Conv("small.png", "s2.png", Convert::Png, 0, 0, 2), Result::Ok);
    EXPECT_EQ(SizeOf("s2.png"), QSize(4, 2));
}

TEST_F(ConvertFile, RatioZeroAndImpossibleSizesFailWithoutWriting) {
    // More than 10,000 times wider than high: no ratio, a failed conversion.
    WriteFlat(P("strip.png"), 20001, 1, Qt::red);
    EXPECT_EQ(Conv("strip.png", "a.png", Convert::Png, 0, 0, 5), Result::BadRatio);
    EXPECT_EQ(Conv("strip.png", "b.png", Convert::Png, 0, 5, 0), Result::BadRatio);
    EXPECT_FALSE(QFileInfo::exists(P("a.png")));
    // Both sides given need no ratio.
    EXPECT_EQ(Conv("strip.png", "c.png", Convert::Png, 0, 100, 1), Result::Ok);
    // A side the library cannot make, and one so large the arithmetic would overflow.
    WriteGradient(P("g.png"), 40, 30);
    EXPECT_EQ(Conv("g.png", "d.png", Convert::Png, 0, 0, 70000), Result::ResizeFailed);
    EXPECT_EQ(Conv("g.png", "d.png", Convert::Png, 0, 300000, 0), Result::ResizeFailed);
    EXPECT_EQ(Conv("g.png", "d.png", Convert::Png, 0, -5, 0), Result::ResizeFailed);
    EXPECT_FALSE(QFileInfo::exists(P("d.png")));
    // The conversion command's routine reports a failed resize with the bare source path.
    EXPECT_EQ(Convert::ConvertImageFile(P("g.png"), P("d.png"), Convert::Png, 0, 0, 70000), 0);
    EXPECT_EQ(m_boxes, QStringList{P("g.png")});
    m_boxes.clear();
    EXPECT_EQ(Convert::ConvertImageFile(P("strip.png"), P("d.png"), Convert::Png, 0, 0, 5), 0);
    EXPECT_TRUE(m_boxes.isEmpty());
}

TEST_F(ConvertFile, GifIsAlwaysEightBitsAndJpegAlwaysTrueColour) {
    REQUIRE_PROGRAM(kPython);
    WriteGradient(P("photo.png"), 64, 48); // 24 bits
    ASSERT_EQ(Conv("photo.png", "photo.gif", Convert::Gif), Result::Ok);
    EXPECT_EQ(Pillow("import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                     "print(im.format, im.mode, len(im.getcolors(256) or []) > 16)",
                     {P("photo.gif")}),
              "GIF P True");
    // The reduction before the GIF saver follows "Color"/"Pal": 1 makes grey levels.
    Settings::Write(Settings::ColorPal, 1);
    ASSERT_EQ(Conv("photo.png", "grey.gif", Convert::Gif), Result::Ok);
    EXPECT_EQ(
        Pillow("import sys; from PIL import Image; im = Image.open(sys.argv[1]).convert('RGB'); "
               "print(all(r == g == b for n, (r, g, b) in im.getcolors(256)))",
               {P("grey.gif")}),
        "True");
    Settings::Write(Settings::ColorPal, 0);
    // Two colours asked for, JPEG written: expanded to 24 bits, black and white only.
    ASSERT_EQ(Conv("photo.png", "bw.jpg", Convert::Jpeg, 1), Result::Ok);
    EXPECT_EQ(Pillow("import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                     "print(im.format, im.mode, im.layers)",
                     {P("bw.jpg")}),
              "JPEG RGB 3");
    // 16 colours asked for, PNG written: a palette of at most 16 entries.
    ASSERT_EQ(Conv("photo.png", "p16.png", Convert::Png, 4), Result::Ok);
    EXPECT_EQ(Pillow("import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                     "print(im.mode, len(im.getcolors(256)) <= 16)",
                     {P("p16.png")}),
              "P True");
    // 32 bits asked for, PCX written: brought back to 24 bits.
    ASSERT_EQ(Conv("photo.png", "p.pcx", Convert::Pcx, 32), Result::Ok);
    EXPECT_EQ(Pillow("import sys; from PIL import Image; print(Image.open(sys.argv[1]).mode)",
                     {P("p.pcx")}),
              "RGB");
    // BMP keeps what the colour list asked for.
    ASSERT_EQ(Conv("photo.png", "p.bmp", Convert::Bmp, 8), Result::Ok);
    EXPECT_EQ(Identify("%[bit-depth] %[type]", P("p.bmp")).section(' ', 0, 0), "8");
}

TEST_F(ConvertFile, SaveOptionsComeFromTheSettingsWithTheConvertersDefaults) {
    REQUIRE_PROGRAM(kPython);
    WriteGradient(P("src.png"), 64, 48);
    // Nothing stored: quality 75, baseline, 4:1:1 (2 × 2), GIF without transparency.
    ASSERT_EQ(Conv("src.png", "d.jpg", Convert::Jpeg), Result::Ok);
    const QString script = "import sys; from PIL import Image, JpegImagePlugin; "
                           "im = Image.open(sys.argv[1]); "
                           "print(bool(im.info.get('progressive')), "
                           "JpegImagePlugin.get_sampling(im))";
    EXPECT_EQ(Pillow(script, {P("d.jpg")}), "False 2");
    EXPECT_EQ(Identify("%Q", P("d.jpg")), "75");
    Settings::Write(Settings::JpegQuality, 40);
    Settings::Write(Settings::JpegInter, 1);
    Settings::Write(Settings::JpegSubSamp, 2);
    ASSERT_EQ(Conv("src.png", "o.jpg", Convert::Jpeg), Result::Ok);
    EXPECT_EQ(Pillow(script, {P("o.jpg")}), "True 0");
    EXPECT_EQ(Identify("%Q", P("o.jpg")), "40");

    // Transparency on without a stored colour: the converter's default is black.
    WriteFlat(P("flat.png"), 16, 16, Qt::black);
    Settings::Write(Settings::GifBack, 1);
    Settings::Write(Settings::PngBack, 1);
    ASSERT_EQ(Conv("flat.png", "t.gif", Convert::Gif), Result::Ok);
    ASSERT_EQ(Conv("flat.png", "t.png", Convert::Png), Result::Ok);
    const QString transparent = "import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                                "t = im.info.get('transparency'); "
                                "print(im.convert('RGB').getpixel((0, 0)) if t is not None "
                                "else None, im.convert('RGBA').getpixel((0, 0))[3])";
    EXPECT_EQ(Pillow(transparent, {P("t.gif")}), "(0, 0, 0) 0");
    EXPECT_EQ(Pillow(transparent, {P("t.png")}), "(0, 0, 0) 0");
    // A stored colour is handed over as its red, green and blue bytes (0x00BBGGRR).
    WriteFlat(P("green.png"), 16, 16, QColor(0, 255, 0));
    Settings::Write(Settings::PngBackColorSheet, 0x00FF00);
    Settings::Write(Settings::PngInter, 1);
    ASSERT_EQ(Conv("green.png", "g.png", Convert::Png), Result::Ok);
    EXPECT_EQ(Pillow("import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                     "print(im.info.get('transparency'), im.info.get('interlace'))",
                     {P("g.png")}),
              "(0, 255, 0) 1");
    // TIFF compression by list index: 6 is LZW.
    Settings::Write(Settings::TiffType, 6);
    ASSERT_EQ(Conv("src.png", "c.tif", Convert::Tiff), Result::Ok);
    EXPECT_EQ(Identify("%C", P("c.tif")), "LZW");
}

TEST_F(ConvertFile, UnreadableTruncatedAndHostileSourcesFail) {
    WriteGradient(P("good.png"), 200, 100);
    const QByteArray png = ReadAll(P("good.png"));
    WriteAll(P("cut.png"), png.left(60));
    WriteAll(P("text.jpg"), "not a picture at all");
    WriteAll(P("empty.gif"), QByteArray());
    // A BMP header claiming 60000 × 60000 pixels in a file of a few bytes.
    QByteArray bmp("BM");
    bmp += QByteArray(12, '\0');
    bmp += QByteArray::fromHex("28000000"
                               "60ea0000"
                               "60ea0000"
                               "0100"
                               "1800") +
           QByteArray(24, 0);
    WriteAll(P("huge.bmp"), bmp);
    for (const char* name : {"cut.png", "text.jpg", "empty.gif", "huge.bmp", "missing.png"})
        EXPECT_EQ(Conv(name, "out.bmp", Convert::Bmp), Result::LoadFailed) << name;
    EXPECT_FALSE(QFileInfo::exists(P("out.bmp")));
    // A destination that cannot be written: nothing is left behind.
    EXPECT_EQ(Conv("good.png", "no/such/folder.png", Convert::Png), Result::SaveFailed);
    EXPECT_EQ(Conv("good.png", "x.png", 9), Result::BadFormat);
    EXPECT_EQ(m_dir.entryList(QDir::Files | QDir::Hidden).size(), 5);
}

TEST_F(ConvertFile, ManyAtOnceWriteWhatOneAtATimeWritesAndKeepTheMask) {
    const int n = 8;
    for (int i = 0; i < n; ++i)
        WriteGradient(P(QString("s%1.png").arg(i)), 300 + 17 * i, 200);
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(
            Conv(QString("s%1.png").arg(i), QString("one%1.gif").arg(i), Convert::Gif, 0, 150),
            Result::Ok);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    std::vector<std::thread> threads;
    std::vector<Result> results(n, Result::BadFormat);
    for (int i = 0; i < n; ++i)
        threads.emplace_back([&, i] {
            results[size_t(i)] =
                Convert::ConvertFile({P(QString("s%1.png").arg(i)), P(QString("many%1.gif").arg(i)),
                                      Convert::Gif, 0, 150, 0},
                                     Convert::Options().Resolved(), false);
        });
    for (auto& t : threads)
        t.join();
    const mode_t after = ::umask(mask);
    EXPECT_EQ(after, mask);
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(results[size_t(i)], Result::Ok);
        EXPECT_EQ(ReadAll(P(QString("many%1.gif").arg(i))), ReadAll(P(QString("one%1.gif").arg(i))))
            << i;
        struct stat st {};
        ASSERT_EQ(::stat(P(QString("many%1.gif").arg(i)).toUtf8().constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    }
}

TEST_F(ConvertFile, PaletteReductionTakesTheNearestColourAndDitheringKeepsTheAverage) {
    WriteGradient(P("grad.png"), 160, 120);
    const QImage source = QImage(P("grad.png")).convertToFormat(QImage::Format_RGB32);
    Settings::Write(Settings::ColorDither, 0);
    ASSERT_EQ(Conv("grad.png", "plain.bmp", Convert::Bmp, 4), Result::Ok);
    Settings::Write(Settings::ColorDither, 1);
    ASSERT_EQ(Conv("grad.png", "dith.bmp", Convert::Bmp, 4), Result::Ok);
    const QImage plain(P("plain.bmp")), dith(P("dith.bmp"));
    ASSERT_EQ(plain.format(), QImage::Format_Indexed8);
    ASSERT_EQ(plain.size(), source.size());
    const QVector<QRgb> table = plain.colorTable();
    ASSERT_LE(table.size(), 16);
    const auto dist = [](QRgb a, QRgb b) {
        const int r = qRed(a) - qRed(b), g = qGreen(a) - qGreen(b), bl = qBlue(a) - qBlue(b);
        return r * r + g * g + bl * bl;
    };
    // Without dithering every pixel takes its nearest palette colour.
    int worse = 0;
    for (int y = 0; y < source.height(); ++y)
        for (int x = 0; x < source.width(); ++x) {
            const QRgb s = source.pixel(x, y);
            int best = INT_MAX;
            for (QRgb c : table)
                best = std::min(best, dist(s, c));
            worse += dist(s, plain.pixel(x, y)) != best;
        }
    EXPECT_EQ(worse, 0);
    // With dithering the average colour of each 8 × 8 block stays close to the source's.
    const auto blockError = [&](const QImage& img) {
        double sum = 0;
        int blocks = 0;
        for (int by = 0; by + 8 <= source.height(); by += 8)
            for (int bx = 0; bx + 8 <= source.width(); bx += 8, ++blocks) {
                double d[3] = {0, 0, 0};
                for (int y = by; y < by + 8; ++y)
                    for (int x = bx; x < bx + 8; ++x) {
                        const QRgb s = source.pixel(x, y), o = img.pixel(x, y);
                        d[0] += qRed(s) - qRed(o);
                        d[1] += qGreen(s) - qGreen(o);
                        d[2] += qBlue(s) - qBlue(o);
                    }
                sum += (std::abs(d[0]) + std::abs(d[1]) + std::abs(d[2])) / 64.0 / 3.0;
            }
        return sum / blocks;
    };
    EXPECT_LT(blockError(dith), 6.0);
    EXPECT_LT(blockError(dith), blockError(plain) / 2);
}
