// The thumbnail browser on real folders: listing, sorting, refresh, geometry, selection, keys,
// loading and the preview.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "imaging/ImageLibrary.h"
#include "platform/Settings.h"
#include "platform/Shell.h"
#include "res/resource.h"
#include "thumbs/Layout.h"
#include "thumbs/ThumbnailSizeDlg.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMutex>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>
#include <sys/time.h>
#include <utime.h>

namespace {

class Thumbs : public AppTest {
protected:
    void Prepare() override {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        // Start in the folder the program is started in.
        m_settings.WriteRaw("[System]\nInitMode=0\n");
        PrepareFolder();
    }
    void TearDown() override {
        AppTest::TearDown();
        QDir::setCurrent(m_oldDir);
    }
    virtual void PrepareFolder() {}
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    // A picture written by Qt's own writers.
    void Image(const QString& name, int w, int h, QColor c = Qt::darkCyan,
               const char* fmt = nullptr) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(c);
        ASSERT_TRUE(img.save(P(name), fmt));
    }
    void Bytes(const QString& name, int size) {
        QFile f(P(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(size, 'x'));
    }
    void Touch(const QString& name, int64_t secs) {
        struct utimbuf t {
            time_t(secs), time_t(secs)
        };
        ASSERT_EQ(::utime(P(name).toUtf8().constData(), &t), 0);
    }
    CThumbnailView* View() const { return Frame()->ThumbnailView(); }
    void Relist() { Frame()->GetActiveDocument()->UpdateAllViews(Frame()->DirView()); }
    bool Run(unsigned id) { return View()->SendCommand(id); }
    // A double click as the mouse makes it: press and release, then the double click.
    void DoubleClick(QPoint at) {
        QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    QTemporaryDir m_dir;
    QString m_oldDir;
};

} // namespace

TEST(Layout_, GeometryOfTheGrid) {
    EXPECT_EQ(Layout::CellSize({80, 80}, 13), QSize(88, 107));
    // The picture window's client area is 76 × 76 in a tile of 86 × 105.
    const QRect img = Layout::ImageWindowRect(86, 105, 13);
    EXPECT_EQ(img.adjusted(1, 1, -1, -1).size(), QSize(76, 76));
    EXPECT_EQ(Layout::CaptionRect(86, 105, 13),
              QRect(QPoint(5, 105 - 13 - 3 - 4), QPoint(80, 100)));
    EXPECT_EQ(Layout::CellSize({0, 0}, 13), QSize(8, 13 + 6 + 8));
    // A client narrower than one cell still has one column.
    EXPECT_EQ(Layout::Columns(50, 88), 1);
    EXPECT_EQ(Layout::Columns(-5, 88), 1);
    EXPECT_EQ(Layout::Columns(264, 88), 3);
    EXPECT_EQ(Layout::CellRect(4, {88, 107}, 3), QRect(88, 107, 88, 107));
    // An exact multiple of the columns still leaves one empty row below.
    EXPECT_EQ(Layout::VerticalSizes(6, 3, 107, 300).totalHeight, 3 * 107);
    EXPECT_EQ(Layout::VerticalSizes(7, 3, 107, 300).totalHeight, 3 * 107);
    EXPECT_EQ(Layout::VerticalSizes(6, 3, 107, 300).pageHeight, 2 * 107);
    EXPECT_EQ(Layout::VerticalSizes(6, 3, 107, 50).pageHeight, 50);
    EXPECT_EQ(Layout::VerticalSizes(6, 3, 107, 50).lineHeight, 50);
    EXPECT_EQ(Layout::VerticalSizes(6, 3, 107, 300).lineHeight, 107);
}

class Listing : public Thumbs {
    void PrepareFolder() override {
        Image("Photo.JPG", 8, 8, Qt::red, "JPEG");
        Bytes("archive.jpg.txt", 10);
        Bytes("noext", 10);
        Bytes(".hidden.png", 10);
        Bytes("broken.gif", 10);
        QDir(m_dir.path()).mkdir("folder.jpg");
    }
};

TEST_F(Listing, FilterByNameOnly) {
    EXPECT_EQ(TileNames(View()), (QStringList{".hidden.png", "broken.gif", "Photo.JPG"}));
    EXPECT_EQ(View()->GetFocusIndex(), 0);
    EXPECT_EQ(View()->Tiles()[2]->Path(), P("Photo.JPG"));
}

class EmptyOfImages : public Thumbs {
    void PrepareFolder() override {
        QDir(m_dir.path()).mkdir("sub");
        Bytes("readme.txt", 3);
    }
};

TEST_F(EmptyOfImages, NoTilesAndFocusZero) {
    EXPECT_TRUE(View()->Tiles().empty());
    EXPECT_EQ(View()->GetFocusIndex(), 0);
    EXPECT_FALSE(View()->IsLoading());
}

class Sorting : public Thumbs {
    void PrepareFolder() override {
        // name, size, time
        Bytes("b.png", 300);
        Bytes("A.gif", 100);
        Bytes("c.bmp", 100);
        Bytes("d.jpg", 200);
        Bytes("noext.JPG", 300);
        Bytes("e.BMP", 50);
        Touch("b.png", 1000);
        Touch("A.gif", 3000);
        Touch("c.bmp", 2000);
        Touch("d.jpg", 2000);
        Touch("noext.JPG", 500);
        Touch("e.BMP", 4000);
    }
};

TEST_F(Sorting, FourKeysBothOrdersWithNameTieBreaks) {
    // Sizes and dates arrive from a worker after the first screen; the orders below need them.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !View()->SizesPending(); }, 10000));
    EXPECT_EQ(TileNames(View()),
              (QStringList{"A.gif", "b.png", "c.bmp", "d.jpg", "e.BMP", "noext.JPG"}));
    ASSERT_TRUE(Run(ID_SORT_EXT));
    EXPECT_EQ(TileNames(View()),
              (QStringList{"c.bmp", "e.BMP", "A.gif", "d.jpg", "noext.JPG", "b.png"}));
    ASSERT_TRUE(Run(ID_SORT_SIZE));
    EXPECT_EQ(TileNames(View()),
              (QStringList{"e.BMP", "A.gif", "c.bmp", "d.jpg", "b.png", "noext.JPG"}));
    ASSERT_TRUE(Run(ID_SORT_DATE));
    EXPECT_EQ(TileNames(View()),
              (QStringList{"noext.JPG", "b.png", "c.bmp", "d.jpg", "A.gif", "e.BMP"}));
    // Descending reverses the tie-breaks too.
    ASSERT_TRUE(Run(ID_SORT_ASCEND));
    EXPECT_EQ(TileNames(View()),
              (QStringList{"e.BMP", "A.gif", "d.jpg", "c.bmp", "b.png", "noext.JPG"}));
    ASSERT_TRUE(Run(ID_SORT_SIZE));
    EXPECT_EQ(TileNames(View()),
              (QStringList{"noext.JPG", "b.png", "d.jpg", "c.bmp", "A.gif", "e.BMP"}));
    ASSERT_TRUE(Run(ID_SORT_NAME));
    EXPECT_EQ(TileNames(View()),
              (QStringList{"noext.JPG", "e.BMP", "d.jpg", "c.bmp", "b.png", "A.gif"}));
    // A re-sort reads nothing: a file added meanwhile is not there.
    Bytes("f.png", 1);
    ASSERT_TRUE(Run(ID_SORT_ASCEND));
    EXPECT_EQ(View()->Tiles().size(), 6u);
}

TEST(SortKeys, NameWithoutDotSortsFirstByExtension) {
    CImageTile a, b;
    a.SetPath("/x/README");
    b.SetPath("/x/a.bmp");
    EXPECT_LT(CompareEntries(a, b, 1, true), 0);
    EXPECT_GT(CompareEntries(a, b, 1, false), 0);
    // Only A to Z fold: "_" (0x5F) sorts before "a" (0x61) but after "A" would, unfolded.
    a.SetPath("/x/_.png");
    b.SetPath("/x/A.png");
    EXPECT_LT(CompareEntries(a, b, 0, true), 0);
    // Sizes compare as the signed difference of their low 32 bits.
    a.m_nSize = 10;
    b.m_nSize = 20;
    EXPECT_LT(CompareEntries(a, b, 2, true), 0);
}

class Refresh : public Thumbs {
    void PrepareFolder() override {
        Image("a.png", 40, 30);
        Image("c.png", 40, 30);
        Image("e.png", 40, 30);
    }
};

TEST_F(Refresh, KeepsPicturesAddsInSortedPlaceAndRemovesVanished) {
    ASSERT_TRUE(WaitForPictures(View()));
    const IKHANDLE a = View()->Tiles()[0]->m_wndImage.m_image.GetHandle();
    ASSERT_NE(a, 0u);
    Image("b.png", 40, 30);
    ASSERT_TRUE(QFile::remove(P("c.png")));
    // e.png replaced by a larger, newer file: it keeps its old picture.
    const IKHANDLE e = View()->Tiles()[2]->m_wndImage.m_image.GetHandle();
    Image("e.png", 400, 300);
    Touch("e.png", QDateTime::currentSecsSinceEpoch() + 100);
    View()->RefreshList();
    EXPECT_EQ(TileNames(View()), (QStringList{"a.png", "b.png", "e.png"}));
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetHandle(), a);
    EXPECT_EQ(View()->Tiles()[1]->m_wndImage.m_image.GetHandle(), 0u);
    // The sizes and dates of the files already shown are looked at after the refresh.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !View()->SizesPending(); }, 10000));
    EXPECT_EQ(TileNames(View()), (QStringList{"a.png", "b.png", "e.png"}));
    EXPECT_EQ(View()->Tiles()[2]->m_wndImage.m_image.GetHandle(), e);
    EXPECT_EQ(View()->Tiles()[2]->m_nSize, uint32_t(QFileInfo(P("e.png")).size()));
    // A full listing loads every picture again.
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetHandle(), 0u);
}

