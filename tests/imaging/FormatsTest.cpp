// Recognition and decoding of every format, on files written by independent tools.
#include "ImagingSupport.h"

#include <QFile>

using namespace testimg;

namespace {

constexpr int W = 61, H = 37;

QImage Reference(int w = W, int h = H) {
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, Pattern(x, y, w, h));
    return img;
}

class Formats : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("convert"))
            GTEST_SKIP() << "ImageMagick is not installed";
        m_ppm = WritePpm(m_dir.path(), "src.ppm", W, H);
    }
    QDir Dir() const { return QDir(m_dir.path()); }
    QString Make(const QString& dst, const QStringList& options = {}) {
        return Convert(Dir(), m_ppm, dst, options);
    }

    QTemporaryDir m_dir;
    QString m_ppm;
};

} // namespace

TEST_F(Formats, LosslessTrueColourFilesDecodeExactly) {
    struct Case {
        QString file;
        QStringList options;
        int type, bpp;
    };
    const Case cases[] = {
        {"rgb24.bmp", {"-type", "TrueColor"}, IK_TYPE_BMP, 24},
        {"BMP3:rgb24v3.bmp", {"-type", "TrueColor"}, IK_TYPE_BMP, 24},
        {"rgb.png", {}, IK_TYPE_PNG, 24},
        {"rgb16.png", {"-depth", "16"}, IK_TYPE_PNG, 24},
        {"interlaced.png", {"-interlace", "PNG"}, IK_TYPE_PNG, 24},
        {"none.tif", {"-compress", "None"}, IK_TYPE_TIFF_NONE, 24},
        {"lzw.tif", {"-compress", "LZW"}, IK_TYPE_TIFF_LZW, 24},
        {"packbits.tif", {"-compress", "RLE"}, IK_TYPE_TIFF_PACKBITS, 24},
        {"zip.tif", {"-compress", "Zip"}, IK_TYPE_TIFF_OTHER, 24},
        {"rgb.pcx", {"-type", "TrueColor"}, IK_TYPE_PCX, 24},
    };
    const QImage ref = Reference();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const QString path = Make(c.file, c.options);
        const FileType t = TypeOf(path);
        EXPECT_EQ(t.ok, 1);
        EXPECT_EQ(t.type, c.type);
        EXPECT_EQ(t.width, W);
        EXPECT_EQ(t.height, H);
        EXPECT_EQ(t.panes, 1);
        EXPECT_EQ(t.fileSize, uint32_t(QFile(path).size()));
        Loaded img(path);
        ASSERT_NE(img.Handle(), 0u);
        EXPECT_EQ(img.Bpp(), c.bpp);
        EXPECT_EQ(img.Size(), QSize(W, H));
        EXPECT_EQ(MaxDiff(img.Rgb(), ref), 0);
    }
}

