// Files that end early (an interrupted download or copy): JPEG, PNG and GIF show what they hold,
// with the rows they lack in grey; a file of which nothing decodes still fails.
#include "ImagingSupport.h"

#include "imaging/ImageKit.h"

using namespace testimg;

namespace {

constexpr QRgb kGrey = 0xFF808080;

class Truncated : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("convert"))
            GTEST_SKIP() << "ImageMagick is not installed";
        m_ppm = WritePpm(Dir(), "src.ppm", 160, 120);
    }
    QDir Dir() const { return QDir(m_dir.path()); }
    QString Make(const QString& name, const QStringList& options) {
        return Convert(Dir(), m_ppm, name, options);
    }
    // The first cut bytes of the file, under a new name.
    QString Cut(const QString& file, qsizetype cut) {
        return WriteBytes(Dir(), "cut-" + QFileInfo(file).fileName(), ReadBytes(file).left(cut));
    }
    static bool RowIsGrey(const QImage& img, int y) {
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != kGrey)
                return false;
        return true;
    }
    static bool RowsEqual(const QImage& a, const QImage& b, int y) {
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return false;
        return true;
    }
    // Rows from the top that equal the whole file's decoding, and the first row from which every
    // row is grey.
    static std::pair<int, int> Split(const QImage& part, const QImage& whole) {
        int same = 0;
        while (same < part.height() && RowsEqual(part, whole, same))
            ++same;
        int grey = part.height();
        while (grey > 0 && RowIsGrey(part, grey - 1))
            --grey;
        return {same, grey};
    }

    QTemporaryDir m_dir;
    QString m_ppm;
};

} // namespace

