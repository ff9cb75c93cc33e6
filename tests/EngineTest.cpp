// The thumbnail engine on real files: pictures made on worker threads in the order of work,
// cancelled by a new listing, kept within a memory budget, read from and written to the shared
// thumbnail cache, and photos turned upright.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "imaging/ImageKit.h"
#include "platform/FileNames.h"
#include "res/resource.h"
#include "thumbs/ThumbnailCache.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QPainter>
#include <QProcess>
#include <QScrollBar>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <sys/stat.h>
#include <utime.h>

namespace {

// Runs a short Python program (Pillow) and returns what it printed.
QByteArray Python(const QString& program, const QStringList& args = {}) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), program} + args);
    p.waitForFinished(30000);
    return p.readAllStandardOutput().trimmed();
}

bool HaveTool(const char* name) {
    return QProcess::execute(
               QStringLiteral("sh"),
               {QStringLiteral("-c"), QStringLiteral("command -v %1 >/dev/null").arg(name)}) == 0;
}

// The colour that dominates a pixel: 'r', 'g', 'b' or 'y' (red and green), '?' otherwise.
char Dominant(QRgb p) {
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    if (r > 160 && g > 160 && b < 100)
        return 'y';
    if (r > 160 && g < 100 && b < 100)
        return 'r';
    if (g > 120 && r < 100 && b < 100)
        return 'g';
    if (b > 160 && r < 100 && g < 100)
        return 'b';
    return '?';
}

// The four quadrants' colours of a picture, top-left, top-right, bottom-left, bottom-right.
QString Quadrants(const QImage& img) {
    const int w = img.width(), h = img.height();
    QString out;
    for (const QPoint p : {QPoint(w / 4, h / 4), QPoint(3 * w / 4, h / 4), QPoint(w / 4, 3 * h / 4),
                           QPoint(3 * w / 4, 3 * h / 4)})
        out += QLatin1Char(Dominant(img.pixel(p)));
    return out;
}

QImage PictureOf(const CImageKit& kit) {
    QImage img(kit.GetSize(), QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter painter(&img);
    const_cast<CImageKit&>(kit).Draw(&painter, -1, -1, IK_OUT_PREVIEW);
    painter.end();
    return img;
}

class Engine : public AppTest {
protected:
    void Prepare() override {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        ThumbnailCache::SetBaseDir(m_cache.path());
        m_settings.WriteRaw("[System]\nInitMode=0\n");
        PrepareFolder();
    }
    void TearDown() override {
        CThumbnailLoader::SetJobHook({});
        AppTest::TearDown();
        ThumbnailCache::SetBaseDir(QString());
        QDir::setCurrent(m_oldDir);
    }
    virtual void PrepareFolder() {}
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    void Image(const QString& name, int w, int h, QColor c, const char* fmt = nullptr) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(c);
        ASSERT_TRUE(img.save(P(name), fmt));
    }
    CThumbnailView* View() const { return Frame()->ThumbnailView(); }
    bool Run(unsigned id) { return View()->SendCommand(id); }
    // Lets the event loop run until the grid has no picture left to make.
    bool WaitForPictures(int ms = 30000) { return ::WaitForPictures(View(), ms); }
    const CImageTile& Tile(const QString& name) const {
        for (const auto& t : View()->Tiles())
            if (t->m_strName == name)
                return *t;
        ADD_FAILURE() << "no tile " << name.toStdString();
        static CImageTile none;
        return none;
    }
    // The grid shows exactly one row of five tiles.
    void ShowOneRowOfFive() {
        Frame()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
        const QSize cell = View()->CellSize();
        View()->resize(cell.width() * 5 + 40, cell.height() + 40);
        const int extra = View()->height() - View()->viewport()->height();
        View()->resize(View()->width(), cell.height() + extra);
        Spin();
        View()->UpdateScrollLayout();
        ASSERT_EQ(View()->Columns(), 5);
        ASSERT_EQ(View()->viewport()->height(), cell.height());
        View()->viewport()->repaint();
    }
    void ScrollToRow(int row) {
        View()->verticalScrollBar()->setValue(row * View()->CellSize().height());
        View()->viewport()->repaint();
    }

    QTemporaryDir m_dir, m_cache;
    QString m_oldDir;
};

