// raw.spi on DNG files the test writes itself (an uncompressed colour-filter-array picture of a
// known scene, with and without a JPEG preview, upright and turned), checked against dcraw as the
// independent reader: the whole picture against dcraw's processing, the reduced one against the
// preview dcraw extracts decoded by djpeg, the information against dcraw's; and hostile files.
#include "ImagingSupport.h"
#include "SpiDirect.h"

#include "imaging/ImageKit.h"
#include "imaging/SPIControl.h"
#include "imaging/SusieHost.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTransform>
#include <cmath>
#include <vector>

using namespace testimg;

namespace {

// A TIFF directory being written: entries in tag order, values of more than four bytes after it.
class Ifd {
public:
    enum Type { Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, SRational = 10 };
    void Add(uint16_t tag, Type type, uint32_t count, const QByteArray& value) {
        m_entries.push_back({tag, type, count, value});
    }
    void Shorts(uint16_t tag, std::initializer_list<int> v) {
        QByteArray b;
        for (const int x : v)
            AppendLE16(b, x);
        Add(tag, Short, uint32_t(v.size()), b);
    }
    void Longs(uint16_t tag, std::initializer_list<uint32_t> v) {
        QByteArray b;
        for (const uint32_t x : v)
            AppendLE32(b, x);
        Add(tag, Long, uint32_t(v.size()), b);
    }
    void Text(uint16_t tag, const QByteArray& s) {
        Add(tag, Ascii, uint32_t(s.size() + 1), s + '\0');
    }
    void Fractions(uint16_t tag, Type type, std::initializer_list<std::pair<int, int>> v) {
        QByteArray b;
        for (const auto& [num, den] : v) {
            AppendLE32(b, uint32_t(num));
            AppendLE32(b, uint32_t(den));
        }
        Add(tag, type, uint32_t(v.size()), b);
    }
    // Appends the directory (and its values) to the file; returns its offset.
    uint32_t WriteTo(QByteArray& file) {
        std::sort(m_entries.begin(), m_entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        if (file.size() % 2)
            file.append('\0');
        const uint32_t at = uint32_t(file.size());
        uint32_t extra = at + 2 + 12 * uint32_t(m_entries.size()) + 4;
        QByteArray dir, values;
        AppendLE16(dir, int(m_entries.size()));
        for (const Entry& e : m_entries) {
            AppendLE16(dir, e.tag);
            AppendLE16(dir, e.type);
            AppendLE32(dir, e.count);
            if (e.value.size() <= 4) {
                dir.append(e.value).append(QByteArray(4 - e.value.size(), '\0'));
            } else {
                AppendLE32(dir, extra + uint32_t(values.size()));
                values.append(e.value);
                if (values.size() % 2)
                    values.append('\0');
            }
        }
        AppendLE32(dir, 0);
        file.append(dir).append(values);
        return at;
    }

private:
    struct Entry {
        uint16_t tag;
        Type type;
        uint32_t count;
        QByteArray value;
    };
    std::vector<Entry> m_entries;
};

// The scene every DNG shows, linear light in 0..1: the test pattern with its colours softened,
// so that no channel clips.
void Scene(int x, int y, int w, int h, double rgb[3]) {
    const QRgb c = Pattern(x, y, w, h);
    const int v[3] = {qRed(c), qGreen(c), qBlue(c)};
    for (int k = 0; k < 3; ++k)
        rgb[k] = 0.05 + 0.8 * std::pow(v[k] / 255.0, 2.2);
}

struct Dng {
    int width = 384, height = 256;
    int orientation = 1;
    QByteArray preview; // a JPEG, or empty
    int previewWidth = 0, previewHeight = 0;
};

// The camera saw white as these raw values (the as-shot neutral): red and blue weaker.
constexpr double kNeutral[3] = {0.5, 1.0, 0.7};

QByteArray WriteDng(const Dng& d) {
    QByteArray file("II*\0\0\0\0\0", 8);
    // The raw picture: 16-bit samples of 12-bit values under an RGGB pattern.
    const uint32_t rawAt = uint32_t(file.size());
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            double rgb[3];
            Scene(x, y, d.width, d.height, rgb);
            const int c = (y % 2) + (x % 2); // 0 red, 1 green, 2 blue
            AppendLE16(file, int(std::lround(rgb[c] * kNeutral[c] * 4000)));
        }
    const uint32_t previewAt = uint32_t(file.size());
    file.append(d.preview);