class Grid : public Thumbs {
protected:
    void PrepareFolder() override {
        for (int i = 0; i < 10; ++i)
            Image(QStringLiteral("p%1.png").arg(i), 16, 16);
    }
    // Five columns whatever the font.
    void FiveColumns() {
        View()->resize(View()->CellSize().width() * 5 + 2 * View()->frameWidth() + 20, 400);
        Spin();
        View()->UpdateScrollLayout();
        ASSERT_EQ(View()->Columns(), 5);
    }
    std::vector<int> Selected() {
        std::vector<int> s;
        View()->GetSelectedIndices(s);
        return s;
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(View(), Qt::Key(key), mods);
    }
};

TEST_F(Grid, CellSizeFollowsTheFontAndTheSizeCommands) {
    const int t = QFontMetrics(View()->FileNameFont()).height();
    EXPECT_EQ(View()->TextHeight(), t);
    EXPECT_EQ(View()->CellSize(), QSize(88, 80 + t + t / 2 + 8));
    ASSERT_TRUE(Run(ID_SIZE_160x120));
    EXPECT_EQ(View()->CellSize(), QSize(168, 120 + t + t / 2 + 8));
    // The tiles are made anew with picture windows of the new size: 156 wide, and as high as
    // the cell less the caption and margins.
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.ClientSize(), QSize(156, 116));
}

