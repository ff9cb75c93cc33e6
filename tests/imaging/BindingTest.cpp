// The program's binding to the imaging library: the loader, CImageKit and the free functions.
#include "ImagingSupport.h"

#include "imaging/Fit.h"
#include "imaging/ImageKit.h"
#include "imaging/ImageLibrary.h"
#include "platform/MsgBox.h"

#include <QApplication>
#include <QPainter>

using namespace testimg;

namespace {

class Binding : public ::testing::Test {
protected:
    void SetUp() override { LoadImageLibrary(); }
    void TearDown() override { LoadImageLibrary(); }
    QDir Dir() const { return QDir(m_dir.path()); }
    QString Png(const QString& name, int w, int h) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(qRgb(10, 200, 30));
        const QString path = Dir().filePath(name);
        EXPECT_TRUE(img.save(path, "PNG"));
        return path;
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST(FileNames, ImageExtensionsAndSaveTypes) {
    EXPECT_TRUE(IsImageFile("PHOTO.JPG"));
    EXPECT_TRUE(IsImageFile("photo.Jpeg"));
    EXPECT_TRUE(IsImageFile("/a/b/scan.TIFF"));
    EXPECT_FALSE(IsImageFile("archive.jpg.txt"));
    EXPECT_FALSE(IsImageFile("noext"));
    EXPECT_EQ(GetSaveType("PHOTO.JPG"), 2);
    EXPECT_EQ(GetSaveType("photo.Jpeg"), 2);
    EXPECT_EQ(GetSaveType("a.bmp"), 0);
    EXPECT_EQ(GetSaveType("a.GIF"), 1);
    EXPECT_EQ(GetSaveType("a.tif"), 3);
    EXPECT_EQ(GetSaveType("a.tiff"), 3);
    EXPECT_EQ(GetSaveType("a.pcx"), 4);
    EXPECT_EQ(GetSaveType("a.png"), 5);
    EXPECT_EQ(GetSaveType("noext"), -1);
    EXPECT_EQ(GetSaveType("old.lzh"), 255);
    // The extension is taken from the last dot of the whole path, even in a folder name.
    EXPECT_EQ(GetSaveType("/dir.x/file"), 255);
    EXPECT_EQ(GetSaveType("/dir.png/file"), 255);
}

TEST(FileNames, AspectArithmetic) {
    EXPECT_EQ(CalcHeightForWidth(400, 300, 200), 150);
    EXPECT_EQ(CalcWidthForHeight(400, 300, 150), 200);
    EXPECT_EQ(CalcWidthForHeight(3000, 4000, 400), 300);
    // Fixed-point truncation: ratio 3333 for 3 × 1.
    EXPECT_EQ(CalcHeightForWidth(3, 1, 300), 99);
    // A ratio of 0 (wider than 10,000 : 1) and a zero width do not divide by zero.
    EXPECT_EQ(CalcWidthForHeight(20000, 1, 2), 40000);
    EXPECT_EQ(CalcHeightForWidth(20000, 1, 100), 0);
    EXPECT_EQ(CalcWidthForHeight(0, 10, 10), 0);
}

TEST_F(Binding, LoadSizeDepthDraw) {
    CImageKit kit;
    EXPECT_TRUE(kit.IsEmpty());
    EXPECT_EQ(kit.GetSize(), QSize(0, 0));
    EXPECT_FALSE(kit.Resize(10, 10, false)); // an empty object fails without the library
    ASSERT_TRUE(kit.Load(Png("a.png", 30, 20), false));
    EXPECT_EQ(kit.GetSize(), QSize(30, 20));
    EXPECT_EQ(kit.GetBitCount(), 24);
    EXPECT_TRUE(kit.ConvertColor(8, IK_PALETTE_OPTIMAL, IK_DITHER_ON, false));
    EXPECT_EQ(kit.GetBitCount(), 8);
    EXPECT_TRUE(kit.Resize(15, 10, false));
    EXPECT_EQ(kit.GetSize(), QSize(15, 10));
    QImage canvas(40, 40, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter p(&canvas);
        EXPECT_TRUE(kit.DrawAt(&p, 5, 6, -1, -1, IK_OUT_THUMBNAIL));
        EXPECT_EQ(p.transform(), QTransform()); // the origin is put back
    }
    EXPECT_EQ(canvas.pixel(5, 6), qRgb(10, 200, 30));
    EXPECT_EQ(canvas.pixel(19, 15), qRgb(10, 200, 30));
    EXPECT_EQ(canvas.pixel(20, 16), qRgb(255, 255, 255));
}

TEST_F(Binding, FailedLoadLeavesTheObjectEmptyAndReleasesTheOldImage) {
    CImageKit kit;
    const int before = ik::Count();
    ASSERT_TRUE(kit.Load(Png("a.png", 8, 8), false));
    EXPECT_EQ(ik::Count(), before + 1);
    // Known extension, content nobody reads (offered to the plug-ins, of which there are none).
    const QString junk = WriteBytes(Dir(), "junk.png", "not an image");
    EXPECT_FALSE(kit.Load(junk, false));
    EXPECT_TRUE(kit.IsEmpty());
    EXPECT_EQ(ik::Count(), before);
    // A real picture under an unknown extension is never given to the library.
    const QString renamed = Dir().filePath("picture.dat");
    ASSERT_TRUE(QFile::copy(Png("b.png", 8, 8), renamed));
    EXPECT_FALSE(kit.Load(renamed, false));
    EXPECT_EQ(GetFileTypeCode(renamed), 0);
    EXPECT_EQ(GetFileTypeCode(Dir().filePath("b.png")), IK_TYPE_PNG);
    EXPECT_FALSE(kit.LoadByPlugin(renamed));
}

TEST_F(Binding, ThumbnailPrefersTheExifThumbnailElseLoadsInFull) {
    REQUIRE_TOOL("convert");
    REQUIRE_TOOL("exiftool");
    const QString photo = Dir().filePath("cam.jpg"), thumb = Dir().filePath("t.jpg");
    ASSERT_TRUE(RunTool("convert", {"-size", "800x600", "gradient:red-blue", photo}));
    const QString bare = Dir().filePath("bare.jpg");
    ASSERT_TRUE(QFile::copy(photo, bare));
    ASSERT_TRUE(RunTool("convert", {photo, "-resize", "160x120", thumb}));
    ASSERT_TRUE(RunTool(
        "exiftool", {"-q", "-overwrite_original", "-Make=N", "-ThumbnailImage<=" + thumb, photo}));
    ASSERT_TRUE(RunTool("exiftool", {"-q", "-overwrite_original", "-Make=N", bare}));
    CImageKit kit;
    ASSERT_TRUE(kit.LoadThumbnail(photo, false));
    EXPECT_EQ(kit.GetSize(), QSize(160, 120));
    ASSERT_TRUE(kit.LoadThumbnail(bare, false)); // Exif without a thumbnail: the whole picture
    EXPECT_EQ(kit.GetSize(), QSize(800, 600));
    QSize original;
    ASSERT_TRUE(kit.LoadScaled(bare, QSize(76, 57), &original));
    EXPECT_EQ(original, QSize(800, 600));
    EXPECT_EQ(kit.GetSize(), QSize(100, 75));
    // For a thumbnail: the embedded one when there is one, else the smallest decode that still
    // covers the fitted size, with the size the picture has.
    ASSERT_TRUE(kit.LoadForThumbnail(photo, QSize(76, 76), &original));
    EXPECT_EQ(original, QSize(160, 120));
    EXPECT_EQ(kit.GetSize(), QSize(160, 120));
    ASSERT_TRUE(kit.LoadForThumbnail(bare, QSize(76, 76), &original));
    EXPECT_EQ(original, QSize(800, 600));
    EXPECT_EQ(kit.GetSize(), QSize(100, 75)); // 1/8 covers 76 × 57
    ASSERT_TRUE(kit.LoadForThumbnail(bare, QSize(300, 300), &original));
    EXPECT_EQ(kit.GetSize(), QSize(300, 225)); // 3/8 covers 300 × 225
}

TEST_F(Binding, MissingModulesMakeEveryOperationFailWithoutACrash) {
    CImageKit kit;
    ASSERT_TRUE(kit.Load(Png("a.png", 8, 8), false));
    QTemporaryDir empty;
    LoadImageLibraryFrom(empty.path());
    EXPECT_EQ(ImageLib::Slot("IKFileLoad"), nullptr);
    EXPECT_EQ(ImageLib::Slot("IKScanInitialize"), nullptr);
    CImageKit other;
    EXPECT_FALSE(other.Load(Dir().filePath("a.png"), false));
    EXPECT_FALSE(kit.Resize(4, 4, false));
    EXPECT_FALSE(kit.ConvertColor(8, IK_PALETTE_OPTIMAL, IK_DITHER_ON, false));
    EXPECT_FALSE(kit.Orient(IK_ORIENT_ROTATE_90));
    EXPECT_FALSE(kit.SaveBmp(Dir().filePath("x.bmp"), false));
    EXPECT_EQ(kit.GetSize(), QSize(0, 0));
    EXPECT_EQ(GetFileTypeCode(Dir().filePath("a.png")), 0);
    std::vector<MsgBoxRequest> boxes;
    auto old = SetMessageBoxResponder([&](const MsgBoxRequest& r) {
        boxes.push_back(r);
        return IDOK;
    });
    EXPECT_FALSE(kit.Sharpen(10, 0, 0, 8, 8, IK_SHARP_DEFAULT, false));
    SetMessageBoxResponder(old);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("処理が失敗しました"));
    QImage canvas(4, 4, QImage::Format_RGB32);
    QPainter p(&canvas);
    EXPECT_FALSE(kit.Draw(&p, -1, -1, IK_OUT_PREVIEW));
    // Loaded again, the same object works.
    LoadImageLibrary();
    EXPECT_EQ(kit.GetSize(), QSize(8, 8));
}

TEST_F(Binding, EntryPointsAreResolvedOnceIntoTypedPointers) {
    // The library has every entry point the program calls.
    EXPECT_EQ(LoadImageLibrary(), QStringList());
    const ImageLib::EntryPoints& e = ImageLib::Entries();
    // Each typed pointer is the slot of its own name in the modules' tables.
    EXPECT_EQ(reinterpret_cast<void*>(e.IKFileLoad), ImageLib::Slot("IKFileLoad"));
    EXPECT_EQ(reinterpret_cast<void*>(e.IKFileLoadScaled), ImageLib::Slot("IKFileLoadScaled"));
    EXPECT_EQ(reinterpret_cast<void*>(e.IKGetErrorStatus), ImageLib::Slot("IKGetErrorStatus"));
    EXPECT_EQ(reinterpret_cast<void*>(e.IKOrient), ImageLib::Slot("IKOrient"));
    EXPECT_EQ(reinterpret_cast<void*>(e.IKSharp), ImageLib::Slot("IKSharp"));
    // and is the function the header declares (the test is linked to the modules too).
    EXPECT_EQ(e.IKFileType, &IKFileType);
    EXPECT_EQ(e.IKResize, &IKResize);
    EXPECT_EQ(e.IKFreeMemory, &IKFreeMemory);
    // Names the library does not have stay empty; a name no table has has no slot.
    EXPECT_EQ(ImageLib::Slot("IKRotation"), nullptr);
    EXPECT_EQ(ImageLib::Slot("IKScanExec"), nullptr);
    EXPECT_EQ(ImageLib::Slot("IKFileLaod"), nullptr);
    // Without the modules, the loader names every entry point the program would miss.
    QTemporaryDir empty;
    const QStringList missing = LoadImageLibraryFrom(empty.path());
    EXPECT_EQ(missing.size(), 25);
    EXPECT_TRUE(missing.contains("IKFileLoad"));
    EXPECT_TRUE(missing.contains("IKFileLoadScaledAs"));
    EXPECT_TRUE(missing.contains("IKOrient"));
    EXPECT_EQ(ImageLib::Entries().IKFileLoad, nullptr);
    EXPECT_EQ(ImageLib::LastError(), QStringLiteral("the imaging library is not loaded"));
}

TEST_F(Binding, TheReasonOfAFailureIsKept) {
    CImageKit kit;
    int code = 0;
    EXPECT_FALSE(kit.Load(WriteBytes(Dir(), "junk.png", "not an image"), false));
    EXPECT_FALSE(ImageLib::LastError(&code).isEmpty());
    EXPECT_EQ(code, IK_ERR_FORMAT);
    EXPECT_FALSE(kit.Load(Dir().filePath("missing.png"), false));
    EXPECT_TRUE(ImageLib::LastError(&code).startsWith("cannot open the file"));
    EXPECT_EQ(code, IK_ERR_OPEN);
    ASSERT_TRUE(kit.Load(Png("a.png", 8, 8), false));
    EXPECT_EQ(ImageLib::LastError(&code), QString());
    EXPECT_EQ(code, IK_ERR_NONE);
    // Orientation through the wrapper: a turn swaps the sides; with no image it fails.
    ASSERT_TRUE(kit.Load(Png("b.png", 8, 5), false));
    EXPECT_TRUE(kit.Orient(IK_ORIENT_ROTATE_270));
    EXPECT_EQ(kit.GetSize(), QSize(5, 8));
    CImageKit none;
    EXPECT_FALSE(none.Orient(IK_ORIENT_ROTATE_90));
}

TEST_F(Binding, ProgressTextsAndTheStopButton) {
    SetProgressTexts(true);
    EXPECT_STREQ(ImageLib::Caption(), "処理中");
    EXPECT_STREQ(ImageLib::Message(), "処理中です...");
    EXPECT_STREQ(ImageLib::Button(), "中止");
    SetProgressTexts(false);
    EXPECT_STREQ(ImageLib::Caption(), "");

    // A long load with the window shown at once; pressing stop fails it, with that reason.
    const QString big = Png("big.png", 3000, 3000);
    IKSetProgressDelay(0);
    CImageKit kit;
    const int before = ik::Count();
    QString caption, label;
    {
        StopProgressWindows stop;
        EXPECT_FALSE(kit.Load(big, true));
        caption = stop.caption;
        label = stop.label;
    }
    int code = 0;
    // (Releasing the object's image afterwards leaves the reason in place.)
    EXPECT_EQ(ImageLib::LastError(&code), QStringLiteral("stopped by the user"));
    EXPECT_EQ(code, IK_ERR_STOPPED);
    IKSetProgressDelay(400);
    EXPECT_EQ(caption, QStringLiteral("処理中"));
    EXPECT_EQ(label, QStringLiteral("処理中です..."));
    EXPECT_TRUE(kit.IsEmpty());
    EXPECT_EQ(ik::Count(), before);
    // Without texts there is no window and nothing to stop.
    EXPECT_TRUE(kit.Load(big, false));
    EXPECT_EQ(ImageLib::LastError(&code), QString());
    EXPECT_EQ(code, IK_ERR_NONE);
}

TEST(Fitting, ExamplesOfThePreviewAndThumbnails) {
    EXPECT_EQ(FittedSize({640, 480}, {76, 76}), QSize(76, 57));
    EXPECT_EQ(FittedSize({16, 16}, {76, 76}), QSize(16, 16));
    EXPECT_EQ(FittedSize({640, 480}, {100, 80}), QSize(100, 75));
    EXPECT_EQ(FittedSize({480, 640}, {100, 80}), QSize(60, 80));
    // Only the height overflows, but the longer side decides: wider than the picture.
    EXPECT_EQ(FittedSize({90, 85}, {100, 80}), QSize(100, 85));
    EXPECT_EQ(FittedSize({400, 390}, {156, 116}), QSize(156, 152));
    EXPECT_EQ(FittedSize({4000, 3000}, {76, 76}), QSize(76, 57));
    // A box side of 0 counts as 1; a ratio of 0 leaves the picture as it is.
    EXPECT_EQ(FittedSize({10, 5}, {0, 0}), QSize(1, 1));
    EXPECT_EQ(FittedSize({1, 300}, {20000, 2}), QSize(1, 2));
    EXPECT_EQ(FittedSize({2, 1}, {1, 1000}), QSize(1, 1));
    EXPECT_EQ(FittedSize({3, 5}, {2, 1000}), QSize(3, 5));
}