    Ifd exif;
    exif.Fractions(33434, Ifd::Rational, {{1, 250}}); // ExposureTime
    exif.Fractions(33437, Ifd::Rational, {{8, 1}});   // FNumber
    exif.Shorts(34855, {200});                        // ISOSpeedRatings
    exif.Text(36867, "2024:05:01 12:34:56");          // DateTimeOriginal
    exif.Fractions(37386, Ifd::Rational, {{50, 1}});  // FocalLength
    const uint32_t exifAt = exif.WriteTo(file);

    uint32_t previewIfdAt = 0;
    if (!d.preview.isEmpty()) {
        Ifd p;
        p.Longs(254, {1}); // a reduced picture
        p.Longs(256, {uint32_t(d.previewWidth)});
        p.Longs(257, {uint32_t(d.previewHeight)});
        p.Shorts(258, {8, 8, 8});
        p.Shorts(259, {7}); // JPEG
        p.Shorts(262, {6}); // YCbCr
        p.Longs(273, {previewAt});
        p.Shorts(277, {3});
        p.Longs(278, {uint32_t(d.previewHeight)});
        p.Longs(279, {uint32_t(d.preview.size())});
        previewIfdAt = p.WriteTo(file);
    }

    Ifd raw;
    raw.Longs(254, {0});
    raw.Longs(256, {uint32_t(d.width)});
    raw.Longs(257, {uint32_t(d.height)});
    raw.Shorts(258, {16});
    raw.Shorts(259, {1});
    raw.Shorts(262, {32803}); // colour filter array
    raw.Text(271, "Quilla");
    raw.Text(272, "Test Camera");
    raw.Longs(273, {rawAt});
    raw.Shorts(274, {d.orientation});
    raw.Shorts(277, {1});
    raw.Longs(278, {uint32_t(d.height)});
    raw.Longs(279, {uint32_t(d.width * d.height * 2)});
    raw.Shorts(284, {1});
    raw.Text(306, "2024:05:01 12:34:56");
    if (previewIfdAt)
        raw.Longs(330, {previewIfdAt}); // SubIFDs
    raw.Shorts(33421, {2, 2});
    raw.Add(33422, Ifd::Byte, 4, QByteArray("\0\1\1\2", 4)); // R G / G B
    raw.Longs(34665, {exifAt});
    raw.Add(50706, Ifd::Byte, 4, QByteArray("\1\4\0\0", 4)); // DNGVersion 1.4
    raw.Text(50708, "Quilla Test Camera");
    raw.Longs(50717, {4095}); // WhiteLevel
    // ColorMatrix1: XYZ to the camera's space, here linear sRGB (so the camera sees sRGB).
    raw.Fractions(50721, Ifd::SRational,
                  {{32406, 10000},
                   {-15372, 10000},
                   {-4986, 10000},
                   {-9689, 10000},
                   {18758, 10000},
                   {415, 10000},
                   {557, 10000},
                   {-2040, 10000},
                   {10570, 10000}});
    raw.Fractions(50728, Ifd::Rational,
                  {{int(kNeutral[0] * 1000), 1000},
                   {int(kNeutral[1] * 1000), 1000},
                   {int(kNeutral[2] * 1000), 1000}});
    raw.Shorts(50778, {21}); // D65
    const uint32_t rawIfdAt = raw.WriteTo(file);
    std::memcpy(file.data() + 4, &rawIfdAt, 4);
    return file;
}

class Raw : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_spi.Loaded())
            GTEST_SKIP() << "raw.spi was not built";
        if (!Have("dcraw"))
            GTEST_SKIP() << "dcraw is not installed";
    }
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    // The scene as an sRGB JPEG preview of w x h, written by ImageMagick.
    QByteArray Preview(int w, int h) {
        QImage img(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb c = Pattern(x, y, w, h);
                img.setPixel(x, y, c);
            }
        EXPECT_TRUE(img.save(P("preview.ppm"), "PPM"));
        EXPECT_TRUE(RunTool("convert", {P("preview.ppm"), "-quality", "90", P("preview.jpg")}));
        return ReadBytes(P("preview.jpg"));
    }
    QString Write(const QString& name, const Dng& d) {
        return WriteBytes(QDir(m_dir.path()), name, WriteDng(d));
    }
    // dcraw's reading of a file with the given options, as 32-bit pixels.
    QImage Dcraw(const QString& path, const QStringList& options) {
        QByteArray out;
        EXPECT_TRUE(RunTool("dcraw", QStringList(options) << "-c" << path, &out));
        QImage img;
        EXPECT_TRUE(img.loadFromData(out, "PPM"));
        return img.convertToFormat(QImage::Format_RGB32);
    }
    // The preview dcraw extracts, decoded by djpeg at 1/denom.
    QImage DcrawPreview(const QString& path, int denom) {
        QByteArray jpeg;
        EXPECT_TRUE(RunTool("dcraw", {"-e", "-c", path}, &jpeg));
        WriteBytes(QDir(m_dir.path()), "extracted.jpg", jpeg);
        EXPECT_TRUE(RunTool("djpeg", {"-scale", QString("1/%1").arg(denom), "-ppm", "-outfile",
                                      P("extracted.ppm"), P("extracted.jpg")}));
        return QImage(P("extracted.ppm")).convertToFormat(QImage::Format_RGB32);
    }

    QTemporaryDir m_dir;
    SpiDirect m_spi{"raw"};
};

} // namespace

