// Truncated, corrupted and hostile files: every decoder fails cleanly, without a crash, a hang or
// an allocation beyond the documented limit. Run under AddressSanitizer and UBSan as well.
#include "ImagingSupport.h"

#include <QElapsedTimer>
#include <random>

using namespace testimg;

namespace {

class Robustness : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("convert"))
            GTEST_SKIP() << "ImageMagick is not installed";
        m_ppm = WritePpm(Dir(), "src.ppm", 45, 33);
    }
    QDir Dir() const { return QDir(m_dir.path()); }
    // One valid file of every decoded kind.
    QStringList Samples() {
        QStringList files;
        const std::pair<const char*, QStringList> kinds[] = {
            {"a.jpg", {}},
            {"b.jpg", {"-interlace", "Plane"}},
            {"c.png", {}},
            {"d.png", {"-colors", "16", "-interlace", "PNG"}},
            {"e.gif", {"-colors", "64", "-interlace", "GIF"}},
            {"f.tif", {"-compress", "LZW"}},
            {"g.tif", {"-monochrome", "-compress", "Group4"}},
            {"h.bmp", {}},
            {"BMP3:i.bmp", {"-colors", "100", "-type", "Palette", "-compress", "RLE"}},
            {"j.pcx", {}},
            {"k.pcx", {"-colors", "100", "-type", "Palette"}},
            {"l.tif", {"-compress", "Zip"}},
        };
        for (const auto& [name, options] : kinds)
            files << Convert(Dir(), m_ppm, QString::fromLatin1(name), options);
        return files;
    }
    // Type and load must both come back, whatever they return.
    static void Probe(const QString& path) {
        const FileType t = TypeOf(path);
        (void)t;
        Loaded img(path);
        if (img.Handle()) {
            // Whatever was decoded is a consistent image.
            const ik::Image* im = img.Get();
            ASSERT_NE(im, nullptr);
            EXPECT_TRUE(ik::SizeAllowed(im->img.width(), im->img.height()));
        }
    }

    QTemporaryDir m_dir;
    QString m_ppm;
};

} // namespace

TEST_F(Robustness, TruncatedFilesFailOrStayConsistent) {
    for (const QString& file : Samples()) {
        SCOPED_TRACE(file.toStdString());
        const QByteArray bytes = ReadBytes(file);
        ASSERT_GT(bytes.size(), 100);
        for (int i = 0; i <= 20; ++i) {
            const qsizetype cut = bytes.size() * i / 21;
            const QString path =
                WriteBytes(Dir(), "cut" + QFileInfo(file).suffix(), bytes.left(cut));
            Probe(path);
        }
        // Half a JPEG, PNG, GIF, BMP or PCX is no picture.
        if (!file.endsWith(".tif")) {
            const QString half =
                WriteBytes(Dir(), "half." + QFileInfo(file).suffix(), bytes.left(bytes.size() / 2));
            EXPECT_EQ(Loaded(half).Handle(), 0u);
        }
    }
}

TEST_F(Robustness, CorruptedBytesNeverCrash) {
    std::mt19937 rng(20261208);
    for (const QString& file : Samples()) {
        SCOPED_TRACE(file.toStdString());
        const QByteArray bytes = ReadBytes(file);
        for (int round = 0; round < 60; ++round) {
            QByteArray bad = bytes;
            const int flips = 1 + int(rng() % 8);
            for (int k = 0; k < flips; ++k) {
                // Headers are where the danger is: aim half the damage at the first 200 bytes.
                const qsizetype at =
                    (k % 2 ? rng() % std::min<qsizetype>(200, bad.size()) : rng() % bad.size());
                bad[at] = char(rng() & 0xFF);
            }
            Probe(WriteBytes(Dir(), "bad." + QFileInfo(file).suffix(), bad));
        }
    }
}