TEST_F(Grid, ClickSelectionWithCtrlAndShift) {
    FiveColumns();
    View()->SelectAt(2, false, false);
    EXPECT_EQ(Selected(), std::vector<int>{2});
    View()->SelectAt(4, true, false);
    EXPECT_EQ(Selected(), (std::vector<int>{2, 4}));
    View()->SelectAt(2, true, false); // Ctrl on a selected entry deselects it
    EXPECT_EQ(Selected(), std::vector<int>{4});
    EXPECT_EQ(View()->GetFocusIndex(), 2);
    View()->SelectAt(6, false, true); // range from the focus
    EXPECT_EQ(Selected(), (std::vector<int>{2, 3, 4, 5, 6}));
    EXPECT_EQ(View()->GetFocusIndex(), 6);
    View()->SelectAt(1, false, false);
    EXPECT_EQ(Selected(), std::vector<int>{1});
    // Empty space: everything deselected, the focus stays.
    View()->SelectAt(10, false, false);
    EXPECT_TRUE(Selected().empty());
    EXPECT_EQ(View()->GetFocusIndex(), 1);
    // Shift with nothing selected selects the one entry.
    View()->SelectAt(3, false, true);
    EXPECT_EQ(Selected(), std::vector<int>{3});
    // Shift on empty space acts as a plain click there.
    View()->SelectAt(10, false, true);
    EXPECT_TRUE(Selected().empty());
    EXPECT_EQ(View()->GetFocusIndex(), 3);
}

TEST_F(Grid, MouseHitsTilesAnywhereAndEmptySpace) {
    FiveColumns();
    const QSize cell = View()->CellSize();
    // The caption area of the second row's first tile, and right of the last column.
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(cell.width() / 2, cell.height() + cell.height() - 5));
    EXPECT_EQ(Selected(), std::vector<int>{5});
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      QPoint(cell.width() * 4 + 3, 3));
    EXPECT_EQ(Selected(), (std::vector<int>{4, 5}));
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(cell.width() * 5 + 5, 5));
    EXPECT_TRUE(Selected().empty());
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(5, cell.height() * 3 + 5)); // below the last row
    EXPECT_TRUE(Selected().empty());
}

TEST_F(Grid, ArrowKeysAtTheEdges) {
    FiveColumns();
    View()->SelectAt(0, false, false);
    Key(Qt::Key_Left); // nothing before the first
    EXPECT_EQ(View()->GetFocusIndex(), 0);
    Key(Qt::Key_Up); // first row
    EXPECT_EQ(View()->GetFocusIndex(), 0);
    Key(Qt::Key_Right);
    EXPECT_EQ(Selected(), std::vector<int>{1});
    Key(Qt::Key_Right, Qt::ShiftModifier); // Shift extends
    EXPECT_EQ(Selected(), (std::vector<int>{1, 2}));
    Key(Qt::Key_Down, Qt::ShiftModifier); // Up and Down never extend
    EXPECT_EQ(Selected(), (std::vector<int>{1, 7}));
    EXPECT_EQ(View()->GetFocusIndex(), 7);
    Key(Qt::Key_Down); // 7 + 5 is past the end
    EXPECT_EQ(View()->GetFocusIndex(), 7);
    for (int i = 0; i < 5; ++i)
        Key(Qt::Key_Right);
    EXPECT_EQ(View()->GetFocusIndex(), 9);
    Key(Qt::Key_Up);
    EXPECT_EQ(View()->GetFocusIndex(), 4);
}