TEST_F(Raw, RecognisedByNameAndSignature) {
    const QByteArray dng = WriteDng(Dng());
    EXPECT_EQ(m_spi.IsSupported("/x/a.dng", dng), 1);
    EXPECT_EQ(m_spi.IsSupported("/x/a.NEF", dng), 1);
    // A TIFF picture by its name is the imaging library's.
    EXPECT_EQ(m_spi.IsSupported("/x/a.tif", dng), 0);
    EXPECT_EQ(m_spi.IsSupported("/x/a.dng", QByteArray("\xFF\xD8\xFF\xE0", 4)), 0);
    // Formats with a signature of their own, whatever the name.
    EXPECT_EQ(m_spi.IsSupported("/x/a", QByteArray("FUJIFILMCCD-RAW 0201")), 1);
    EXPECT_EQ(m_spi.IsSupported("/x/a", QByteArray("\0\0\0\x18"
                                                   "ftypcrx ",
                                                   12)),
              1);
}

TEST_F(Raw, WholePictureMatchesDcraw) {
    for (const int orientation : {1, 6, 8, 3}) {
        SCOPED_TRACE(orientation);
        Dng d;
        d.orientation = orientation;
        const QString path = Write(QString("o%1.dng").arg(orientation), d);
        SPI_PICTUREINFO info{};
        ASSERT_EQ(m_spi.Info(path, &info), SPI_ALL_RIGHT);
        const bool turned = orientation == 6 || orientation == 8;
        EXPECT_EQ(info.width, turned ? 256 : 384);
        EXPECT_EQ(info.height, turned ? 384 : 256);
        EXPECT_EQ(info.colorDepth, 24);
        int r = -1;
        const QImage mine = m_spi.Picture(path, &r);
        ASSERT_EQ(r, SPI_ALL_RIGHT);
        // dcraw with the camera's white balance: 8 bits, sRGB, turned by the orientation.
        const QImage ref = Dcraw(path, {"-w"});
        ASSERT_EQ(mine.size(), ref.size());
        EXPECT_EQ(mine.size(), QSize(info.width, info.height));
        EXPECT_LT(MeanDiff(mine, ref), 1.5);
        EXPECT_LE(MaxDiff(mine, ref), 24);
        // And the scene is there: the red block of the pattern is red, white balance applied.
        QImage upright = mine;
        if (orientation == 6)
            upright = mine.transformed(QTransform().rotate(-90));
        else if (orientation == 8)
            upright = mine.transformed(QTransform().rotate(90));
        else if (orientation == 3)
            upright = mine.transformed(QTransform().rotate(180));
        ASSERT_EQ(upright.size(), QSize(384, 256));
        const QRgb red = upright.pixel(384 * 3 / 8, 256 * 3 / 8);
        EXPECT_GT(qRed(red), 180);
        EXPECT_LT(qGreen(red), 90);
        EXPECT_LT(qBlue(red), 90);
    }
}

