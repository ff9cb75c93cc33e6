// A screen of two device pixels per logical pixel: the grid's and the preview's pictures keep
// every device pixel, the shared cache's size class follows the device pixels, the geometry stays
// that of ratio 1, and the toolbar's buttons are drawn for the screen.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "imaging/DevicePixels.h"
#include "imaging/Fit.h"
#include "imaging/ImageKit.h"
#include "preview/PreviewDlg.h"
#include "res/Icons.h"
#include "res/resource.h"
#include "thumbs/ThumbnailCache.h"
#include "thumbs/ThumbnailLoader.h"
#include "thumbs/ThumbnailView.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QUrl>
#include <QWindow>
#include <thread>

namespace {

// Thumbnail jobs run on a worker thread, never on the user-interface one (the loader checks).
ThumbnailResult MakeOnWorker(const ThumbnailJob& job) {
    ThumbnailResult r;
    std::thread([&] { r = CThumbnailLoader::Make(job); }).join();
    return r;
}

constexpr double kRatio = 2.0;

// Black and white alternating pixel by pixel.
QImage Checker(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    return img;
}

// Vertical stripes of `period` pixels, half black, half white.
QImage Stripes(int w, int h, int period) {
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, (x % period) < period / 2 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    return img;
}

// How many horizontally neighbouring pixels of a region differ by more than a quarter of the
// range, as a share of all neighbours.
double AlternatingShare(const QImage& img, const QRect& r) {
    int differ = 0, total = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x < r.right(); ++x) {
            ++total;
            if (std::abs(qGray(img.pixel(x, y)) - qGray(img.pixel(x + 1, y))) > 64)
                ++differ;
        }
    return total ? double(differ) / total : 0.0;
}

// A job's picture, given back: its size.
QSize Taken(const ThumbnailResult& r) {
    CImageKit kit;
    kit.Attach(r.image);
    return kit.GetSize();
}

class HiDpi : public AppTest {
protected:
    void Prepare() override {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        ThumbnailCache::SetBaseDir(m_cache.path());
        // Started in this folder, with 128 × 128 thumbnails (a picture area of 124 × 124).
        m_settings.WriteRaw("[System]\nInitMode=0\n[View]\nThumbnailSizeX=128\n"
                            "ThumbnailSizeY=128\n");
        PrepareFolder();
    }
    void TearDown() override {
        AppTest::TearDown();
        QDir::setCurrent(m_oldDir);
        ThumbnailCache::SetBaseDir(QString());
    }
    virtual void PrepareFolder() {}
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    CThumbnailView* View() const { return Frame()->ThumbnailView(); }
    // The frame at the same logical size whatever the ratio, its pictures all made.
    void Settle() {
        Frame()->resize(900, 640);
        Spin(50);
        View()->viewport()->repaint();
        ASSERT_TRUE(WaitForPictures(View()));
        Spin(20);
    }
    // Where tile i's picture lies on the viewport, in logical pixels.
    QRect PictureRect(int i) const {
        const CImageTile& t = *View()->Tiles()[size_t(i)];
        const QRect cell = View()->GetCellRect(i).translated(
            -View()->horizontalScrollBar()->value(), -View()->verticalScrollBar()->value());
        const QSize client = t.m_wndImage.ClientSize();
        const QSize shown = t.m_wndImage.m_sizeShown;
        const QPoint origin =
            cell.topLeft() + QPoint(1, 1) + t.m_wndImage.m_rcWindow.topLeft() + QPoint(1, 1) +
            QPoint((client.width() - shown.width()) / 2, (client.height() - shown.height()) / 2);
        return QRect(origin, shown);
    }
    // The viewport as the screen shows it, in device pixels.
    QImage GrabViewport() const {
        const QPixmap pm = View()->viewport()->grab();
        EXPECT_EQ(pm.devicePixelRatio(), View()->devicePixelRatioF());
        return pm.toImage().convertToFormat(QImage::Format_RGB32);
    }

    QTemporaryDir m_dir, m_cache;
    QString m_oldDir;
};

} // namespace