class OneRow : public Thumbs {
    void PrepareFolder() override {
        Image("a.png", 8, 8);
        Image("b.png", 8, 8);
    }
};

TEST_F(OneRow, DownDoesNothingWhenEverythingFitsOneRow) {
    View()->resize(800, 400);
    Spin();
    View()->SelectAt(0, false, false);
    QTest::keyClick(View(), Qt::Key_Down);
    EXPECT_EQ(View()->GetFocusIndex(), 0);
}

class Loading : public Thumbs {
    void PrepareFolder() override {
        Image("a.png", 640, 480);
        Bytes("b.png", 20); // not a picture
        Image("c.png", 16, 16);
        Bytes("d.gif", 12); // not a picture either
        QImage pal(200, 100, QImage::Format_Indexed8);
        pal.setColorTable({qRgb(0, 0, 0), qRgb(255, 0, 0)});
        pal.fill(1);
        pal.save(P("e.bmp"));
        Image("f.png", 400, 390);
    }
};

TEST_F(Loading, IdleLoaderGoesInDisplayOrderAndMovesPastFailures) {
    // A fresh listing, nothing painted and no event handled: every load is the idle loader's.
    // A fresh listing: the workers take the entries in display order.
    ASSERT_TRUE(WaitForPictures(View()));
    View()->Loader().SetThreadCount(1);
    std::vector<QString> order;
    QMutex mutex;
    CThumbnailLoader::SetJobHook([&](const ThumbnailJob& job) {
        QMutexLocker lock(&mutex);
        order.push_back(job.path.mid(job.path.lastIndexOf('/') + 1));
    });
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    ASSERT_TRUE(WaitForPictures(View()));
    CThumbnailLoader::SetJobHook({});
    EXPECT_EQ(order, (std::vector<QString>{"a.png", "b.png", "c.png", "d.gif", "e.bmp", "f.png"}));
    EXPECT_TRUE(View()->Tiles()[1]->m_bFailed);
    EXPECT_FALSE(View()->IsLoading()); // the program may become idle
    // Fitting: 640 × 480 into 76 × 76 is 76 × 57; 16 × 16 stays; an 8-bit BMP becomes 32-bit.
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetSize(), QSize(76, 57));
    EXPECT_EQ(View()->Tiles()[2]->m_wndImage.m_image.GetSize(), QSize(16, 16));
    EXPECT_EQ(View()->Tiles()[4]->m_wndImage.m_image.GetBitCount(), 32);
    // Nothing asks for idle time afterwards.
    App()->IdleHook().Wake();
    Spin(100);
    EXPECT_FALSE(App()->IdleHook().IsActive());
}

TEST_F(Loading, PaintingNeverDecodesAndFineModeReloadsEverything) {
    View()->resize(View()->CellSize().width() * 2 + 30, View()->CellSize().height() + 10);
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    // A paint right after the listing shows the frames only: the pictures come from the workers.
    View()->viewport()->repaint();
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetHandle(), 0u);
    ASSERT_TRUE(WaitForPictures(View()));
    EXPECT_NE(View()->Tiles()[0]->m_wndImage.m_image.GetHandle(), 0u);
    ASSERT_TRUE(Run(ID_VIEW_PUREMODE));
    EXPECT_TRUE(CThumbnailView::FineMode());
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetHandle(), 0u);
    ASSERT_TRUE(WaitForPictures(View()));
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetBitCount(), 32);
    EXPECT_EQ(View()->Tiles()[2]->m_wndImage.m_image.GetBitCount(), 32);
    ASSERT_TRUE(Run(ID_VIEW_PUREMODE));
}

TEST_F(Loading, SizeOneSixtyByOneTwentyFitsByOrientation) {
    ASSERT_TRUE(Run(ID_SIZE_160x120));
    ASSERT_TRUE(WaitForPictures(View()));
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.ClientSize(), QSize(156, 116));
    EXPECT_EQ(View()->Tiles()[5]->m_wndImage.m_image.GetSize(), QSize(156, 152));
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetSize(), QSize(156, 117));
}

