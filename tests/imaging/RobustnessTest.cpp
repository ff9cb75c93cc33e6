// Truncated, corrupted and hostile files: every decoder fails cleanly (or shows the part of a
// truncated file it holds), without a crash, a hang or an allocation beyond the documented limit.
// Run under AddressSanitizer and UBSan as well.
#include "ImagingSupport.h"

#include "imaging/ImageKit.h"

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
        // Half a BMP or PCX is no picture; half a JPEG, PNG or GIF is the part it holds.
        const QString suffix = QFileInfo(file).suffix();
        const QString half = WriteBytes(Dir(), "half." + suffix, bytes.left(bytes.size() / 2));
        if (suffix == "bmp" || suffix == "pcx") {
            EXPECT_EQ(Loaded(half).Handle(), 0u);
            EXPECT_EQ(LastStatus().code, IK_ERR_DATA);
        } else if (suffix != "tif") {
            EXPECT_NE(Loaded(half).Handle(), 0u);
            EXPECT_EQ(LastStatus().code, IK_STATUS_TRUNCATED);
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

// ---- Hostile files: tiny files that declare costly work --------------------------------------

namespace {

// A grey progressive JPEG of side × side pixels whose scans carry no data: markers only.
QByteArray EmptyScansJpeg(int side, int scans) {
    QByteArray j("\xFF\xD8", 2);
    j += QByteArray("\xFF\xDB\x00\x43\x00", 5) + QByteArray(64, '\x01'); // quantisation table
    j += QByteArray("\xFF\xC2\x00\x0B\x08", 5);                          // progressive frame
    AppendBE16(j, side);
    AppendBE16(j, side);
    j += QByteArray("\x01\x01\x11\x00", 4);
    // A DC table with the one code "0" for difference 0.
    j += QByteArray("\xFF\xC4\x00\x14\x00\x01", 6) + QByteArray(15, '\0') + QByteArray(1, '\0');
    for (int i = 0; i < scans; ++i) // DC scans of the one component
        j += QByteArray("\xFF\xDA\x00\x08\x01\x01\x00\x00\x00\x00", 10);
    return j + QByteArray("\xFF\xD9", 2);
}

// A little-endian TIFF for a w × h picture of 8-bit samples whose one strip holds `held` bytes
// and ends the file.
QByteArray TiffOneStrip(uint32_t w, uint32_t h, int samples, int compression, int held) {
    const uint32_t entries[][3] = {{256, 4, w},
                                   {257, 4, h},
                                   {258, 3, 8},
                                   {259, 3, uint32_t(compression)},
                                   {262, 3, samples == 3 ? 2u : 1u},
                                   {273, 4, 0}, // the strip's offset, set below
                                   {277, 3, uint32_t(samples)},
                                   {278, 4, h},
                                   {279, 4, uint32_t(held)}};
    const int count = int(std::size(entries));
    const uint32_t stripAt = 8 + 2 + 12 * uint32_t(count) + 4;
    QByteArray t("II*\0", 4);
    AppendLE32(t, 8);
    AppendLE16(t, count);
    for (const auto& e : entries) {
        AppendLE16(t, int(e[0]));
        AppendLE16(t, int(e[1]));
        AppendLE32(t, 1);
        AppendLE32(t, e[0] == 273 ? stripAt : e[2]);
    }
    AppendLE32(t, 0);
    return t + QByteArray(held, '\x80');
}

} // namespace

TEST(HostileFiles, ProgressiveJpegWithManyEmptyScansIsRefusedBeforeDecoding) {
    QTemporaryDir dir;
    // 14000 × 14000 with 999 scans: about 10 KB that would take 20 s and 400 MB to decode.
    const QByteArray bytes = EmptyScansJpeg(14000, 999);
    ASSERT_LT(bytes.size(), 11000);
    const QString path = WriteBytes(dir.path(), "scans.jpg", bytes);
    EXPECT_EQ(TypeOf(path).type, IK_TYPE_JPEG_PROGRESSIVE);
    const ChildRun run = RunInChild([&] {
        const IKHANDLE h = IKFileLoad(path.toUtf8().constData(), 0, 0, 0, 0, "", "", "");
        return h ? 1 : LastStatus().code;
    });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.result, IK_ERR_LIMIT);
    EXPECT_LT(run.peakGrowthMb, 64);
    // Asked in this process: the reason names the budget.
    EXPECT_EQ(IKFileLoad(path.toUtf8().constData(), 0, 0, 0, 0, "", "", ""), 0u);
    const Status s = LastStatus();
    EXPECT_EQ(s.code, IK_ERR_LIMIT);
    EXPECT_TRUE(s.reason.contains("999 scans")) << s.reason.toStdString();
    // The same picture with a few scans, as a real progressive file has, is decoded (grey, as
    // its scans hold nothing), and so is a small one with many scans.
    Loaded few(WriteBytes(dir.path(), "few.jpg", EmptyScansJpeg(1000, 10)));
    EXPECT_EQ(few.Size(), QSize(1000, 1000));
    Loaded small(WriteBytes(dir.path(), "small.jpg", EmptyScansJpeg(64, 999)));
    EXPECT_EQ(small.Size(), QSize(64, 64));
}