TEST(DevicePixels_, SizesAndFittingAgreeWithTheLogicalArithmetic) {
    for (double r : {1.0, 1.25, 1.5, 2.0, 3.0})
        for (int n : {1, 3, 57, 76, 124, 1180}) {
            // A logical length and back again.
            EXPECT_EQ(DevicePixels::Logical(DevicePixels::Size({n, n}, r), r), QSize(n, n)) << r;
            EXPECT_GE(DevicePixels::Length(n, r), n);
        }
    // At ratio 1 the fitting is the program's own; at any ratio the shown size is.
    for (QSize original : {QSize(640, 480), QSize(400, 390), QSize(16, 16), QSize(100, 100),
                           QSize(3, 20000), QSize(4000, 3000)})
        for (QSize box : {QSize(76, 76), QSize(156, 116), QSize(124, 124)}) {
            const auto one = DevicePixels::Fit(original, box, 1.0);
            EXPECT_EQ(one.shown, FittedSize(original, box));
            EXPECT_EQ(one.pixels, FittedSize(original, box));
            const auto two = DevicePixels::Fit(original, box, kRatio);
            EXPECT_EQ(two.shown, FittedSize(original, box));
            // Twice the pixels, but never more than the picture has.
            EXPECT_LE(two.pixels.width(), original.width());
            EXPECT_LE(two.pixels.height(), original.height());
            if (two.pixels != original) {
                EXPECT_EQ(two.pixels, two.shown * 2) << original.width() << " " << box.width();
            }
        }
    // A ratio below 1 counts as 1.
    EXPECT_EQ(DevicePixels::Size({76, 57}, 0.5), QSize(76, 57));
}

class HiDpiGrid : public HiDpi {
    void PrepareFolder() override {
        // At the picture area's device resolution (124 × 2), and larger ones to be shrunk.
        ASSERT_TRUE(Checker(248, 248).save(P("a-checker.png")));
        ASSERT_TRUE(Stripes(1024, 512, 8).save(P("b-stripes.png")));
        QImage photo(1000, 750, QImage::Format_RGB32);
        photo.fill(Qt::darkCyan);
        ASSERT_TRUE(photo.save(P("c-photo.jpg"), "JPEG", 90));
        ASSERT_TRUE(Checker(20, 10).save(P("d-small.png")));
    }
};

TEST_F(HiDpiGrid, ThumbnailsKeepEveryDevicePixel) {
    Settle();
    ASSERT_EQ(View()->devicePixelRatioF(), kRatio);
    ASSERT_EQ(View()->Tiles().size(), 4u);
    const QImage screen = GrabViewport();

    // The checker: each of its pixels on one device pixel, exactly.
    const QRect checker = PictureRect(0);
    EXPECT_EQ(checker.size(), QSize(124, 124));
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetSize(), QSize(248, 248));
    const QImage source = Checker(248, 248);
    const QRect device(checker.topLeft() * 2, QSize(248, 248));
    EXPECT_EQ(screen.copy(device), source);
    EXPECT_GT(AlternatingShare(screen, device), 0.99);

    // The stripes shrunk by 4 to 248 device pixels wide: stripes of one device pixel.
    const QRect stripes = PictureRect(1);
    EXPECT_EQ(stripes.size(), QSize(124, 62));
    // Made through the cache's 256-pixel class and fitted to 248 from there, they lose some
    // contrast; doubled pixels would let at most half of the neighbours differ.
    const QRect sd(stripes.topLeft() * 2 + QPoint(2, 2), stripes.size() * 2 - QSize(4, 4));
    EXPECT_GT(AlternatingShare(screen, sd), 0.65);

    // A picture smaller than the area keeps its logical size: its pixels drawn twice as large.
    const QRect small = PictureRect(3);
    EXPECT_EQ(small.size(), QSize(20, 10));
    EXPECT_EQ(View()->Tiles()[3]->m_wndImage.m_image.GetSize(), QSize(20, 10));
    const QImage drawn = screen.copy(QRect(small.topLeft() * 2, QSize(40, 20)));
    EXPECT_EQ(drawn, Checker(20, 10).scaled(40, 20));
}