TEST_F(Loading, OpenCommandsDoubleClickAndPreviewFollowing) {
    View()->resize(600, 400);
    Spin();
    CPreviewDlg& pv = View()->Preview();
    EXPECT_FALSE(pv.HasWindow());
    View()->SelectAt(0, false, false);
    QTest::keyClick(View(), Qt::Key_Return);
    ASSERT_TRUE(pv.HasWindow());
    EXPECT_EQ(pv.m_strPath, P("a.png"));
    EXPECT_EQ(pv.windowTitle(), QStringLiteral("プレビュー - a.png"));
    EXPECT_EQ(pv.m_image.GetSize(), QSize(640, 480));
    // A click follows in the open preview; the caption stays.
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      View()->GetCellRect(2).center());
    EXPECT_EQ(pv.m_strPath, P("c.png"));
    EXPECT_EQ(pv.windowTitle(), QStringLiteral("プレビュー - a.png"));
    // A file that cannot be loaded keeps the window's size.
    const QSize before = pv.size();
    View()->SelectAt(1, false, false);
    View()->OpenFocusInPreview();
    EXPECT_EQ(pv.size(), before);
    pv.reject();
    EXPECT_FALSE(pv.HasWindow());

    // Double-click: mode 1 opens with the application, another value does nothing.
    m_settings.WriteRaw("[System]\nDblClkMode=1\n");
    DoubleClick(View()->GetCellRect(4).center());
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0].toLocalFile(), P("e.bmp"));
    // Edits further apart than the file system's time-stamp granularity, as a person makes them.
    QTest::qWait(30);
    m_settings.WriteRaw("[System]\nDblClkMode=7\n");
    DoubleClick(View()->GetCellRect(4).center());
    EXPECT_EQ(m_opened.size(), 1u);
    EXPECT_FALSE(pv.HasWindow());
    QTest::qWait(30);
    m_settings.WriteRaw("[System]\nDblClkMode=0\n");
    DoubleClick(View()->GetCellRect(4).center());
    EXPECT_TRUE(pv.HasWindow());
    EXPECT_EQ(pv.m_strPath, P("e.bmp"));
}

class PreviewSizing : public Thumbs {
    void PrepareFolder() override {
        Image("wide.png", 4000, 3000);
        Image("tall.png", 3000, 4000);
        Image("small.png", 300, 200);
        Image("portrait.png", 1200, 1600);
    }
};

TEST(PreviewFit, ThePictureFitsBothSidesOfTheScreenLessTheMargin) {
    // The landscape photo on a full-screen area of 1280 × 994: 1180 × 887, as always.
    EXPECT_EQ(PreviewFitSize({4000, 3000}, {1280, 994}), QSize(1180, 887));
    // Its portrait twin is held by the height now (894 = 994 − 100), not by the width.
    EXPECT_EQ(PreviewFitSize({3000, 4000}, {1280, 994}), QSize(671, 894));
    // 1920 × 1080: the height overflows more (3000 / 980 > 4000 / 1820): ratio 306.
    EXPECT_EQ(PreviewFitSize({4000, 3000}, {1920, 1080}), QSize(1307, 980));
    EXPECT_EQ(PreviewFitSize({3000, 4000}, {1920, 1080}), QSize(735, 980));
    // 1280 × 1024: the width overflows more (4000 / 1180 > 3000 / 924).
    EXPECT_EQ(PreviewFitSize({4000, 3000}, {1280, 1024}), QSize(1180, 887));
    EXPECT_EQ(PreviewFitSize({3000, 4000}, {1280, 1024}), QSize(694, 924));
    // 1200 × 960 and a 1200 × 1600 portrait: 645 × 860 (ratio 186).
    EXPECT_EQ(PreviewFitSize({1200, 1600}, {1200, 960}), QSize(645, 860));
    // Only the height overflows: the height decides even for a landscape picture.
    EXPECT_EQ(PreviewFitSize({1000, 900}, {1200, 960}), QSize(961, 860));
    // Pictures that fit stay as they are, up to the margin exactly.
    EXPECT_EQ(PreviewFitSize({1100, 860}, {1200, 960}), QSize(1100, 860));
    EXPECT_EQ(PreviewFitSize({300, 200}, {1200, 960}), QSize(300, 200));
    // Extreme shapes keep a side of at least one pixel and never grow.
    EXPECT_EQ(PreviewFitSize({20000, 3}, {1200, 960}), QSize(1100, 1));
    EXPECT_EQ(PreviewFitSize({3, 20000}, {1200, 960}), QSize(1, 860));
    // A screen smaller than the margin still gives a box of one pixel.
    EXPECT_EQ(PreviewFitSize({400, 300}, {80, 60}), QSize(1, 1));
}

TEST_F(PreviewSizing, ShrinksToTheScreenAndKeepsOnIt) {
    CPreviewDlg& pv = View()->Preview();
    pv.SetScreenArea(QRect(0, 0, 1280, 994));
    pv.Open(P("wide.png"));
    EXPECT_EQ(pv.m_image.GetSize(), QSize(1180, 887));
    pv.ShowImage(P("tall.png"));
    EXPECT_EQ(pv.m_image.GetSize(), QSize(671, 894));
    EXPECT_LE(pv.frameGeometry().bottom(), 993);
    pv.ShowImage(P("small.png"));
    EXPECT_EQ(pv.m_image.GetSize(), QSize(300, 200));
    EXPECT_EQ(pv.width(), 300);
    pv.reject();
}

TEST_F(Grid, ContextMenuItemsAreAllEnabledWithoutCheckMarks) {
    QMenu* menu = nullptr;
    QTimer::singleShot(0, [&] {
        menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu)
            menu->close();
    });
    QTest::mouseClick(View()->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    Spin(50);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->title(), QStringLiteral("サムネイル"));
    EXPECT_TRUE(std::vector<int>{} == Selected()); // the right button selects nothing
    int items = 0;
    std::function<void(QMenu*)> walk = [&](QMenu* m) {
        for (QAction* a : m->actions()) {
            if (a->menu()) {
                walk(a->menu());
            } else if (!a->isSeparator()) {
                ++items;
                EXPECT_TRUE(a->isEnabled());
                EXPECT_FALSE(a->isChecked());
            }
        }
    };
    walk(menu);
    EXPECT_EQ(items, 30);
}

