// Exif orientation: reported by recognition and with the Exif information, and applied by
// IKOrient, on files that exiftool marks with each of the eight orientations.
#include "ImagingSupport.h"

#include "imaging/ImageKit.h"

using namespace testimg;

namespace {

// The stored picture: four quadrants of distinct colours, wider than high.
constexpr int kStoredW = 64, kStoredH = 40;
const QRgb kTopLeft = qRgb(255, 0, 0), kTopRight = qRgb(0, 200, 0), kBottomLeft = qRgb(0, 0, 255),
           kBottomRight = qRgb(255, 255, 0);

bool Near(QRgb a, QRgb b) {
    return std::abs(qRed(a) - qRed(b)) < 40 && std::abs(qGreen(a) - qGreen(b)) < 40 &&
           std::abs(qBlue(a) - qBlue(b)) < 40;
}

class Orientation : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("convert") || !Have("exiftool"))
            GTEST_SKIP() << "ImageMagick or exiftool is not installed";
        m_jpg = Dir().filePath("stored.jpg");
        ASSERT_TRUE(RunTool("convert", {"-size",
                                        QStringLiteral("%1x%2").arg(kStoredW).arg(kStoredH),
                                        "xc:white",
                                        "-fill",
                                        "#FF0000",
                                        "-draw",
                                        "rectangle 0,0 31,19",
                                        "-fill",
                                        "#00C800",
                                        "-draw",
                                        "rectangle 32,0 63,19",
                                        "-fill",
                                        "#0000FF",
                                        "-draw",
                                        "rectangle 0,20 31,39",
                                        "-fill",
                                        "#FFFF00",
                                        "-draw",
                                        "rectangle 32,20 63,39",
                                        "-quality",
                                        "95",
                                        "-sampling-factor",
                                        "1x1",
                                        m_jpg}));
    }
    QDir Dir() const { return QDir(m_dir.path()); }
    // A copy of the stored picture marked with orientation n.
    QString Marked(int n) {
        const QString path = Dir().filePath(QStringLiteral("o%1.jpg").arg(n));
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(m_jpg, path));
        EXPECT_TRUE(RunTool("exiftool", {"-q", "-overwrite_original", "-n",
                                         QStringLiteral("-Orientation=%1").arg(n), path}));
        return path;
    }
    static int RecordOrientation(const QString& path) {
        std::vector<char> rec(IK_FILETYPE_SIZE);
        if (!IKFileType(path.toUtf8().constData(), 0, rec.data()))
            return -1;
        int16_t v = 0;
        std::memcpy(&v, rec.data() + IK_FT_ORIENTATION, 2);
        return v;
    }
    static int ExifOrientation(const QString& path) {
        std::vector<char> rec(IK_EXIF_SIZE);
        if (!IKJpegExifInfo(path.toUtf8().constData(), rec.data()))
            return -1;
        int16_t v = 0;
        std::memcpy(&v, rec.data() + IK_EX_ORIENTATION, 2);
        return v;
    }

    QTemporaryDir m_dir;
    QString m_jpg;
};

} // namespace

TEST_F(Orientation, EachOfTheEightIsReportedAndTurnedUpright) {
    // Where the stored first row and first column end up, as Exif defines the eight values:
    // the colours seen at the viewed picture's top-left, top-right, bottom-left, bottom-right.
    const struct {
        int n;
        QRgb tl, tr, bl, br;
    } cases[] = {
        {1, kTopLeft, kTopRight, kBottomLeft, kBottomRight},
        {2, kTopRight, kTopLeft, kBottomRight, kBottomLeft},  // row 0 at top, column 0 at right
        {3, kBottomRight, kBottomLeft, kTopRight, kTopLeft},  // row 0 at bottom, column 0 right
        {4, kBottomLeft, kBottomRight, kTopLeft, kTopRight},  // row 0 at bottom, column 0 left
        {5, kTopLeft, kBottomLeft, kTopRight, kBottomRight},  // row 0 at left, column 0 at top
        {6, kBottomLeft, kTopLeft, kBottomRight, kTopRight},  // row 0 at right, column 0 at top
        {7, kBottomRight, kTopRight, kBottomLeft, kTopLeft},  // row 0 at right, column 0 bottom
        {8, kTopRight, kBottomRight, kTopLeft, kBottomLeft}}; // row 0 at left, column 0 bottom
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        const QString path = Marked(c.n);
        EXPECT_EQ(RecordOrientation(path), c.n);
        EXPECT_EQ(ExifOrientation(path), c.n);
        Loaded stored(path);
        ASSERT_EQ(stored.Size(),
                  QSize(kStoredW, kStoredH)); // decoding itself never turns the picture
        Loaded upright(IKOrient(stored.Handle(), c.n));
        ASSERT_NE(upright.Handle(), 0u);
        EXPECT_EQ(LastStatus().code, IK_ERR_NONE);
        const QSize viewed = c.n >= 5 ? QSize(kStoredH, kStoredW) : QSize(kStoredW, kStoredH);
        ASSERT_EQ(upright.Size(), viewed);
        EXPECT_EQ(upright.Bpp(), 24);
        const QImage img = upright.Rgb();
        const int r = viewed.width() - 3, b = viewed.height() - 3;
        EXPECT_TRUE(Near(img.pixel(2, 2), c.tl));
        EXPECT_TRUE(Near(img.pixel(r, 2), c.tr));
        EXPECT_TRUE(Near(img.pixel(2, b), c.bl));
        EXPECT_TRUE(Near(img.pixel(r, b), c.br));
        // ImageMagick turns the file upright the same way, pixel for pixel.
        const QString theirs = Dir().filePath(QStringLiteral("auto%1.png").arg(c.n));
        ASSERT_TRUE(RunTool("convert", {path, "-auto-orient", theirs}));
        EXPECT_LE(MaxDiff(img, Loaded(theirs).Rgb()), 2);
        // The program's wrapper does the same.
        CImageKit kit;
        ASSERT_TRUE(kit.Load(path, false));
        ASSERT_TRUE(kit.Orient(c.n));
        EXPECT_EQ(kit.GetSize(), viewed);
    }
}