// ---- photos upright ---------------------------------------------------------------------------

// The scene as it should be seen: red, green / blue, yellow.
QImage Scene(int w, int h) {
    QImage s(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            s.setPixel(x, y,
                       y < h / 2 ? (x < w / 2 ? qRgb(230, 20, 20) : qRgb(20, 200, 20))
                                 : (x < w / 2 ? qRgb(20, 20, 230) : qRgb(230, 230, 20)));
    return s;
}

// The picture a camera stores for the scene with Exif orientation n: turned by n, it shows the
// scene.
QImage Stored(const QImage& scene, int n) {
    const int vw = scene.width(), vh = scene.height();
    const bool swap = n >= 5;
    const int W = swap ? vh : vw, H = swap ? vw : vh;
    QImage out(W, H, QImage::Format_RGB32);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            QPoint v;
            switch (n) {
            case 2:
                v = {W - 1 - x, y};
                break;
            case 3:
                v = {W - 1 - x, H - 1 - y};
                break;
            case 4:
                v = {x, H - 1 - y};
                break;
            case 5:
                v = {y, x};
                break;
            case 6:
                v = {H - 1 - y, x};
                break;
            case 7:
                v = {H - 1 - y, W - 1 - x};
                break;
            case 8:
                v = {y, W - 1 - x};
                break;
            default:
                v = {x, y};
                break;
            }
            out.setPixel(x, y, scene.pixel(v));
        }
    return out;
}

class Oriented : public Engine {
protected:
    bool m_haveExiftool = false;

private:
    void PrepareFolder() override {
        // Asked before the program's worker threads exist.
        m_haveExiftool = HaveTool("exiftool");
        if (!m_haveExiftool)
            return;
        const QImage scene = Scene(64, 40);
        for (int n = 1; n <= 8; ++n) {
            // Each orientation without and with an Exif thumbnail (stored the same way).
            const QString plain = P(QStringLiteral("o%1.jpg").arg(n));
            ASSERT_TRUE(Stored(scene, n).save(plain, "JPEG", 95));
            ASSERT_EQ(
                QProcess::execute("exiftool", {"-q", "-overwrite_original", "-n",
                                               QStringLiteral("-Orientation=%1").arg(n), plain}),
                0);
            const QString thumb = P(QStringLiteral("t%1.thumb").arg(n));
            ASSERT_TRUE(Stored(Scene(32, 20), n).save(thumb, "JPEG", 95));
            const QString withThumb = P(QStringLiteral("x%1.jpg").arg(n));
            ASSERT_EQ(QProcess::execute("exiftool",
                                        {"-q", "-n", "-o", withThumb,
                                         QStringLiteral("-ThumbnailImage<=%1").arg(thumb), plain}),
                      0);
        }
    }
};

TEST_F(Oriented, EveryExifOrientationIsShownUprightInTheGridAndThePreview) {
    if (!m_haveExiftool)
        GTEST_SKIP() << "exiftool is not installed";
    ASSERT_TRUE(WaitForPictures());
    for (int n = 1; n <= 8; ++n) {
        for (const char* kind : {"o", "x"}) {
            const QString name = QStringLiteral("%1%2.jpg").arg(kind).arg(n);
            const CImageTile& tile = Tile(name);
            ASSERT_TRUE(tile.HasPicture()) << name.toStdString();
            const QImage shown = PictureOf(tile.m_wndImage.m_image);
            // Landscape like the scene; the Exif thumbnail (32 × 20) is shown at its own size.
            EXPECT_GT(shown.width(), shown.height()) << name.toStdString();
            EXPECT_EQ(Quadrants(shown), QStringLiteral("rgby")) << name.toStdString();
        }
        CPreviewDlg& pv = View()->Preview();
        pv.Open(P(QStringLiteral("o%1.jpg").arg(n)));
        EXPECT_EQ(pv.m_image.GetSize(), QSize(64, 40)) << n;
        EXPECT_EQ(Quadrants(PictureOf(pv.m_image)), QStringLiteral("rgby")) << n;
        pv.reject();
    }
    // The files themselves were not changed.
    EXPECT_EQ(QImage(P("o6.jpg")).size(), QSize(40, 64));
}