TEST_F(Robustness, HugeDimensionsAreRefusedBeforeAllocation) {
    QElapsedTimer timer;
    timer.start();
    // PNG with a 60000 × 60000 header, BMP with 40000 × 40000 at 32 bits, GIF with a 65535
    // square screen, JPEG with a 65500 × 65500 frame: each would need gigabytes.
    const QString png = Convert(Dir(), m_ppm, "p.png");
    QByteArray bytes = ReadBytes(png);
    const uchar big[8] = {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60};
    std::memcpy(bytes.data() + 16, big, 8);
    const QString hugePng = WriteBytes(Dir(), "huge.png", bytes);
    EXPECT_EQ(TypeOf(hugePng).width, 60000);
    EXPECT_EQ(Loaded(hugePng).Handle(), 0u);

    QByteArray bmp(54, '\0');
    bmp[0] = 'B';
    bmp[1] = 'M';
    bmp[10] = 54;
    bmp[14] = 40;
    const int32_t side = 40000;
    std::memcpy(bmp.data() + 18, &side, 4);
    std::memcpy(bmp.data() + 22, &side, 4);
    bmp[26] = 1;
    bmp[28] = 32;
    EXPECT_EQ(Loaded(WriteBytes(Dir(), "huge.bmp", bmp)).Handle(), 0u);

    const QString gif = Convert(Dir(), m_ppm, "g.gif", {"-colors", "4"});
    bytes = ReadBytes(gif);
    bytes[6] = bytes[7] = bytes[8] = bytes[9] = char(0xFF);
    EXPECT_EQ(Loaded(WriteBytes(Dir(), "huge.gif", bytes)).Handle(), 0u);

    const QString jpg = Convert(Dir(), m_ppm, "j.jpg");
    bytes = ReadBytes(jpg);
    const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    bytes[sof + 5] = bytes[sof + 7] = char(0xFF);
    bytes[sof + 6] = bytes[sof + 8] = char(0xDC);
    EXPECT_EQ(Loaded(WriteBytes(Dir(), "huge.jpg", bytes)).Handle(), 0u);

    const QByteArray pcx = [] {
        QByteArray h(128 + 10, '\0');
        h[0] = 0x0A;
        h[1] = 5;
        h[2] = 1;
        h[3] = 8;
        h[8] = h[9] = h[10] = h[11] = char(0xFF);
        h[65] = 3;
        h[66] = h[67] = char(0xFF);
        return h;
    }();
    EXPECT_EQ(Loaded(WriteBytes(Dir(), "huge.pcx", pcx)).Handle(), 0u);
    EXPECT_LT(timer.elapsed(), 20000);
}

TEST_F(Robustness, HandcraftedRleBmpsStayInBounds) {
    // An 8 × 4 RLE4 bitmap whose first run is longer than a row and whose delta points past the
    // bottom: the run is clipped and the delta ends the picture.
    auto bitmap = [](const QByteArray& rle) {
        QByteArray b(54 + 64, '\0');
        b[0] = 'B';
        b[1] = 'M';
        b[10] = char(54 + 64);
        b[14] = 40;
        b[18] = 8;
        b[22] = 4;
        b[26] = 1;
        b[28] = 4;
        b[30] = 2; // RLE4
        for (int i = 0; i < 16; ++i)
            b[54 + 4 * i] = b[55 + 4 * i] = b[56 + 4 * i] = char(i * 16);
        return b + rle;
    };
    const char clipped[] = {char(200), 0x12, 0, 0, 5, 0x34, 0, 2, char(250), char(250)};
    Loaded img(WriteBytes(Dir(), "rle4.bmp", bitmap(QByteArray(clipped, sizeof clipped))));
    ASSERT_NE(img.Handle(), 0u);
    EXPECT_EQ(img.Bpp(), 4);
    EXPECT_EQ(img.Size(), QSize(8, 4));
    // Rows are stored bottom-up: the first run fills the bottom row with the pair 1, 2, the
    // second row starts with 3, 4.
    const QImage& px = img.Get()->img;
    EXPECT_EQ(px.constScanLine(3)[0], 1);
    EXPECT_EQ(px.constScanLine(3)[7], 2);
    EXPECT_EQ(px.constScanLine(2)[0], 3);
    EXPECT_EQ(px.constScanLine(2)[4], 3);
    EXPECT_EQ(px.constScanLine(2)[5], 0);
    // Data that runs out before the picture ends is truncated, not a picture.
    const char cut[] = {8, 0x12, 0, 0, 4};
    EXPECT_EQ(
        Loaded(WriteBytes(Dir(), "rle4cut.bmp", bitmap(QByteArray(cut, sizeof cut)))).Handle(), 0u);
    // An absolute run longer than the data left.
    const char absolute[] = {0, 40, 0x12};
    EXPECT_EQ(
        Loaded(WriteBytes(Dir(), "rle4abs.bmp", bitmap(QByteArray(absolute, sizeof absolute))))
            .Handle(),
        0u);
}
