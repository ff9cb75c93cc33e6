// Reduced-scale JPEG decoding and Exif information with the embedded thumbnail.
#include "ImagingSupport.h"

using namespace testimg;

namespace {

class Jpeg : public ::testing::Test {
protected:
    void SetUp() override {
        if (!Have("convert") || !Have("exiftool"))
            GTEST_SKIP() << "ImageMagick or exiftool is not installed";
    }
    QDir Dir() const { return QDir(m_dir.path()); }
    // A camera-size picture with detail everywhere.
    QString Photo(const QString& name, int w, int h) {
        const QString path = Dir().filePath(name);
        EXPECT_TRUE(RunTool("convert", {"-size", QStringLiteral("%1x%2").arg(w).arg(h),
                                        "plasma:fractal", "-seed", "7", "-quality", "90", path}));
        return path;
    }
    struct Exif {
        int ok;
        QByteArray maker, model, when;
        uint32_t expN, expD, focN, focD, fN, fD;
        int32_t shutN, shutD;
        IKHANDLE thumb;
    };
    static Exif ExifOf(const QString& path) {
        std::vector<char> rec(IK_EXIF_SIZE, 0);
        Exif e{};
        e.ok = IKJpegExifInfo(path.toUtf8().constData(), rec.data());
        auto u32 = [&](int off) {
            uint32_t v;
            std::memcpy(&v, rec.data() + off, 4);
            return v;
        };
        e.maker = QByteArray(rec.data() + IK_EX_MAKER);
        e.model = QByteArray(rec.data() + IK_EX_MODEL);
        e.when = QByteArray(rec.data() + IK_EX_DATETIME);
        e.expN = u32(IK_EX_EXPOSURE);
        e.expD = u32(IK_EX_EXPOSURE + 4);
        e.shutN = int32_t(u32(IK_EX_SHUTTER));
        e.shutD = int32_t(u32(IK_EX_SHUTTER + 4));
        e.focN = u32(IK_EX_FOCAL);
        e.focD = u32(IK_EX_FOCAL + 4);
        e.fN = u32(IK_EX_FNUMBER);
        e.fD = u32(IK_EX_FNUMBER + 4);
        e.thumb = u32(IK_EX_THUMBNAIL);
        return e;
    }

    QTemporaryDir m_dir;
};

} // namespace

TEST_F(Jpeg, ReducedDecodingPicksTheSmallestScaleCoveringTheTarget) {
    const QString photo = Photo("big.jpg", 4000, 3000);
    int32_t ow = 0, oh = 0;
    // A 76 × 57 thumbnail needs no more than 1/8: 500 × 375.
    Loaded eighth(IKFileLoadScaled(photo.toUtf8().constData(), 76, 57, &ow, &oh));
    ASSERT_NE(eighth.Handle(), 0u);
    EXPECT_EQ(eighth.Size(), QSize(500, 375));
    EXPECT_EQ(ow, 4000);
    EXPECT_EQ(oh, 3000);
    // 600 × 450 is more than 1/8 gives: 2/8.
    Loaded quarter(IKFileLoadScaled(photo.toUtf8().constData(), 600, 450, nullptr, nullptr));
    EXPECT_EQ(quarter.Size(), QSize(1000, 750));
    // More than the picture has: the full size.
    Loaded full(IKFileLoadScaled(photo.toUtf8().constData(), 5000, 10, nullptr, nullptr));
    EXPECT_EQ(full.Size(), QSize(4000, 3000));
    // The reduced picture is the full one, smaller: compare against a shrunk full decode.
    const QImage shrunk =
        full.Rgb().scaled(500, 375, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LE(MaxDiff(eighth.Rgb(), shrunk), 64);
    // Other formats shrink by a whole factor (here 20) and still report their full size.
    const QString png = Dir().filePath("p.png");
    ASSERT_TRUE(RunTool("convert", {"-size", "300x200", "xc:green", png}));
    Loaded whole(IKFileLoadScaled(png.toUtf8().constData(), 10, 10, &ow, &oh));
    EXPECT_EQ(whole.Size(), QSize(15, 10));
    EXPECT_EQ(ow, 300);
    EXPECT_EQ(oh, 200);
    EXPECT_EQ(whole.Rgb().pixel(7, 5), qRgb(0, 128, 0));
}

TEST_F(Jpeg, ExifFieldsAndEmbeddedThumbnail) {
    const QString photo = Photo("cam.jpg", 640, 480);
    const QString thumb = Dir().filePath("thumb.jpg");
    ASSERT_TRUE(RunTool("convert", {photo, "-resize", "160x120", thumb}));
    ASSERT_TRUE(RunTool("exiftool",
                        {"-q", "-overwrite_original", "-Make=Norvo Optics", "-Model=PQ-1 ズーム",
                         "-DateTimeOriginal=2026:12:01 10:20:30", "-ModifyDate=2020:01:01 00:00:00",
                         "-ExposureTime=10/1250", "-FNumber=2.8", "-FocalLength=5.8",
                         "-ShutterSpeedValue=1/125", "-ThumbnailImage<=" + thumb, photo}));
    const FileType t = TypeOf(photo);
    EXPECT_EQ(t.type, IK_TYPE_JPEG_EXIF);
    EXPECT_EQ(t.width, 640);

    const Exif e = ExifOf(photo);
    ASSERT_EQ(e.ok, 1);
    EXPECT_EQ(e.maker, QByteArray("Norvo Optics"));
    EXPECT_EQ(QString::fromUtf8(e.model), QStringLiteral("PQ-1 ズーム"));
    EXPECT_EQ(e.when, QByteArray("2026:12:01 10:20:30")); // the shooting time, not the change
    ASSERT_NE(e.expD, 0u);
    EXPECT_DOUBLE_EQ(double(e.expN) / e.expD, 0.008);
    EXPECT_DOUBLE_EQ(double(e.fN) / e.fD, 2.8);
    EXPECT_DOUBLE_EQ(double(e.focN) / e.focD, 5.8);
    ASSERT_NE(e.shutD, 0);
    EXPECT_NEAR(double(e.shutN) / e.shutD, 6.97, 0.01); // APEX of 1/125 s
    ASSERT_NE(e.thumb, 0u);
    Loaded th(e.thumb); // the caller owns it
    EXPECT_EQ(th.Size(), QSize(160, 120));
    EXPECT_EQ(th.Bpp(), 24);
}

TEST_F(Jpeg, ExifWithoutThumbnailAndDateTimeFallback) {
    const QString photo = Photo("nothumb.jpg", 320, 240);
    ASSERT_TRUE(RunTool("exiftool", {"-q", "-overwrite_original", "-Make=X",
                                     "-ModifyDate=2021:02:03 04:05:06", photo}));
    const Exif e = ExifOf(photo);
    ASSERT_EQ(e.ok, 1);
    EXPECT_EQ(e.thumb, 0u);
    EXPECT_EQ(e.when, QByteArray("2021:02:03 04:05:06"));
    EXPECT_EQ(e.expD, 0u); // absent values stay 0
    // A JPEG without Exif, and a PNG, have no Exif information.
    const QString plain = Photo("plain.jpg", 64, 48);
    EXPECT_EQ(ExifOf(plain).ok, 0);
    EXPECT_EQ(TypeOf(plain).type, IK_TYPE_JPEG);
}