TEST_F(Grid, CustomSizeDialogRefusesBadNumbersAndFontIsSaved) {
    CThumbnailSizeDlg dlg;
    dlg.m_nHeight = 90;
    dlg.m_nWidth = 70;
    dlg.show();
    EXPECT_EQ(dlg.HeightEdit()->text(), QStringLiteral("90"));
    dlg.WidthEdit()->setText(QStringLiteral("-3"));
    dlg.accept();
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, QStringLiteral("正の整数を入力してください。"));
    EXPECT_TRUE(dlg.isVisible());
    dlg.WidthEdit()->setText(QStringLiteral("0"));
    dlg.HeightEdit()->setText(QStringLiteral("0"));
    dlg.accept();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.m_nWidth, 0u);

    // Custom 0 × 0 is taken: cells of 8 × (t + t/2 + 8).
    View()->m_sizeChooser = [](int& w, int& h) {
        w = 0;
        h = 0;
        return true;
    };
    ASSERT_TRUE(Run(ID_SIZE_CUSTOM));
    const int t = View()->TextHeight();
    EXPECT_EQ(View()->CellSize(), QSize(8, t + t / 2 + 8));
    EXPECT_EQ(Settings::Get(Settings::ThumbnailSizeX), 0);

    View()->m_fontChooser = [](QFont& f) {
        f.setPixelSize(20);
        f.setBold(true);
        f.setItalic(true);
        return true;
    };
    ASSERT_TRUE(Run(ID_VIEW_FONT));
    EXPECT_EQ(Settings::Get(Settings::FontSize), -20);
    EXPECT_EQ(Settings::Get(Settings::FontWeight), 700);
    EXPECT_EQ(Settings::Get(Settings::FontItalic), 1);
    EXPECT_EQ(Settings::Get(Settings::FontCharSet), 128);
    // The captions use it at once; the cells keep their size until the next layout.
    EXPECT_EQ(View()->FileNameFont().pixelSize(), 20);
    EXPECT_EQ(View()->TextHeight(), t);
}

TEST_F(Loading, RenamedFolderMovesEveryPathAndKeepsNamesAndPictures) {
    ASSERT_TRUE(WaitForPictures(View()));
    const IKHANDLE first = View()->Tiles()[0]->m_wndImage.m_image.GetHandle();
    QTemporaryDir parent;
    const QString renamed = QDir(parent.path()).filePath("改名後");
    ASSERT_TRUE(QDir().rename(m_dir.path(), renamed));
    ASSERT_TRUE(QDir::setCurrent(renamed));
    ASSERT_TRUE(Run(ID_FOLDER_RENAMED));
    EXPECT_EQ(View()->Tiles()[0]->Path(), renamed + "/a.png");
    EXPECT_EQ(View()->Tiles()[0]->m_strName, QStringLiteral("a.png"));
    EXPECT_EQ(View()->Tiles()[0]->m_wndImage.m_image.GetHandle(), first);
    QDir().rename(renamed, m_dir.path());
}

TEST_F(Loading, PreviewPropertiesAndCopyCommands) {
    std::vector<QString> shown;
    auto old = Shell::SetPropertiesHook([&](const QString& p) { shown.push_back(p); });
    View()->SelectAt(0, false, false);
    View()->OpenFocusInPreview();
    CPreviewDlg& pv = View()->Preview();
    EXPECT_TRUE(pv.SendCommand(32821));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], P("a.png"));
    QGuiApplication::clipboard()->clear();
    EXPECT_TRUE(pv.SendCommand(32822));
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(640, 480));
    EXPECT_TRUE(pv.SendCommand(32820));
    EXPECT_FALSE(pv.HasWindow());
    // The closed window keeps its picture until the next one is shown.
    EXPECT_FALSE(pv.m_image.IsEmpty());
    Shell::SetPropertiesHook(old);
}

// ---- faults met by using the browser ----------------------------------------------------------

class SixPictures : public Thumbs {
    void PrepareFolder() override {
        for (const char* n : {"a.png", "b.png", "c.png", "d.png", "e.png", "f.png"})
            Image(n, 8, 8);
    }
};

TEST_F(SixPictures, AnEmptyListingStartsTheFocusAgainAndKeysStayInside) {
    View()->SelectAt(5, false, false);
    ASSERT_EQ(View()->GetFocusIndex(), 5);
    // My Computer lists nothing: the focus starts at 0 like every listing.
    CDirView* tree = Frame()->DirView();
    tree->setCurrentItem(tree->Tree().MyComputerItem());
    ASSERT_TRUE(View()->Tiles().empty());
    EXPECT_EQ(View()->GetFocusIndex(), 0);
    View()->setFocus();
    for (int key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down, Qt::Key_Return,
                    Qt::Key_Home, Qt::Key_End, Qt::Key_PageDown})
        QTest::keyClick(View(), Qt::Key(key));
    EXPECT_EQ(View()->GetFocusIndex(), 0);
    EXPECT_FALSE(View()->Preview().HasWindow());
}