// ---- the order of work and cancelling
// -------------------------------------------------------------

class Thirty : public Engine {
    void PrepareFolder() override {
        for (int i = 0; i < 30; ++i)
            Image(QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0')), 200, 150,
                  QColor::fromHsv(i * 12, 200, 200));
    }
};

TEST_F(Thirty, PaintedTilesComeFirstTheLatestPaintFirstThenDisplayOrder) {
    ASSERT_TRUE(WaitForPictures()); // the start's own listing
    View()->Loader().SetThreadCount(1);
    QMutex mutex;
    QStringList order;
    QSemaphore gate;
    std::atomic<bool> hold{true};
    CThumbnailLoader::SetJobHook([&](const ThumbnailJob& job) {
        {
            QMutexLocker lock(&mutex);
            order << job.path.mid(job.path.lastIndexOf('/') + 2, 2);
        }
        if (hold)
            gate.acquire();
    });
    // A new listing: its first picture is being made (and held) when the user starts scrolling.
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    ShowOneRowOfFive();
    ScrollToRow(2); // tiles 10 to 14 painted
    ScrollToRow(4); // then 20 to 24
    hold = false;
    gate.release(1000);
    ASSERT_TRUE(WaitForPictures());
    QStringList expected{"00", "20", "21", "22", "23", "24", "10", "11",
                         "12", "13", "14", "01", "02", "03", "04"};
    for (int i : {5, 6, 7, 8, 9, 15, 16, 17, 18, 19, 25, 26, 27, 28, 29})
        expected << QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0'));
    QMutexLocker lock(&mutex);
    EXPECT_EQ(order, expected);
    for (const auto& t : View()->Tiles())
        EXPECT_TRUE(t->HasPicture()) << t->m_strName.toStdString();
}

TEST_F(Thirty, ANewListingCancelsTheWorkThatNoLongerApplies) {
    ASSERT_TRUE(WaitForPictures()); // the start's own listing
    View()->Loader().SetThreadCount(1);
    std::atomic<int> jobs{0};
    QSemaphore gate;
    std::atomic<bool> hold{true};
    CThumbnailLoader::SetJobHook([&](const ThumbnailJob&) {
        ++jobs;
        if (hold)
            gate.acquire();
    });
    ASSERT_TRUE(Run(ID_VIEW_REFRESH)); // the first picture of this listing is held at work
    QTest::qWait(50);
    ASSERT_EQ(jobs, 1);
    ASSERT_TRUE(Run(ID_SIZE_160)); // a new size: a new listing
    hold = false;
    gate.release(1000);
    ASSERT_TRUE(WaitForPictures());
    // The held picture (made for the old size) was thrown away; every tile has one of the new.
    for (const auto& t : View()->Tiles()) {
        ASSERT_TRUE(t->HasPicture());
        EXPECT_EQ(t->m_wndImage.m_image.GetSize(), QSize(156, 117));
    }
    EXPECT_EQ(jobs, 31);
}