TEST_F(Raw, ReducedPictureIsThePreviewOrHalfSize) {
    REQUIRE_TOOL("convert");
    REQUIRE_TOOL("djpeg");
    Dng d;
    d.preview = Preview(192, 128);
    d.previewWidth = 192;
    d.previewHeight = 128;
    const QString path = Write("p.dng", d);
    int r = -1;
    // A box of 48: the preview at a quarter of its size is enough (48 x 32), decoded by libjpeg's
    // DCT scaling exactly as djpeg does it.
    QImage small = m_spi.Picture(path, &r, QSize(48, 48));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(small.size(), QSize(48, 32));
    EXPECT_LE(MaxDiff(small, DcrawPreview(path, 4)), 1);
    // A box of 100: the whole preview is needed, and is reduced to the box by the area each
    // pixel covers, as a thumbnail is reduced: the preview decoded whole by djpeg and reduced by
    // Qt is the same within two levels.
    small = m_spi.Picture(path, &r, QSize(100, 100));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(small.size(), QSize(100, 66));
    const auto reduced = [](const QImage& whole, QSize size) {
        return whole.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB32);
    };
    EXPECT_LE(MaxDiff(small, reduced(DcrawPreview(path, 1), small.size())), 2);
    EXPECT_LT(MeanDiff(small, reduced(DcrawPreview(path, 1), small.size())), 0.5);
    // Between two DCT scales: the half-size preview (96 x 64) reduced to 60 x 40.
    small = m_spi.Picture(path, &r, QSize(60, 60));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(small.size(), QSize(60, 40));
    EXPECT_LE(MaxDiff(small, reduced(DcrawPreview(path, 2), small.size())), 2);
    // A box of 200: the preview is too small; the raw data at half size is not either: whole.
    small = m_spi.Picture(path, &r, QSize(200, 200));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(small.size(), QSize(384, 256));

    // The preview turned by the file's orientation, like the whole picture.
    d.orientation = 6;
    const QString turned = Write("t.dng", d);
    small = m_spi.Picture(turned, &r, QSize(48, 48));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(small.size(), QSize(32, 48));
    EXPECT_LE(MaxDiff(small, DcrawPreview(turned, 4).transformed(QTransform().rotate(90))), 1);
    // Reduced after it is turned: the box's long side goes to the picture's long side.
    small = m_spi.Picture(turned, &r, QSize(100, 100));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    EXPECT_EQ(small.size(), QSize(66, 100));
    EXPECT_LE(MaxDiff(small, reduced(DcrawPreview(turned, 1).transformed(QTransform().rotate(90)),
                                     small.size())),
              2);

    // Without a preview: half-size processing (no demosaicing) where that is enough, as dcraw -h.
    const QString bare = Write("bare.dng", Dng());
    small = m_spi.Picture(bare, &r, QSize(100, 100));
    ASSERT_EQ(r, SPI_ALL_RIGHT);
    const QImage half = Dcraw(bare, {"-w", "-h"});
    ASSERT_EQ(small.size(), half.size());
    EXPECT_EQ(small.size(), QSize(192, 128));
    EXPECT_LT(MeanDiff(small, half), 1.5);
}