class WithFifo : public Thumbs {
    void PrepareFolder() override {
        ASSERT_EQ(::mkfifo(QFile::encodeName(P("a.jpg")).constData(), 0644), 0);
        Image("b.png", 8, 8);
    }
};

TEST_F(WithFifo, AFifoNamedLikeAPictureChangesNothing) {
    // Opening the FIFO would wait for a writer forever; it is never listed, so never opened.
    EXPECT_EQ(TileNames(View()), QStringList{"b.png"});
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    View()->viewport()->repaint();
    ASSERT_TRUE(WaitForPictures(View()));
    EXPECT_NE(View()->Tiles()[0]->m_wndImage.m_image.GetHandle(), 0u);
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    EXPECT_EQ(TileNames(View()), QStringList{"b.png"});
}

class JapaneseNames : public Thumbs {
    void PrepareFolder() override {
        for (const char16_t* n :
             {u"愛.png", u"ｱ.png", u"b.png", u"😀.png", u"漾.png", u"阿.png", u"Ａ.png", u"あ.png"})
            Bytes(QString::fromUtf16(n), 4);
    }
};

TEST_F(JapaneseNames, NamesSortByTheirCodePage932Bytes) {
    // Level-1 kanji in reading order (阿 "a" before 愛 "ai"), full-width letters before kana,
    // half-width kana before level-2 kanji; a name code page 932 cannot hold comes last.
    const QStringList ascending{"b.png",  "Ａ.png", "あ.png", "阿.png",
                                "愛.png", "ｱ.png",  "漾.png", "😀.png"};
    EXPECT_EQ(TileNames(View()), ascending);
    ASSERT_TRUE(Run(ID_SORT_ASCEND));
    QStringList descending = ascending;
    std::reverse(descending.begin(), descending.end());
    EXPECT_EQ(TileNames(View()), descending);
    ASSERT_TRUE(Run(ID_SORT_ASCEND));
}

TEST_F(SixPictures, PageAndEndKeysScrollAndLeaveTheFocus) {
    ASSERT_TRUE(Run(ID_SIZE_LAST));
    View()->resize(View()->CellSize().width() + 40, View()->CellSize().height() * 2 + 10);
    Spin();
    View()->UpdateScrollLayout();
    QScrollBar* vs = View()->verticalScrollBar();
    ASSERT_GT(vs->maximum(), 0);
    View()->SelectAt(1, false, false);
    QTest::keyClick(View(), Qt::Key_PageDown);
    EXPECT_EQ(vs->value(), std::min(vs->maximum(), vs->pageStep()));
    QTest::keyClick(View(), Qt::Key_End);
    EXPECT_EQ(vs->value(), vs->maximum());
    QTest::keyClick(View(), Qt::Key_PageUp);
    EXPECT_EQ(vs->value(), std::max(0, vs->maximum() - vs->pageStep()));
    QTest::keyClick(View(), Qt::Key_Home);
    EXPECT_EQ(vs->value(), 0);
    EXPECT_EQ(View()->GetFocusIndex(), 1);
    std::vector<int> sel;
    View()->GetSelectedIndices(sel);
    EXPECT_EQ(sel, std::vector<int>{1});
}

TEST_F(SixPictures, TheFontDialogStartsAtTheCurrentFontAndOkKeepsIt) {
    // The real dialog: it must show the face the captions are drawn with.
    const QString drawnWith = QFontInfo(View()->FileNameFont()).family();
    QString shownFamily, title;
    QTimer::singleShot(100, [&] {
        if (auto* dlg = qobject_cast<QFontDialog*>(QApplication::activeModalWidget())) {
            shownFamily = dlg->currentFont().family();
            title = dlg->windowTitle();
            dlg->accept();
        }
    });
    ASSERT_TRUE(Run(ID_VIEW_FONT));
    EXPECT_EQ(shownFamily, drawnWith);
    EXPECT_EQ(title, QStringLiteral("フォント"));
    // OK without a change keeps the face and the size as they were.
    EXPECT_EQ(Settings::Get(Settings::FontFaceName), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(Settings::Get(Settings::FontSize), -13);
    EXPECT_EQ(QFontInfo(View()->FileNameFont()).family(), drawnWith);
}

TEST(Translation, QtsOwnDialogsSpeakJapanese) {
    // The folder pickers and the font dialog are Qt's: their texts come from Qt's translation.
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
    EXPECT_NE(QCoreApplication::translate("QFontDialog", "&Font"), QStringLiteral("&Font"));
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("Cancel"));
}