TEST_F(Orientation, AbsentOrOtherFilesReportUpright) {
    // No orientation tag, no Exif at all, and another format.
    const QString bare = Dir().filePath("bare.jpg");
    ASSERT_TRUE(QFile::copy(m_jpg, bare));
    ASSERT_TRUE(RunTool("exiftool", {"-q", "-overwrite_original", "-Make=N", bare}));
    EXPECT_EQ(RecordOrientation(bare), IK_ORIENT_NORMAL);
    EXPECT_EQ(ExifOrientation(bare), IK_ORIENT_NORMAL);
    EXPECT_EQ(RecordOrientation(m_jpg), IK_ORIENT_NORMAL);
    const QString png = Dir().filePath("p.png");
    ASSERT_TRUE(RunTool("convert", {m_jpg, png}));
    EXPECT_EQ(RecordOrientation(png), IK_ORIENT_NORMAL);
    // The orientation sits apart from every field the program reads.
    for (const int field : {IK_FT_WIDTH, IK_FT_HEIGHT, IK_FT_TYPE, IK_FT_INTERLACE, IK_FT_PANES,
                            IK_FT_FILESIZE, IK_FT_COMMENT})
        EXPECT_TRUE(field + 4 <= IK_FT_ORIENTATION || field >= IK_FT_ORIENTATION + 2) << field;
    EXPECT_GE(IK_FT_ORIENTATION, IK_FT_BITCOUNT + 2);
    EXPECT_GE(IK_EX_ORIENTATION, IK_EX_FNUMBER + 8);
    EXPECT_LE(IK_EX_ORIENTATION + 2, IK_EXIF_SIZE);
}

TEST(OrientImage, KeepsDepthAndPaletteAndRefusesBadArguments) {
    // A 3 × 2 palette image with one marked pixel at the stored top-right.
    QImage img(3, 2, QImage::Format_Indexed8);
    img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    img.fill(0);
    img.setPixel(2, 0, 1);
    Loaded src(IKDibFromBitmap(&img, 0));
    ASSERT_EQ(src.Bpp(), 1);
    // Turned clockwise (6), the stored top-right comes to the bottom-right of a 2 × 3 picture.
    Loaded turned(IKOrient(src.Handle(), IK_ORIENT_ROTATE_90));
    ASSERT_EQ(turned.Size(), QSize(2, 3));
    EXPECT_EQ(turned.Bpp(), 1);
    EXPECT_EQ(turned.Get()->img.format(), QImage::Format_Indexed8);
    EXPECT_EQ(turned.Rgb().pixel(1, 2), qRgb(255, 255, 255));
    EXPECT_EQ(turned.Rgb().pixel(1, 0), qRgb(0, 0, 0));
    // 16-bit images stay 16-bit.
    QImage rgb555(5, 4, QImage::Format_RGB555);
    rgb555.fill(qRgb(248, 0, 0));
    Loaded src16(IKDibFromBitmap(&rgb555, 0));
    Loaded turned16(IKOrient(src16.Handle(), IK_ORIENT_TRANSVERSE));
    EXPECT_EQ(turned16.Bpp(), 16);
    EXPECT_EQ(turned16.Size(), QSize(4, 5));
    // No image, orientations 0 and 9.
    EXPECT_EQ(IKOrient(0, IK_ORIENT_NORMAL), 0u);
    EXPECT_EQ(LastStatus().code, IK_ERR_ARGUMENT);
    EXPECT_EQ(IKOrient(src.Handle(), 0), 0u);
    EXPECT_EQ(IKOrient(src.Handle(), 9), 0u);
    EXPECT_EQ(LastStatus().code, IK_ERR_ARGUMENT);
    // 1 gives an equal copy.
    Loaded same(IKOrient(src.Handle(), IK_ORIENT_NORMAL));
    EXPECT_NE(same.Handle(), src.Handle());
    EXPECT_EQ(MaxDiff(same.Rgb(), src.Rgb()), 0);
}