// A 24 × 16 JPEG written by the library, with an Exif segment spliced in after its SOI whose
// thumbnail is the given JPEG.
static QByteArray WithExifThumbnail(const QString& carrier, const QByteArray& thumb) {
    QByteArray tiff("II*\0", 4);
    AppendLE32(tiff, 8);
    // IFD0: Make "N" (so the data has a tag), then IFD1 with the thumbnail's offset and length.
    AppendLE16(tiff, 1);
    AppendLE16(tiff, 0x010F);
    AppendLE16(tiff, 2);
    AppendLE32(tiff, 2);
    tiff += QByteArray("N\0\0\0", 4);
    AppendLE32(tiff, 26); // IFD1 at 8 + 2 + 12 + 4
    AppendLE16(tiff, 2);
    const uint32_t thumbAt = 26 + 2 + 2 * 12 + 4;
    for (const auto& [tag, value] : {std::pair<int, uint32_t>{0x0201, thumbAt},
                                     std::pair<int, uint32_t>{0x0202, uint32_t(thumb.size())}}) {
        AppendLE16(tiff, tag);
        AppendLE16(tiff, 4);
        AppendLE32(tiff, 1);
        AppendLE32(tiff, value);
    }
    AppendLE32(tiff, 0);
    tiff += thumb;
    const QByteArray segment = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xFF\xE1", 2);
    AppendBE16(app1, int(segment.size() + 2));
    QByteArray bytes = ReadBytes(carrier);
    bytes.insert(2, app1 + segment);
    return bytes;
}

TEST(HostileFiles, ExifThumbnailLargerThanAThumbnailIsIgnoredForThePicture) {
    QTemporaryDir dir;
    QImage small(24, 16, QImage::Format_RGB888);
    small.fill(qRgb(200, 30, 30));
    Loaded src(IKDibFromBitmap(&small, 0));
    const QString carrier = dir.filePath("carrier.jpg");
    ASSERT_EQ(IKJpegFileSave(carrier.toUtf8(), src.Handle(), 0, 90, 2, "", 0, "", "", ""), 1);
    // The picture of the test above (21 s and 974 MB as a thumbnail), and the same with three
    // scans, within the scan budget but far larger than any thumbnail.
    for (const int scans : {999, 3}) {
        SCOPED_TRACE(scans);
        const QString path = WriteBytes(dir.path(), QStringLiteral("hidden%1.jpg").arg(scans),
                                        WithExifThumbnail(carrier, EmptyScansJpeg(14000, scans)));
        EXPECT_EQ(TypeOf(path).type, IK_TYPE_JPEG_EXIF);
        const ChildRun run = RunInChild([&] {
            std::vector<char> rec(IK_EXIF_SIZE);
            if (!IKJpegExifInfo(path.toUtf8().constData(), rec.data()))
                return -2;
            uint32_t handle = 0;
            std::memcpy(&handle, rec.data() + IK_EX_THUMBNAIL, 4);
            return int(handle);
        });
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.result, 0); // the Exif data is read, without its "thumbnail"
        EXPECT_LT(run.peakGrowthMb, 64);
        // The program's thumbnail loading falls back to the picture itself.
        CImageKit kit;
        ASSERT_TRUE(kit.LoadThumbnail(path, false));
        EXPECT_EQ(kit.GetSize(), QSize(24, 16));
    }
    // A thumbnail of the largest size allowed is still taken.
    const QString edge =
        WriteBytes(dir.path(), "edge.jpg", WithExifThumbnail(carrier, EmptyScansJpeg(1024, 3)));
    CImageKit kit;
    ASSERT_TRUE(kit.LoadThumbnail(edge, false));
    EXPECT_EQ(kit.GetSize(), QSize(1024, 1024));
}