TEST_F(Thirty, TheBudgetDropsTheFarthestPicturesAndScrollingBringsThemBack) {
    ShowOneRowOfFive();
    ASSERT_TRUE(WaitForPictures());
    ASSERT_TRUE(Run(ID_VIEW_REFRESH)); // the pictures as a second visit makes them
    ASSERT_TRUE(WaitForPictures());
    const int64_t one = View()->Tiles()[0]->m_nBytes;
    ASSERT_GT(one, 0);
    // Room for ten pictures: the visible row and one more.
    View()->SetMemoryBudget(one * 10);
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    ASSERT_TRUE(WaitForPictures());
    EXPECT_LE(View()->PictureBytes(), one * 10);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(View()->Tiles()[size_t(i)]->HasPicture()) << i;
    EXPECT_FALSE(View()->Tiles()[29]->HasPicture());
    // Down at the last row: its pictures are made, the farthest ones (the top row) dropped.
    ScrollToRow(5);
    ASSERT_TRUE(WaitForPictures());
    for (int i = 25; i < 30; ++i)
        EXPECT_TRUE(View()->Tiles()[size_t(i)]->HasPicture()) << i;
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(View()->Tiles()[size_t(i)]->HasPicture()) << i;
        EXPECT_TRUE(View()->Tiles()[size_t(i)]->m_bEvicted) << i;
    }
    EXPECT_LE(View()->PictureBytes(), one * 10);
    // Back at the top: made again, and the bottom row goes instead.
    ScrollToRow(0);
    ASSERT_TRUE(WaitForPictures());
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(View()->Tiles()[size_t(i)]->HasPicture()) << i;
    for (int i = 25; i < 30; ++i)
        EXPECT_FALSE(View()->Tiles()[size_t(i)]->HasPicture()) << i;
}