TEST_F(Formats, PaletteAndGreyFilesKeepTheirDepth) {
    struct Case {
        QString file;
        QStringList options;
        int type, bpp;
    };
    const Case cases[] = {
        {"mono.bmp", {"-monochrome"}, IK_TYPE_BMP, 1},
        {"pal16.bmp", {"-colors", "16", "-type", "Palette"}, IK_TYPE_BMP, 4},
        {"pal256.bmp", {"-colors", "200", "-type", "Palette", "-compress", "None"}, IK_TYPE_BMP, 8},
        {"rle8v5.bmp", {"-colors", "200", "-type", "Palette"}, IK_TYPE_BMP_RLE8, 8},
        {"BMP3:rle8.bmp",
         {"-colors", "200", "-type", "Palette", "-compress", "RLE"},
         IK_TYPE_BMP_RLE8,
         8},
        {"mono.png", {"-monochrome"}, IK_TYPE_PNG, 1},
        {"grey.png", {"-colorspace", "Gray"}, IK_TYPE_PNG, 8},
        {"pal.png", {"-colors", "100", "PNG8:"}, IK_TYPE_PNG, 8},
        {"pal.gif", {"-colors", "100"}, IK_TYPE_GIF89A, 8},
        {"GIF87:old.gif", {"-colors", "12"}, IK_TYPE_GIF87A, 4},
        {"g4.tif", {"-monochrome", "-compress", "Group4"}, IK_TYPE_TIFF_G4, 1},
        {"fax.tif", {"-monochrome", "-compress", "Fax"}, IK_TYPE_TIFF_G3_1D, 1},
        {"pal.tif", {"-colors", "50", "-type", "Palette", "-compress", "LZW"}, IK_TYPE_TIFF_LZW, 8},
        {"grey.tif", {"-colorspace", "Gray"}, IK_TYPE_TIFF_NONE, 8},
        {"pal.pcx", {"-colors", "200", "-type", "Palette"}, IK_TYPE_PCX, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        QString file = c.file;
        QStringList options = c.options;
        if (options.last() == "PNG8:") { // a format prefix given as the last option
            options.removeLast();
            file = "PNG8:" + file;
        }
        const QString path = Make(file, options);
        const FileType t = TypeOf(path);
        EXPECT_EQ(t.type, c.type);
        EXPECT_EQ(t.width, W);
        Loaded img(path);
        ASSERT_NE(img.Handle(), 0u);
        EXPECT_EQ(img.Bpp(), c.bpp);
        // What the tool wrote, read back as the reference: by Pillow for BMP (ImageMagick
        // adjusts the colours of its own version-5 BMP files when it reads them), else by
        // ImageMagick itself.
        QString back = Dir().filePath("back.ppm");
        if (path.endsWith(".bmp") && Have("/usr/bin/python3"))
            ASSERT_TRUE(RunTool("/usr/bin/python3",
                                {"-c",
                                 "import sys; from PIL import Image; "
                                 "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])",
                                 path, back}));
        else
            back = Convert(Dir(), path, "back.ppm");
        QImage ref;
        ASSERT_TRUE(ref.load(back));
        EXPECT_EQ(MaxDiff(img.Rgb(), ref), 0);
        EXPECT_LE(img.Get()->img.colorCount(), 1 << c.bpp);
    }
}

TEST_F(Formats, OneBitAndFourBitPcxFromPillow) {
    REQUIRE_TOOL("/usr/bin/python3");
    const QString mono = Dir().filePath("mono.pcx"), ref = Dir().filePath("mono.png");
    ASSERT_TRUE(RunTool("/usr/bin/python3",
                        {"-c",
                         "import sys; from PIL import Image; "
                         "im = Image.open(sys.argv[1]).convert('1'); im.save(sys.argv[2]); "
                         "im.save(sys.argv[3])",
                         m_ppm, mono, ref}));
    EXPECT_EQ(TypeOf(mono).type, IK_TYPE_PCX);
    EXPECT_EQ(TypeOf(mono).bitCount, 1);
    Loaded img(mono);
    ASSERT_NE(img.Handle(), 0u);
    EXPECT_EQ(img.Bpp(), 1);
    QImage expected;
    ASSERT_TRUE(expected.load(ref));
    EXPECT_EQ(MaxDiff(img.Rgb(), expected), 0);
}

TEST_F(Formats, JpegKindsAndDepths) {
    const QString baseline = Make("base.jpg", {"-quality", "95"});
    const QString progressive = Make("prog.jpg", {"-quality", "95", "-interlace", "Plane"});
    const QString grey = Make("grey.jpg", {"-colorspace", "Gray"});
    const QString cmyk = Make("cmyk.jpg", {"-colorspace", "CMYK", "-quality", "98"});
    FileType t = TypeOf(baseline);
    EXPECT_EQ(t.type, IK_TYPE_JPEG);
    EXPECT_EQ(t.interlace, 0);
    EXPECT_EQ(t.width, W);
    EXPECT_EQ(t.height, H);
    t = TypeOf(progressive);
    EXPECT_EQ(t.type, IK_TYPE_JPEG_PROGRESSIVE);
    EXPECT_EQ(t.interlace, 1);

    const QImage ref = Reference();
    Loaded b(baseline), p(progressive), g(grey), c(cmyk);
    EXPECT_EQ(b.Bpp(), 24);
    EXPECT_EQ(p.Bpp(), 24);
    EXPECT_EQ(g.Bpp(), 8);
    EXPECT_EQ(c.Bpp(), 24);
    // Lossy, but close to the source; CMYK comes back as the same colours.
    EXPECT_LE(MaxDiff(b.Rgb(), ref), 48);
    EXPECT_LE(MaxDiff(p.Rgb(), ref), 48);
    EXPECT_LE(MaxDiff(c.Rgb(), b.Rgb()), 48);
    EXPECT_EQ(g.Get()->img.colorCount(), 256);
}

TEST_F(Formats, InterlacedTransparentGifAndPanes) {
    // A transparent, interlaced GIF with a comment.
    const QString gif = Make("t.gif", {"-colors", "64", "-transparent", "red", "-interlace", "GIF",
                                       "-set", "comment", "写真のコメント"});
    FileType t = TypeOf(gif);
    EXPECT_EQ(t.type, IK_TYPE_GIF89A);
    EXPECT_EQ(t.interlace, 1);
    EXPECT_EQ(t.comment, QByteArray("写真のコメント"));
    Loaded img(gif);
    ASSERT_NE(img.Handle(), 0u);
    const QImage rgb = img.Rgb();
    EXPECT_EQ(qAlpha(rgb.pixel(W / 4 + 1, H / 4 + 1)), 0); // the red block is transparent
    EXPECT_EQ(qAlpha(rgb.pixel(W - 1, H - 1)), 255);
    // Interlaced rows land in their places: every colour as ImageMagick reads the file.
    QImage ref;
    ASSERT_TRUE(ref.load(Convert(Dir(), gif, "gifback.ppm")));
    EXPECT_EQ(MaxDiff(rgb, ref), 0);

    // Three frames count as three panes; three pages of a TIFF likewise.
    const QString a = Make("a.png"), b = Make("b.png", {"-negate"});
    ASSERT_TRUE(RunTool("convert", {a, b, a, Dir().filePath("anim.gif")}));
    ASSERT_TRUE(RunTool("convert", {a, b, a, Dir().filePath("pages.tif")}));
    EXPECT_EQ(TypeOf(Dir().filePath("anim.gif")).panes, 3);
    EXPECT_EQ(TypeOf(Dir().filePath("pages.tif")).panes, 3);
    Loaded first(Dir().filePath("pages.tif"));
    EXPECT_EQ(MaxDiff(first.Rgb(), Reference()), 0);
}

TEST_F(Formats, TypeComesFromContentNotFromTheName) {
    const QString png = Make("real.png");
    const QString named = Dir().filePath("looks_like.jpg");
    ASSERT_TRUE(QFile::copy(png, named));
    EXPECT_EQ(TypeOf(named).type, IK_TYPE_PNG);
    Loaded img(named);
    EXPECT_NE(img.Handle(), 0u);
    const QString text = WriteBytes(Dir(), "text.png", "just some text, not a picture\n");
    EXPECT_EQ(TypeOf(text).ok, 0);
    EXPECT_EQ(TypeOf(text).type, 0);
    EXPECT_EQ(Loaded(text).Handle(), 0u);
    EXPECT_EQ(TypeOf(Dir().filePath("missing.png")).ok, 0);
    EXPECT_EQ(TypeOf(Dir().path()).ok, 0); // a folder is no image
}

TEST_F(Formats, CommentsInUtf8AndCodePage932) {
    // PNG tEXt with Shift-JIS bytes, PNG iTXt in UTF-8 (written by Pillow), JPEG COM in CP932.
    REQUIRE_TOOL("/usr/bin/python3");
    const QString png = Make("c.png");
    const QString script =
        QStringLiteral("import sys\n"
                       "from PIL import Image, PngImagePlugin\n"
                       "im = Image.open(sys.argv[1])\n"
                       "a = PngImagePlugin.PngInfo(); a.add(b'tEXt', b'Comment\\0' + "
                       "'日本語のメモ'.encode('cp932'))\n"
                       "im.save(sys.argv[2], pnginfo=a)\n"
                       "b = PngImagePlugin.PngInfo(); b.add_itxt('Comment', '夏の海', zip=True)\n"
                       "im.save(sys.argv[3], pnginfo=b)\n"
                       "im.convert('RGB').save(sys.argv[4], comment='説明文'.encode('cp932'))\n");
    const QString sjis = Dir().filePath("sjis.png"), itxt = Dir().filePath("itxt.png"),
                  jpg = Dir().filePath("com.jpg");
    ASSERT_TRUE(RunTool("/usr/bin/python3", {"-c", script, png, sjis, itxt, jpg}));
    EXPECT_EQ(QString::fromUtf8(TypeOf(sjis).comment), QStringLiteral("日本語のメモ"));
    EXPECT_EQ(QString::fromUtf8(TypeOf(itxt).comment), QStringLiteral("夏の海"));
    EXPECT_EQ(QString::fromUtf8(TypeOf(jpg).comment), QStringLiteral("説明文"));
}

TEST_F(Formats, SignaturesOfFormatsThatAreRecognisedButNotDecoded) {
    // A placeable metafile header: 1 inch = 1440 units, 2880 × 1440 units.
    QByteArray wmf(22, '\0');
    const uchar wmfHead[] = {0xD7, 0xCD, 0xC6, 0x9A, 0,    0,    0,    0,
                             0,    0,    0x40, 0x0B, 0xA0, 0x05, 0xA0, 0x05};
    std::memcpy(wmf.data(), wmfHead, sizeof wmfHead);
    FileType t = TypeOf(WriteBytes(Dir(), "a.wmf", wmf));
    EXPECT_EQ(t.type, IK_TYPE_WMF);
    EXPECT_EQ(t.width, 192);
    EXPECT_EQ(t.height, 96);
    QByteArray emf(88, '\0');
    emf[0] = 1;
    emf[8] = 0;
    emf[16] = 99;
    emf[20] = 49;
    std::memcpy(emf.data() + 40, " EMF", 4);
    t = TypeOf(WriteBytes(Dir(), "a.emf", emf));
    EXPECT_EQ(t.type, IK_TYPE_EMF);
    EXPECT_EQ(t.width, 100);
    EXPECT_EQ(t.height, 50);
    EXPECT_EQ(
        TypeOf(WriteBytes(Dir(), "a.dxf", "999\nmade by a test\n  0\nSECTION\n  2\nHEADER\n")).type,
        IK_TYPE_DXF);
    // None of them is decoded.
    EXPECT_EQ(Loaded(Dir().filePath("a.emf")).Handle(), 0u);
}

TEST_F(Formats, RecordTextIsCutAtACharacterBoundary) {
    // A comment longer than the record: 400 three-byte characters.
    QString longText;
    for (int i = 0; i < 400; ++i)
        longText += QChar(0x6F22);
    const QString gif = Make("long.gif", {"-colors", "8", "-set", "comment", longText});
    std::vector<char> rec(IK_FILETYPE_SIZE + 16, 'Z');
    ASSERT_EQ(IKFileType(gif.toUtf8().constData(), 0, rec.data()), 1);
    // Nothing past the record was written.
    EXPECT_EQ(rec[IK_FILETYPE_SIZE], 'Z');
    const QByteArray text(rec.data() + IK_FT_COMMENT);
    EXPECT_LT(text.size(), IK_FILETYPE_SIZE - IK_FT_COMMENT);
    EXPECT_EQ(text.size() % 3, 0);
    EXPECT_TRUE(QString::fromUtf8(text).startsWith(longText.left(300)));
}