TEST_F(Loading, PreviewClosesOnEnterAndEscapeAlsoAfterItsMenuWasUsed) {
    CPreviewDlg& pv = View()->Preview();
    View()->SelectAt(0, false, false);
    View()->OpenFocusInPreview();
    ASSERT_TRUE(pv.HasWindow());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&pv));
    QTest::keyClick(&pv, Qt::Key_Return);
    EXPECT_FALSE(pv.HasWindow());
    EXPECT_FALSE(pv.isVisible());

    View()->OpenFocusInPreview();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&pv));
    // The menu is opened and closed from the keyboard; the menu bar keeps the focus after it.
    auto* bar = pv.findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    QTest::keyClick(&pv, Qt::Key_F, Qt::AltModifier);
    if (QWidget* popup = QApplication::activePopupWidget())
        QTest::keyClick(popup, Qt::Key_Escape);
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &pv,
                    Qt::Key_Escape);
    if (pv.HasWindow()) // a menu bar in keyboard mode takes one Escape to leave it
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &pv,
                        Qt::Key_Escape);
    EXPECT_FALSE(pv.HasWindow());
}

TEST_F(PreviewSizing, TheWholeFrameStaysOnScreensOfEverySize) {
    CPreviewDlg& pv = View()->Preview();
    const QMargins frame(4, 24, 4, 4); // a title bar of 24 pixels, thin borders
    pv.SetFrameMargins(frame);
    const QSize screens[] = {{1920, 1080}, {1280, 1024}, {1200, 960}};
    for (const QSize& screen : screens) {
        const QRect area(QPoint(0, 0), screen);
        pv.SetScreenArea(area);
        for (const char* name : {"wide.png", "tall.png", "portrait.png"}) {
            // Opened by a click on its tile, as the user opens it.
            QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier,
                              View()->GetCellRect(View()->FindTileByName(name)).center());
            ASSERT_TRUE(Run(ID_FILE_OPEN_IMAGE));
            ASSERT_TRUE(pv.HasWindow());
            const QRect outer = pv.geometry().marginsAdded(frame);
            EXPECT_TRUE(area.contains(outer))
                << name << " on " << screen.width() << "x" << screen.height() << ": " << outer.x()
                << "," << outer.y() << " " << outer.width() << "x" << outer.height();
            const QSize shown = pv.m_image.GetSize();
            EXPECT_LE(shown.width(), screen.width() - 100) << name;
            EXPECT_LE(shown.height(), screen.height() - 100) << name;
            EXPECT_EQ(shown, PreviewFitSize(QImage(P(name)).size(), screen)) << name;
        }
        pv.reject();
    }
}

TEST_F(PreviewSizing, ThePreviewComesBackWhereItWasOnAScreenThatExists) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    CPreviewDlg* pv = &View()->Preview();
    pv->Open(P("small.png"));
    ASSERT_TRUE(pv->HasWindow());
    const QRect moved(area.left() + 50, area.top() + 60, pv->width(), pv->height());
    pv->setGeometry(moved);
    QTest::keyClick(pv, Qt::Key_Escape); // closed by the user: its place is written
    ASSERT_FALSE(pv->HasWindow());
    Restart();
    pv = &View()->Preview();
    pv->Open(P("small.png"));
    EXPECT_EQ(pv->geometry().topLeft(), moved.topLeft());
    EXPECT_EQ(pv->m_image.GetSize(), QSize(300, 200)); // the picture still sizes it
    pv->reject();
    // Saved on a screen that is gone: it comes back on this one.
    Settings::WriteInts({{Settings::PreviewLeft, area.right() + 3000},
                         {Settings::PreviewTop, 100},
                         {Settings::PreviewWidth, 300},
                         {Settings::PreviewHeight, 230}});
    pv->Open(P("small.png"));
    EXPECT_TRUE(area.contains(pv->geometry())) << pv->geometry().x() << "," << pv->geometry().y();
    pv->reject();
}

TEST_F(PreviewSizing, TheFirstPreviewHasItsWholeFrameOnTheScreenAndANewCaption) {
    CPreviewDlg& pv = View()->Preview();
    pv.SetScreenArea(QRect(0, 0, 1280, 994));
    pv.SetFrameMargins(QMargins(4, 24, 4, 4)); // a title bar of 24 pixels, thin borders
    pv.Open(P("small.png"));
    // The frame's corner is the screen's, so the client area starts below the title bar.
    EXPECT_EQ(pv.geometry().topLeft(), QPoint(4, 24));
    EXPECT_EQ(pv.windowTitle(), QStringLiteral("プレビュー - small.png"));
    // Taller than the screen: the frame, not the client area, is moved up to the top.
    pv.ShowImage(P("tall.png"));
    EXPECT_EQ(pv.geometry().top(), 24);
    pv.reject();
    // Opened anew, the caption names the new file.
    pv.Open(P("wide.png"));
    EXPECT_EQ(pv.windowTitle(), QStringLiteral("プレビュー - wide.png"));
    pv.reject();
}