class SomeBroken : public Engine {
    void PrepareFolder() override {
        Image("a.png", 30, 30, Qt::red);
        QFile f(P("b.png"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a picture");
        f.close();
        QFile g(P("c.jpg"));
        ASSERT_TRUE(g.open(QIODevice::WriteOnly));
        g.close();
        Image("d.bmp", 30, 30, Qt::blue);
    }
};

TEST_F(SomeBroken, TheProgramBecomesIdleWithFailedFiles) {
    ASSERT_TRUE(WaitForPictures());
    EXPECT_TRUE(Tile("a.png").HasPicture());
    EXPECT_TRUE(Tile("b.png").m_bFailed);
    EXPECT_TRUE(Tile("c.jpg").m_bFailed);
    EXPECT_TRUE(Tile("d.bmp").HasPicture());
    EXPECT_FALSE(View()->Loader().IsBusy());
    // Nothing asks for idle time any more.
    App()->IdleHook().Wake();
    Spin(100);
    EXPECT_FALSE(App()->IdleHook().IsActive());
    EXPECT_FALSE(View()->IsLoading());
}

TEST(EngineThreads, NoPictureIsMadeOnTheUserInterfaceThread) {
#ifdef QT_NO_DEBUG
    GTEST_SKIP() << "the check is an assertion of debug builds";
#else
    QTemporaryDir dir;
    QImage img(20, 20, QImage::Format_RGB32);
    img.fill(Qt::red);
    ASSERT_TRUE(img.save(dir.filePath("a.png")));
    const ThumbnailJob job{1, dir.filePath("a.png"), QSize(76, 76), false};
    EXPECT_DEATH(CThumbnailLoader::Make(job), "");
#endif
}

// ---- the shared thumbnail cache ---------------------------------------------------------------

class Cached : public Engine {
    void PrepareFolder() override {
        Image("big.png", 1000, 800, Qt::red);
        Image("small.png", 100, 60, Qt::green);
    }
};

TEST_F(Cached, EntriesAreWrittenForOtherProgramsAndReadBack) {
    ASSERT_TRUE(WaitForPictures());
    const QString entry = ThumbnailCache::EntryPath(P("big.png"), 128);
    EXPECT_EQ(entry.section('/', -2, -2), QStringLiteral("normal"));
    ASSERT_TRUE(QFile::exists(entry));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(entry).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(m_cache.filePath("normal")).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A picture that is no larger than the size class gets no entry.
    EXPECT_FALSE(QFile::exists(ThumbnailCache::EntryPath(P("small.png"), 128)));

    // Another program reads it: the keys of the standard, the picture within 128 pixels.
    const QByteArray seen =
        Python("import sys; from PIL import Image; im = Image.open(sys.argv[1]); t = im.text\n"
               "print(im.size[0], im.size[1], t['Thumb::URI'], t['Thumb::MTime'], "
               "t['Thumb::Image::Width'], t['Thumb::Image::Height'], t['Thumb::Size'])",
               {entry});
    const QFileInfo fi(P("big.png"));
    EXPECT_EQ(seen, QStringLiteral("128 102 %1 %2 1000 800 %3")
                        .arg(QString::fromLatin1(FileNames::ToFileUrl(P("big.png"))))
                        .arg(fi.lastModified().toSecsSinceEpoch())
                        .arg(fi.size())
                        .toUtf8());

    // An entry another program wrote is used instead of decoding: here it is blue.
    Python("import sys; from PIL import Image, PngImagePlugin\n"
           "old = Image.open(sys.argv[1]); info = PngImagePlugin.PngInfo()\n"
           "[info.add_text(k, v) for k, v in old.text.items()]\n"
           "Image.new('RGB', old.size, (0, 0, 255)).save(sys.argv[1], pnginfo=info)",
           {entry});
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    ASSERT_TRUE(WaitForPictures());
    const QImage shown = PictureOf(Tile("big.png").m_wndImage.m_image);
    EXPECT_EQ(shown.size(), QSize(76, 60)); // fitted from 1000 × 800, the picture's own size
    EXPECT_EQ(Dominant(shown.pixel(38, 30)), 'b');

    // A stale entry (the file changed since) is ignored and replaced.
    struct utimbuf t {
        time_t(1600000000), time_t(1600000000)
    };
    ASSERT_EQ(::utime(QFile::encodeName(P("big.png")).constData(), &t), 0);
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    ASSERT_TRUE(WaitForPictures());
    EXPECT_EQ(Dominant(PictureOf(Tile("big.png").m_wndImage.m_image).pixel(38, 30)), 'r');
    EXPECT_EQ(Python("import sys; from PIL import Image; print(Image.open(sys.argv[1]).text"
                     "['Thumb::MTime'])",
                     {entry}),
              QByteArray("1600000000"));
}

TEST_F(Cached, TheCacheFollowsRenamesAndDeletionsAndNeverCachesItself) {
    ASSERT_TRUE(WaitForPictures());
    const QString entry = ThumbnailCache::EntryPath(P("big.png"), 128);
    ASSERT_TRUE(QFile::exists(entry));
    ASSERT_TRUE(QFile::rename(P("big.png"), P("moved.png")));
    ThumbnailCache::Moved(P("big.png"), P("moved.png"));
    EXPECT_FALSE(QFile::exists(entry));
    const QString moved = ThumbnailCache::EntryPath(P("moved.png"), 128);
    ASSERT_TRUE(QFile::exists(moved));
    EXPECT_EQ(Python("import sys; from PIL import Image; print(Image.open(sys.argv[1]).text"
                     "['Thumb::URI'])",
                     {moved}),
              FileNames::ToFileUrl(P("moved.png")));
    ThumbnailCache::Removed(P("moved.png"));
    EXPECT_FALSE(QFile::exists(moved));

    // Browsing the cache's own folder makes no entries for its files.
    const QString own = m_cache.filePath("normal/own.png");
    QImage big(600, 600, QImage::Format_RGB32);
    big.fill(Qt::red);
    ASSERT_TRUE(big.save(own));
    ASSERT_TRUE(Frame()->SetFolder(m_cache.filePath("normal")));
    Frame()->UpdateAllViews(Frame()->DirView());
    ASSERT_TRUE(WaitForPictures());
    EXPECT_TRUE(Tile("own.png").HasPicture());
    EXPECT_FALSE(QFile::exists(ThumbnailCache::EntryPath(own, 128)));
}

} // namespace