TEST_F(HiDpiGrid, TilePositionsAreThoseOfRatioOne) {
    Settle();
    auto layout = [this] {
        QStringList lines;
        lines << QStringLiteral("viewport %1x%2 cell %3x%4 columns %5 text %6")
                     .arg(View()->viewport()->width())
                     .arg(View()->viewport()->height())
                     .arg(View()->CellSize().width())
                     .arg(View()->CellSize().height())
                     .arg(View()->Columns())
                     .arg(View()->TextHeight());
        for (int i = 0; i < int(View()->Tiles().size()); ++i) {
            const QRect c = View()->GetCellRect(i), p = PictureRect(i);
            const QRect w = View()->Tiles()[size_t(i)]->m_wndImage.m_rcWindow;
            lines << QStringLiteral(
                         "%1 cell %2,%3 %4x%5 window %6,%7 %8x%9 picture %10,%11 %12x%13")
                         .arg(View()->Tiles()[size_t(i)]->m_strName)
                         .arg(c.x())
                         .arg(c.y())
                         .arg(c.width())
                         .arg(c.height())
                         .arg(w.x())
                         .arg(w.y())
                         .arg(w.width())
                         .arg(w.height())
                         .arg(p.x())
                         .arg(p.y())
                         .arg(p.width())
                         .arg(p.height());
        }
        return lines.join(QLatin1Char('\n'));
    };
    const QString mine = layout();
    const QByteArray out = qgetenv("QUILLA_LAYOUT_OUT");
    if (!out.isEmpty()) {
        // The run at the other ratio: hands its layout over.
        QFile f(QString::fromLocal8Bit(out));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(mine.toUtf8());
        return;
    }
    ASSERT_EQ(View()->devicePixelRatioF(), kRatio);
    // This program again, at ratio 1 and at 1.5, each on a copy of the same folder.
    for (const char* factor : {"1", "1.5"}) {
        QTemporaryDir other;
        for (const QString& name : QDir(m_dir.path()).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(P(name), QDir(other.path()).filePath(name)));
        const QString file = QDir(other.path()).filePath("layout.txt");
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_SCALE_FACTOR", factor);
        env.insert("QUILLA_LAYOUT_OUT", file);
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(other.path());
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=HiDpiGrid.TilePositionsAreThoseOfRatioOne"});
        ASSERT_TRUE(child.waitForFinished(120000));
        ASSERT_EQ(child.exitCode(), 0) << child.readAll().toStdString();
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QString::fromUtf8(f.readAll()), mine) << "ratio " << factor;
    }
    EXPECT_EQ(mine.count(QStringLiteral(" window ")), 4);
}

TEST_F(HiDpiGrid, TheSharedCacheTakesTheDevicePixelsSizeClass) {
    Settle();
    // The 124 × 124 area is 248 device pixels a side: the 256-pixel class.
    const QString photo = P("c-photo.jpg");
    const QString large = ThumbnailCache::EntryPath(photo, 256);
    const QString normal = ThumbnailCache::EntryPath(photo, 128);
    EXPECT_TRUE(large.contains("/large/"));
    ASSERT_TRUE(QFile::exists(large));
    EXPECT_FALSE(QFile::exists(normal));
    const QImage entry(large);
    EXPECT_EQ(entry.size(), QSize(256, 192));

    // A job for the same area on a screen of ratio 1 uses the 128-pixel class, and 60 × 60 at
    // ratio 2 (120 device pixels) too; 200 × 200 at ratio 2 the 512-pixel class.
    ThumbnailJob job{1, photo, QSize(124, 124), false, 1.0};
    ThumbnailResult r = MakeOnWorker(job);
    ASSERT_NE(r.image, IKHANDLE(0));
    EXPECT_EQ(r.shown, QSize(124, 93));
    EXPECT_EQ(Taken(r), QSize(124, 93));
    EXPECT_TRUE(QFile::exists(normal));
    QFile::remove(normal);
    job.box = QSize(60, 60);
    job.ratio = kRatio;
    r = MakeOnWorker(job);
    EXPECT_EQ(Taken(r), QSize(120, 90));
    EXPECT_EQ(r.shown, QSize(60, 45));
    EXPECT_TRUE(QFile::exists(normal));
    job.box = QSize(200, 200);
    r = MakeOnWorker(job);
    EXPECT_EQ(Taken(r), QSize(400, 300));
    EXPECT_EQ(r.shown, QSize(200, 150));
    EXPECT_TRUE(QFile::exists(ThumbnailCache::EntryPath(photo, 512)));
    EXPECT_TRUE(ThumbnailCache::EntryPath(photo, 512).contains("/x-large/"));
    // The next visit at ratio 2 reads its entry.
    job.box = QSize(124, 124);
    r = MakeOnWorker(job);
    EXPECT_TRUE(r.fromCache);
    EXPECT_EQ(Taken(r), QSize(248, 186));
}