TEST(HostileFiles, PngChunkDeclaringTwoGigabytesCostsNothing) {
    QTemporaryDir dir;
    // Signature, IHDR of 1 × 1, and the header of a text chunk of 0x7FFFFFF0 bytes: 41 bytes.
    QByteArray ihdr;
    AppendBE32(ihdr, 1);
    AppendBE32(ihdr, 1);
    ihdr += QByteArray("\x08\x02\x00\x00\x00", 5);
    QByteArray bytes = QByteArray("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr);
    AppendBE32(bytes, 0x7FFFFFF0);
    bytes += "tEXt";
    ASSERT_EQ(bytes.size(), 41);
    const QString path = WriteBytes(dir.path(), "text.png", bytes);
    const ChildRun run = RunInChild([&] {
        const IKHANDLE h = IKFileLoad(path.toUtf8().constData(), 0, 0, 0, 0, "", "", "");
        std::vector<char> rec(IK_FILETYPE_SIZE);
        return (h ? 1 : 0) + (IKFileType(path.toUtf8().constData(), 0, rec.data()) ? 2 : 0);
    });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.result, 2); // recognised, but there is no picture to decode
    EXPECT_LT(run.peakGrowthMb, 64);
    EXPECT_EQ(IKFileLoad(path.toUtf8().constData(), 0, 0, 0, 0, "", "", ""), 0u);
    EXPECT_EQ(LastStatus().code, IK_ERR_DATA);

    // A real picture with such a chunk after its data decodes, and the comment of a file that has
    // one is still read, in every kind of text chunk.
    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(qRgb(1, 2, 3));
    Loaded src(IKDibFromBitmap(&img, 0));
    const QString plain = dir.filePath("plain.png");
    ASSERT_EQ(IKPngFileSave(plain.toUtf8(), src.Handle(), 0, 0, 0, 0, 0, 0, 0, "", "", ""), 1);
    const QByteArray png = ReadBytes(plain);
    const qsizetype iend = png.indexOf("IEND") - 4;
    ASSERT_GT(iend, 0);
    QByteArray big = png.left(iend) + PngChunk("tEXt", QByteArray("Title\0x", 7));
    AppendBE32(big, 0x7FFFFFF0);
    big += "zTXt";
    const QString after = WriteBytes(dir.path(), "after.png", big);
    const ChildRun loaded = RunInChild([&] {
        Loaded l(after);
        return l.Size() == QSize(8, 8) ? 1 : 0;
    });
    ASSERT_TRUE(loaded.finished);
    EXPECT_EQ(loaded.result, 1);
    EXPECT_LT(loaded.peakGrowthMb, 64);

    const QByteArray zComment = [] {
        QByteArray z = QByteArray("Comment\0\0", 9);
        // A stored deflate stream of "zipped": header, one final stored block, Adler-32.
        z += QByteArray("\x78\x01\x01\x06\x00\xF9\xFF", 7) + "zipped";
        AppendBE32(z, 0x092D028Du);
        return z;
    }();
    const struct {
        const char* type;
        QByteArray data;
        const char* comment;
    } texts[] = {{"tEXt", QByteArray("Comment\0plain words", 19), "plain words"},
                 {"zTXt", zComment, "zipped"},
                 {"iTXt",
                  QByteArray("Comment\0\0\0ja\0", 13) + "\xE6\xB3\xA8" + QByteArray(1, '\0') +
                      "international",
                  "international"}};
    for (const auto& t : texts) {
        SCOPED_TRACE(t.type);
        const QString file = WriteBytes(dir.path(), QString::fromLatin1(t.type) + ".png",
                                        png.left(iend) + PngChunk(t.type, t.data) + png.mid(iend));
        EXPECT_EQ(TypeOf(file).comment, QByteArray(t.comment));
        EXPECT_EQ(Loaded(file).Size(), QSize(8, 8));
    }
}

TEST(HostileFiles, TiffWhoseStripsCannotHoldThePictureIsRefusedBeforeAllocation) {
    QTemporaryDir dir;
    // 14142 × 14142 RGB, LZW, with one strip of 4 bytes: 126 bytes that made 800 MB (and a
    // picture of the same size, black).
    const QByteArray bytes = TiffOneStrip(14142, 14142, 3, 5, 4);
    ASSERT_LT(bytes.size(), 140);
    const QString path = WriteBytes(dir.path(), "strip.tif", bytes);
    EXPECT_EQ(TypeOf(path).width, 14142);
    const ChildRun run = RunInChild([&] {
        const IKHANDLE h = IKFileLoad(path.toUtf8().constData(), 0, 0, 0, 0, "", "", "");
        return h ? 1 : LastStatus().code;
    });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.result, IK_ERR_LIMIT);
    EXPECT_LT(run.peakGrowthMb, 64);
    EXPECT_EQ(IKFileLoad(path.toUtf8().constData(), 0, 0, 0, 0, "", "", ""), 0u);
    const Status s = LastStatus();
    EXPECT_EQ(s.code, IK_ERR_LIMIT);
    EXPECT_TRUE(s.reason.contains("strips cannot hold the picture")) << s.reason.toStdString();
    // The grey variant (read row by row) and an uncompressed strip one byte short are refused
    // alike; the same strip with all its bytes is a picture.
    EXPECT_EQ(
        Loaded(WriteBytes(dir.path(), "grey.tif", TiffOneStrip(14142, 14142, 1, 5, 4))).Handle(),
        0u);
    EXPECT_EQ(LastStatus().code, IK_ERR_LIMIT);
    EXPECT_EQ(Loaded(WriteBytes(dir.path(), "short.tif", TiffOneStrip(20, 10, 3, 1, 599))).Handle(),
              0u);
    EXPECT_EQ(LastStatus().code, IK_ERR_LIMIT);
    Loaded whole(WriteBytes(dir.path(), "whole.tif", TiffOneStrip(20, 10, 3, 1, 600)));
    EXPECT_EQ(whole.Size(), QSize(20, 10));
    EXPECT_EQ(whole.Rgb().pixel(19, 9), qRgb(0x80, 0x80, 0x80));
}