TEST_F(Truncated, SequentialFilesShowTheirRowsAndGreyBelow) {
    const struct {
        const char* name;
        QStringList options;
        int slack; // rows that may be neither: a JPEG's last row of blocks is partly decoded
    } cases[] = {{"base.jpg", {"-quality", "90"}, 16},
                 {"plain.png", {}, 0},
                 {"palette.png", {"-colors", "64"}, 0},
                 {"plain.gif", {"-colors", "64"}, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = Make(QString::fromLatin1(c.name), c.options);
        Loaded whole(file);
        ASSERT_NE(whole.Handle(), 0u);
        EXPECT_EQ(LastStatus().code, IK_ERR_NONE);
        const qsizetype size = QFileInfo(file).size();
        const QString cut = Cut(file, size * 6 / 10);
        EXPECT_EQ(TypeOf(cut).width, 160);
        Loaded part(cut);
        ASSERT_NE(part.Handle(), 0u);
        const Status s = LastStatus();
        EXPECT_EQ(s.code, IK_STATUS_TRUNCATED);
        EXPECT_TRUE(s.reason.contains("ends early")) << s.reason.toStdString();
        ASSERT_EQ(part.Size(), QSize(160, 120));
        const auto [same, grey] = Split(part.Rgb(), whole.Rgb());
        // The rows the file holds are the picture's own; below them, grey to the bottom.
        EXPECT_GE(same, 120 / 5);
        EXPECT_LT(grey, 120);
        EXPECT_LE(grey - same, c.slack);
        EXPECT_GE(grey, same);
    }
}

TEST_F(Truncated, ProgressiveAndInterlacedFilesShowTheirEarlierPasses) {
    const struct {
        const char* name;
        QStringList options;
        double mean; // how close the enlarged earlier passes come to the whole picture
    } cases[] = {{"prog.jpg", {"-quality", "90", "-interlace", "Plane"}, 12},
                 {"adam7.png", {"-interlace", "PNG"}, 12},
                 {"adam7-palette.png", {"-colors", "64", "-interlace", "PNG"}, 12},
                 {"interlaced.gif", {"-colors", "64", "-interlace", "GIF"}, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = Make(QString::fromLatin1(c.name), c.options);
        EXPECT_EQ(TypeOf(file).interlace, 1);
        Loaded whole(file);
        ASSERT_NE(whole.Handle(), 0u);
        // Cut half way: past the first pass, which covers the whole picture coarsely.
        Loaded part(Cut(file, QFileInfo(file).size() / 2));
        ASSERT_NE(part.Handle(), 0u);
        EXPECT_EQ(LastStatus().code, IK_STATUS_TRUNCATED);
        const QImage p = part.Rgb(), w = whole.Rgb();
        EXPECT_FALSE(RowIsGrey(p, p.height() - 1));
        EXPECT_GT(MeanDiff(p, w), 0.0);
        EXPECT_LT(MeanDiff(p, w), c.mean);
    }
}

TEST_F(Truncated, ProgressiveJpegCutInItsFirstScanIsGreyBelowIt) {
    const QString file = Make("prog.jpg", {"-quality", "90", "-interlace", "Plane"});
    const QByteArray bytes = ReadBytes(file);
    const qsizetype first = bytes.indexOf(QByteArray("\xFF\xDA", 2));
    const qsizetype second = bytes.indexOf(QByteArray("\xFF\xDA", 2), first + 2);
    ASSERT_GT(second, first);
    Loaded whole(file);
    Loaded part(Cut(file, (first + second) / 2));
    ASSERT_NE(part.Handle(), 0u);
    EXPECT_EQ(LastStatus().code, IK_STATUS_TRUNCATED);
    const auto [same, grey] = Split(part.Rgb(), whole.Rgb());
    (void)same;
    EXPECT_GT(grey, 0);
    EXPECT_LT(grey, 120);
    // Above the row of blocks where the data ends, the first scan's coarse picture.
    const int coarse = grey - 16;
    ASSERT_GT(coarse, 8);
    QImage top = part.Rgb().copy(0, 0, 160, coarse), ref = whole.Rgb().copy(0, 0, 160, coarse);
    EXPECT_LT(MeanDiff(top, ref), 20);
}

TEST_F(Truncated, AFileOfWhichNothingDecodesStillFails) {
    const QString jpg = Make("a.jpg", {});
    const QString png = Make("a.png", {});
    const QString gif = Make("a.gif", {"-colors", "16"});
    const QByteArray j = ReadBytes(jpg), p = ReadBytes(png), g = ReadBytes(gif);
    const qsizetype sos = j.indexOf(QByteArray("\xFF\xDA", 2));
    ASSERT_GT(sos, 0);
    const qsizetype idat = p.indexOf("IDAT");
    ASSERT_GT(idat, 0);
    // The frame's descriptor: after the screen's colour table and any extension blocks.
    qsizetype descriptor = 13 + ((g[10] & 0x80) ? 3 * (2 << (g[10] & 7)) : 0);
    while (descriptor < g.size() && g[descriptor] == '!') {
        descriptor += 2;
        while (descriptor < g.size() && g[descriptor] != 0)
            descriptor += uchar(g[descriptor]) + 1;
        ++descriptor;
    }
    ASSERT_LT(descriptor, g.size());
    ASSERT_EQ(g[descriptor], ',');
    const std::pair<QString, qsizetype> cuts[] = {
        {jpg, sos / 2},                                                // inside the headers
        {jpg, sos + 2 + (uchar(j[sos + 2]) << 8 | uchar(j[sos + 3]))}, // the scan header alone
        {png, idat - 4},                                               // before the picture data
        {png, 40},                                                     // inside the header chunk
        {gif, descriptor + 5}}; // inside the frame's descriptor
    for (const auto& [file, cut] : cuts) {
        SCOPED_TRACE(QStringLiteral("%1 at %2").arg(file).arg(cut).toStdString());
        const QString path = Cut(file, cut);
        EXPECT_EQ(Loaded(path).Handle(), 0u);
        EXPECT_EQ(LastStatus().code, IK_ERR_DATA);
        CImageKit kit;
        EXPECT_FALSE(kit.Load(path, false));
    }
    // The program loads a truncated file like any other.
    CImageKit kit;
    ASSERT_TRUE(kit.Load(Cut(png, p.size() * 6 / 10), false));
    EXPECT_EQ(kit.GetSize(), QSize(160, 120));
}