class HiDpiExif : public HiDpi {
protected:
    bool m_haveExiftool = false;

private:
    void PrepareFolder() override {
        m_haveExiftool = !QStandardPaths::findExecutable("exiftool").isEmpty();
        if (!m_haveExiftool)
            return;
        // The picture blue, its embedded 160 × 120 thumbnail red.
        QImage blue(1600, 1200, QImage::Format_RGB32), red(160, 120, QImage::Format_RGB32);
        blue.fill(Qt::blue);
        red.fill(Qt::red);
        ASSERT_TRUE(blue.save(P("plain.jpg"), "JPEG", 90));
        ASSERT_TRUE(red.save(P("thumb.jpg"), "JPEG", 90));
        ASSERT_EQ(
            QProcess::execute("exiftool", {"-q", "-o", P("photo.jpg"),
                                           "-ThumbnailImage<=" + P("thumb.jpg"), P("plain.jpg")}),
            0);
    }
};

TEST_F(HiDpiExif, TheEmbeddedThumbnailOnlyWhenItFillsTheDevicePixels) {
    if (!m_haveExiftool)
        GTEST_SKIP() << "exiftool is not installed";
    ThumbnailCache::SetEnabled(false);
    // The colour in the middle of a job's picture (which it takes).
    auto colour = [](const ThumbnailResult& r) {
        CImageKit kit;
        kit.Attach(r.image);
        QImage img(kit.GetSize(), QImage::Format_RGB32);
        QPainter p(&img);
        kit.Draw(&p, -1, -1, IK_OUT_THUMBNAIL);
        p.end();
        return img.pixelColor(img.width() / 2, img.height() / 2);
    };
    // Ratio 1: the thumbnail's 160 pixels fill the 124-pixel area.
    ThumbnailJob job{1, P("photo.jpg"), QSize(124, 124), false, 1.0};
    ThumbnailResult r = MakeOnWorker(job);
    EXPECT_EQ(r.shown, QSize(124, 93));
    EXPECT_GT(colour(r).red(), 200);
    // Ratio 2: 248 device pixels, more than it has: the file itself, at the same logical size.
    job.ratio = kRatio;
    r = MakeOnWorker(job);
    EXPECT_EQ(r.shown, QSize(124, 93));
    const QColor c = colour(r);
    EXPECT_GT(c.blue(), 200);
    EXPECT_LT(c.red(), 50);
    // A 60-pixel area at ratio 2 (120 device pixels): the thumbnail serves.
    job.box = QSize(60, 60);
    r = MakeOnWorker(job);
    EXPECT_EQ(r.shown, QSize(60, 45));
    EXPECT_GT(colour(r).red(), 200);
    ThumbnailCache::SetEnabled(true);
}

class HiDpiPreview : public HiDpi {
    void PrepareFolder() override {
        ASSERT_TRUE(Checker(300, 200).save(P("checker.png")));
        ASSERT_TRUE(Checker(3001, 2001).save(P("huge.png")));
    }
};

TEST_F(HiDpiPreview, ThePictureIsShownAtItsDevicePixels) {
    CPreviewDlg& preview = View()->Preview();
    preview.SetScreenArea(QRect(0, 0, 1280, 994));
    preview.SetFrameMargins(QMargins(0, 0, 0, 0));
    preview.Open(P("checker.png"));
    Spin(50);
    ASSERT_TRUE(preview.HasWindow());
    ASSERT_EQ(preview.devicePixelRatioF(), kRatio);
    // Its own size in device pixels: half as many logical pixels.
    const int menu = preview.findChild<QMenuBar*>()->sizeHint().height();
    EXPECT_EQ(preview.size(), QSize(150, 100 + menu));
    const QPixmap pm = preview.grab();
    ASSERT_EQ(pm.devicePixelRatio(), kRatio);
    const QImage shown = pm.toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.copy(QRect(0, menu * 2, 300, 200)), Checker(300, 200));
    EXPECT_GT(AlternatingShare(shown, QRect(0, menu * 2, 300, 200)), 0.99);

    // Larger than the screen: fitted to the screen area less the margin, in device pixels; the
    // window is the screen area less the margin on the side that decides.
    preview.Open(P("huge.png"));
    Spin(50);
    const QSize fitted = preview.m_image.GetSize();
    EXPECT_EQ(fitted, PreviewFitSize({3001, 2001}, {1280, 994}, kRatio));
    EXPECT_EQ(fitted.width(), (1280 - kPreviewMargin) * 2);
    EXPECT_EQ(preview.size(), DevicePixels::Logical(fitted, kRatio) + QSize(0, menu));
    EXPECT_LE(preview.height() - menu, 994 - kPreviewMargin);
    preview.reject();
}