TEST(HostileFiles, PcxRowOfMoreThan65535BytesFailsAndWritesNothing) {
    QTemporaryDir dir;
    // 65535 pixels at 8 bits make 65536 bytes a row once padded to an even count: the header's
    // 16-bit field would read 0.
    QVector<QRgb> grey(256);
    for (int i = 0; i < 256; ++i)
        grey[i] = qRgb(i, i, i);
    QImage wide(65535, 2, QImage::Format_Indexed8);
    wide.setColorTable(grey);
    wide.fill(255);
    Loaded src(IKDibFromBitmap(&wide, 0));
    ASSERT_NE(src.Handle(), 0u);
    const QString path = dir.filePath("wide.pcx");
    EXPECT_EQ(IKPcxFileSave(path.toUtf8(), src.Handle(), 0, "", "", ""), 0);
    const Status s = LastStatus();
    EXPECT_EQ(s.code, IK_ERR_WRITE);
    EXPECT_TRUE(s.reason.contains("65,535 bytes")) << s.reason.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    // One pixel narrower fits, and reads back.
    QImage fits(65534, 2, QImage::Format_Indexed8);
    fits.setColorTable(grey);
    fits.fill(255);
    Loaded narrower(IKDibFromBitmap(&fits, 0));
    ASSERT_EQ(IKPcxFileSave(path.toUtf8(), narrower.Handle(), 0, "", "", ""), 1);
    EXPECT_EQ(LastStatus().code, IK_ERR_NONE);
    Loaded back(path);
    EXPECT_EQ(back.Size(), QSize(65534, 2));
    EXPECT_EQ(back.Rgb().pixel(65533, 1), qRgb(255, 255, 255));
}

TEST(HostileFiles, TiffPagesAreCountedAlongABoundedChain) {
    QTemporaryDir dir;
    // A 1 × 1 page followed by a million directories of one entry each (18 MB): recognition
    // counted every one of them (and kept a record of each, 130 MB). It stops at the most a
    // count can say.
    QByteArray t("II*\0", 4);
    AppendLE32(t, 12);
    t += QByteArray("\x80\0\0\0", 4);
    const uint32_t first[][3] = {{256, 4, 1}, {257, 4, 1}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
                                 {273, 4, 8}, {277, 3, 1}, {278, 4, 1}, {279, 4, 1}};
    AppendLE16(t, 9);
    for (const auto& e : first) {
        AppendLE16(t, int(e[0]));
        AppendLE16(t, int(e[1]));
        AppendLE32(t, 1);
        AppendLE32(t, e[2]);
    }
    constexpr int kChain = 1000000;
    t.reserve(t.size() + 4 + 18 * kChain);
    for (int i = 0; i <= kChain; ++i) {
        if (i > 0) { // a directory of one entry
            AppendLE16(t, 1);
            AppendLE16(t, 256);
            AppendLE16(t, 4);
            AppendLE32(t, 1);
            AppendLE32(t, 1);
        }
        AppendLE32(t, i < kChain ? uint32_t(t.size() + 4) : 0u);
    }
    const QString chain = WriteBytes(dir.path(), "chain.tif", t);
    const ChildRun run = RunInChild([&] { return TypeOf(chain).panes; });
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.result, 32767);
    EXPECT_LT(run.peakGrowthMb, 64);
    EXPECT_EQ(Loaded(chain).Size(), QSize(1, 1));
    // A chain that comes back to its first page counts each page once.
    QByteArray loop = t.left(12 + 2 + 9 * 12);
    AppendLE32(loop, 12);
    EXPECT_EQ(TypeOf(WriteBytes(dir.path(), "loop.tif", loop)).panes, 1);
}