TEST_F(Raw, InformationGivesCameraExposureAndDate) {
    const QString path = Write("i.dng", Dng());
    SPI_PICTUREINFO info{};
    QByteArray text;
    ASSERT_EQ(m_spi.Info(path, &info, &text), SPI_ALL_RIGHT);
    QMap<QString, QString> fields;
    for (const QByteArray& line : text.split('\n'))
        if (const qsizetype eq = line.indexOf('='); eq > 0)
            fields[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
    // What dcraw reads from the same file.
    QByteArray out;
    ASSERT_TRUE(RunTool("dcraw", {"-i", "-v", path}, &out));
    const QString dcraw = QString::fromUtf8(out);
    EXPECT_TRUE(dcraw.contains("Camera: " + fields["Make"] + " " + fields["Model"]))
        << dcraw.toStdString();
    EXPECT_TRUE(dcraw.contains("ISO speed: " + fields["ISOSpeedRatings"])) << dcraw.toStdString();
    EXPECT_TRUE(dcraw.contains("Shutter: " + fields["ExposureTime"])) << dcraw.toStdString();
    EXPECT_TRUE(dcraw.contains("Aperture: f/" + fields["FNumber"])) << dcraw.toStdString();
    EXPECT_TRUE(dcraw.contains("Focal length: " + fields["FocalLength"])) << dcraw.toStdString();
    EXPECT_TRUE(dcraw.contains("12:34:56 2024")) << dcraw.toStdString();
    EXPECT_EQ(fields["Make"], "Quilla");
    EXPECT_EQ(fields["ExposureTime"], "1/250");
    EXPECT_EQ(fields["DateTimeOriginal"], "2024:05:01 12:34:56");
}

TEST_F(Raw, ThroughTheHelpersAsTheProgramAsks) {
    REQUIRE_TOOL("convert");
    REQUIRE_TOOL("djpeg");
    const QString plugins = QDir(QCoreApplication::applicationDirPath()).filePath("plugins");
    // Loaded once a process (another test of the same run may have loaded them already).
    SusieHost::LoadFolder(plugins);
    ASSERT_GE(SusieHost::GetFormatCount(), 4);
    Dng d;
    d.preview = Preview(192, 128);
    d.previewWidth = 192;
    d.previewHeight = 128;
    const QString path = Write("p.dng", d);
    d.orientation = 6;
    const QString turned = Write("T.NEF", d); // a TIFF-structured RAW under another name
    // Camera RAW names are the plug-ins': the library's TIFF reader never sees them.
    EXPECT_TRUE(IsImageFile(path));
    EXPECT_TRUE(IsImageFile(turned));
    EXPECT_FALSE(IsLibraryFileName(turned));
    EXPECT_EQ(GetFileTypeCode(turned), 0);

    // A thumbnail: the preview reduced by the DCT as djpeg -scale 1/4 reduces it, and the size
    // of the whole picture, turned like the picture.
    CImageKit kit;
    QSize original;
    ASSERT_TRUE(kit.LoadForThumbnail(path, QSize(48, 48), &original));
    ASSERT_FALSE(kit.IsEmpty());
    EXPECT_EQ(kit.GetSize(), QSize(48, 32));
    EXPECT_EQ(original, QSize(384, 256));
    auto picture = [&kit] {
        return ik::Get(kit.GetHandle())->img.convertToFormat(QImage::Format_RGB32);
    };
    EXPECT_LE(MaxDiff(picture(), DcrawPreview(path, 4)), 1);
    ASSERT_TRUE(kit.LoadForThumbnail(turned, QSize(48, 48), &original));
    EXPECT_EQ(kit.GetSize(), QSize(32, 48));
    EXPECT_EQ(original, QSize(256, 384));
    EXPECT_LE(MaxDiff(picture(), DcrawPreview(turned, 4).transformed(QTransform().rotate(90))), 1);
    // The whole picture (the preview window, conversion): LibRaw's processing, as dcraw's.
    ASSERT_TRUE(kit.Load(path, false));
    EXPECT_EQ(kit.GetSize(), QSize(384, 256));
    EXPECT_LT(MeanDiff(picture(), Dcraw(path, {"-w"})), 1.5);

    // The information without decoding: size as shown and the shooting data.
    SpiPictureInfo info;
    ASSERT_EQ(SusieHost::FileInformation(turned, &info), 0);
    EXPECT_EQ(QSize(info.width, info.height), QSize(256, 384));
    EXPECT_TRUE(info.text.contains("Make=Quilla\n")) << info.text.toStdString();
    EXPECT_TRUE(info.text.contains("DateTimeOriginal=2024:05:01 12:34:56"))
        << info.text.toStdString();
    EXPECT_TRUE(info.text.contains("ExposureTime=1/250")) << info.text.toStdString();
}

TEST_F(Raw, HostileFilesFailWithoutHarm) {
    Dng d;
    if (Have("convert")) {
        d.preview = Preview(96, 64);
        d.previewWidth = 96;
        d.previewHeight = 64;
    }
    const QByteArray good = WriteDng(d);
    int r = -1;
    ASSERT_FALSE(m_spi.PictureOf(good, &r).isNull());
    // Cut short inside the raw data: no picture from either entry.
    for (const int k : {1, 2, 4, 6}) {
        const QByteArray cut = good.left(good.size() * k / 8);
        m_spi.PictureOf(cut, &r);
        EXPECT_NE(r, SPI_ALL_RIGHT) << k;
        const QString path = WriteBytes(QDir(m_dir.path()), "cut.dng", cut);
        m_spi.Picture(path, &r);
        EXPECT_NE(r, SPI_ALL_RIGHT) << k;
    }
    // A TIFF head followed by garbage, an empty file, and a directory pointing past the end.
    QRandomGenerator random(11);
    QByteArray garbage("II*\0", 4);
    for (int i = 0; i < 4096; ++i)
        garbage.append(char(random.bounded(256)));
    EXPECT_TRUE((m_spi.PictureOf(garbage, &r), r) != SPI_ALL_RIGHT);
    EXPECT_TRUE((m_spi.PictureOf(garbage, &r, QSize(64, 64)), r) != SPI_ALL_RIGHT);
    EXPECT_TRUE((m_spi.PictureOf(QByteArray(), &r), r) != SPI_ALL_RIGHT);
    QByteArray past = good;
    const uint32_t far = 0x7FFFFFF0u;
    std::memcpy(past.data() + 4, &far, 4);
    EXPECT_TRUE((m_spi.PictureOf(past, &r), r) != SPI_ALL_RIGHT);
    SPI_PICTUREINFO info{};
    EXPECT_NE(m_spi.Info(WriteBytes(QDir(m_dir.path()), "g.dng", garbage), &info), SPI_ALL_RIGHT);
    // Bytes flipped here and there, through every entry: any result but a crash.
    for (int round = 0; round < 15; ++round) {
        QByteArray flipped = good;
        for (int i = 0; i < 6; ++i)
            flipped[random.bounded(qsizetype(flipped.size()))] ^= char(1 << random.bounded(8));
        m_spi.PictureOf(flipped, &r, QSize(32, 32));
        m_spi.PictureOf(flipped, &r);
    }
}