TEST(HiDpiIcons, ToolbarButtonsHaveTheScreensPixels) {
    ASSERT_EQ(qApp->devicePixelRatio(), kRatio);
    for (unsigned id :
         {unsigned(ID_FILE_DELETE), unsigned(ID_HELP_FINDER), unsigned(ID_FOLDER_UP)}) {
        const QIcon icon = Icons::ForCommand(id);
        const QPixmap two = icon.pixmap(QSize(16, 15), kRatio);
        EXPECT_EQ(two.size(), QSize(32, 30)) << id;
        EXPECT_EQ(two.devicePixelRatio(), kRatio) << id;
        // Drawn at this scale, not the small picture doubled.
        const QImage one = icon.pixmap(QSize(16, 15), 1.0).toImage();
        ASSERT_EQ(one.size(), QSize(16, 15));
        EXPECT_NE(two.toImage().convertToFormat(QImage::Format_ARGB32),
                  one.scaled(32, 30).convertToFormat(QImage::Format_ARGB32))
            << id;
    }
}

// Two screens, of ratio 1 and 2: the window moved from one to the other gets its pictures made
// again for the new screen's pixels. Runs in a process of its own on such a pair of screens.
class HiDpiScreens : public HiDpiGrid {};

TEST_F(HiDpiScreens, PicturesAreMadeAgainOnAScreenOfAnotherRatio) {
    if (qEnvironmentVariableIsEmpty("QUILLA_TWO_SCREENS")) {
        QTemporaryDir dir;
        const QString config = QDir(dir.path()).filePath("screens.json");
        QFile f(config);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(R"({"screens": [
            {"name": "one", "x": 0, "y": 0, "width": 1600, "height": 1200, "dpr": 1},
            {"name": "two", "x": 1600, "y": 0, "width": 3200, "height": 2400, "dpr": 2}]})");
        f.close();
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + config);
        env.insert("QT_SCALE_FACTOR", "1");
        env.insert("QUILLA_TWO_SCREENS", "1");
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {"--gtest_filter=HiDpiScreens.PicturesAreMadeAgainOnAScreenOfAnotherRatio"});
        ASSERT_TRUE(child.waitForFinished(120000));
        const QByteArray out = child.readAll();
        EXPECT_EQ(child.exitCode(), 0) << out.toStdString();
        EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();
        return;
    }
    const QList<QScreen*> screens = QGuiApplication::screens();
    ASSERT_EQ(screens.size(), 2);
    Frame()->windowHandle()->setScreen(screens[0]);
    Settle();
    ASSERT_EQ(View()->devicePixelRatioF(), 1.0);
    const CImageTile& checker = *View()->Tiles()[0];
    EXPECT_EQ(checker.m_wndImage.m_image.GetSize(), QSize(124, 124));

    Frame()->windowHandle()->setScreen(screens[1]);
    Spin(50);
    View()->viewport()->repaint();
    ASSERT_TRUE(WaitForPictures(View()));
    ASSERT_EQ(View()->devicePixelRatioF(), 2.0);
    View()->viewport()->repaint();
    ASSERT_TRUE(WaitForPictures(View()));
    // Every tile made again at the new screen's pixels, each at the logical size it had.
    EXPECT_EQ(checker.m_wndImage.m_image.GetSize(), QSize(248, 248));
    EXPECT_EQ(checker.m_wndImage.m_sizeShown, QSize(124, 124));
    for (const auto& t : View()->Tiles()) {
        if (t->m_wndImage.m_sizeShown.width() >= 62) {
            EXPECT_EQ(t->m_wndImage.m_image.GetSize(), t->m_wndImage.m_sizeShown * 2)
                << t->m_strName.toStdString();
        }
    }
    const QImage screen = GrabViewport();
    EXPECT_EQ(screen.copy(QRect(PictureRect(0).topLeft() * 2, QSize(248, 248))), Checker(248, 248));
}
