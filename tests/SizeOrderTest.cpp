// Folders ordered by size or date, and refreshes: the names are read on the user-interface thread,
// the sizes and dates by the lookup's worker; the order they need is made once they are in,
// keeping selection, focus and scroll position. Another program changing the files meanwhile.
// (Named after the lookup, so that they run under ThreadSanitizer with its own tests.)
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "platform/DirList.h"
#include "platform/FolderWatch.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <utime.h>

namespace {

template <typename F> bool WaitLong(F condition) {
    return QTest::qWaitFor(condition, 20000);
}

// Size and date of one file, made without writing its bytes (sparse).
void MakeFile(const QString& path, qint64 size, int64_t mtime) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    struct utimbuf t {
        time_t(mtime), time_t(mtime)
    };
    ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &t), 0);
}

// The order the listing must end in, from what the files are now: by size or date, ties by name
// (the names here are lower-case ASCII: a plain comparison), descending reversing all.
QStringList Expected(const QString& dir, int mode, bool ascending) {
    struct F {
        QString name;
        qint64 size;
        qint64 time;
    };
    std::vector<F> files;
    for (const QFileInfo& i : QDir(dir).entryInfoList(QDir::Files))
        if (i.suffix() == QLatin1String("png"))
            files.push_back({i.fileName(), i.size(), i.lastModified().toSecsSinceEpoch()});
    std::sort(files.begin(), files.end(), [&](const F& a, const F& b) {
        const qint64 x = mode == 2 ? a.size : a.time, y = mode == 2 ? b.size : b.time;
        const bool less = x != y ? x < y : a.name < b.name;
        const bool greater = x != y ? x > y : a.name > b.name;
        return ascending ? less : greater;
    });
    QStringList out;
    for (const F& f : files)
        out << f.name;
    return out;
}

// A folder of image files whose order by name, by size and by date all differ, with ties.
class FileStats_SizeOrder : public AppTest {
protected:
    void Prepare() override {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        m_settings.WriteRaw(QStringLiteral("[System]\nInitMode=0\n[View]\nSortMode=%1\n")
                                .arg(InitialMode())
                                .toUtf8());
        for (int i = 0; i < Files(); ++i)
            MakeFile(P(QString("p%1.png").arg(i, 5, 10, QChar('0'))), (i * 37) % 50 * 100,
                     1600000000 + (i * 53) % 40 * 60);
    }
    void TearDown() override {
        View()->FileStats().Hold(false);
        AppTest::TearDown();
        QDir::setCurrent(m_oldDir);
        CFolderWatch::SetLimitForTests(-1);
    }
    virtual int InitialMode() const { return 2; }
    virtual int Files() const { return 300; }
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    CThumbnailView* View() const { return Frame()->ThumbnailView(); }
    // Lists the folder with the lookup of sizes and dates held back.
    void ListHeld() {
        View()->FileStats().Hold(true);
        View()->FillList();
    }
    void Release() {
        View()->FileStats().Hold(false);
        ASSERT_TRUE(WaitLong([&] { return !View()->SizesPending(); }));
    }
    void Unwatch() {
        CFolderWatch::SetLimitForTests(0);
        View()->FolderWatch().UnwatchAll();
    }
    QStringList Selected() const { return SelectedNames(View()); }
    QString FocusName() const { return FocusedName(View()); }
    int Index(const QString& name) const { return View()->FindTileByName(name); }

    QTemporaryDir m_dir;
    QString m_oldDir;
};

} // namespace

TEST_F(FileStats_SizeOrder, NamesFirstThenTheOrderKeepingSelectionFocusAndScrollPosition) {
    CThumbnailView* v = View();
    Frame()->resize(600, 400);
    Spin();
    const DirList::Counters before = DirList::Count();
    ListHeld();
    // The first screen: the names in name order, not one file looked at on this thread.
    EXPECT_EQ(DirList::Count().stats, before.stats);
    ASSERT_TRUE(v->SizesPending());
    ASSERT_TRUE(v->OrderPending());
    QStringList byName = Expected(m_dir.path(), 2, true);
    std::sort(byName.begin(), byName.end());
    ASSERT_EQ(TileNames(v), byName);
    // Shown in name order after a moment, while the sizes are still on their way.
    QTest::qWait(400);
    ASSERT_TRUE(v->OrderPending());
    const QImage shot = v->viewport()->grab().toImage();
    EXPECT_NE(shot.pixelColor(shot.width() / 4, shot.height() / 4), QColor(Qt::white));
    // The user's place meanwhile: two selected, the focus on one, scrolled down.
    v->SelectAt(Index("p00100.png"), false, false);
    v->SelectAt(Index("p00007.png"), true, false);
    QScrollBar* bar = v->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 2 * v->CellSize().height());
    bar->setValue(2 * v->CellSize().height());
    const int at = bar->value();
    Release();
    EXPECT_FALSE(v->OrderPending());
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, true));
    QStringList selected = Selected();
    std::sort(selected.begin(), selected.end());
    EXPECT_EQ(selected, (QStringList{"p00007.png", "p00100.png"}));
    EXPECT_EQ(FocusName(), "p00007.png");
    EXPECT_EQ(bar->value(), at);
    // Known now: descending applies at once, ties reversed too; then the date order.
    ASSERT_TRUE(v->SendCommand(ID_SORT_ASCEND));
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, false));
    ASSERT_TRUE(v->SendCommand(ID_SORT_DATE));
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 3, false));
    // A listing by date, descending: the same way.
    ListHeld();
    EXPECT_TRUE(v->OrderPending());
    std::reverse(byName.begin(), byName.end());
    EXPECT_EQ(TileNames(v), byName);
    // The focus no one chose stays on the first entry.
    Release();
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 3, false));
    EXPECT_EQ(v->GetFocusIndex(), 0);
}

TEST_F(FileStats_SizeOrder, FilesChangedOrRemovedWhileTheSizesAreGatheredEndInTheirPlaces) {
    CThumbnailView* v = View();
    // Unwatched first: only the lookup tells what became of the files.
    Unwatch();
    ListHeld();
    ASSERT_FALSE(v->IsWatching());
    v->SelectAt(Index("p00010.png"), false, false);
    ASSERT_TRUE(QFile::remove(P("p00003.png")));
    ASSERT_TRUE(QFile::remove(P("p00004.png")));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("p00004.png"));
    MakeFile(P("p00005.png"), 999999, 1700000000);
    MakeFile(P("p00010.png"), 1, 1600000000);
    Release();
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, true));
    EXPECT_EQ(TileNames(v).size(), Files() - 2);
    EXPECT_EQ(v->Tiles().back()->m_strName, "p00005.png");
    EXPECT_EQ(FocusName(), "p00010.png");
    EXPECT_EQ(Selected(), QStringList{"p00010.png"});

    // Watched: what the watch reports while the sizes are on their way waits for the order too.
    CFolderWatch::SetLimitForTests(-1);
    ListHeld();
    ASSERT_TRUE(v->IsWatching());
    MakeFile(P("a-new.png"), 7, 1600000000);
    MakeFile(P("p00020.png"), 888888, 1600000000);
    ASSERT_TRUE(QFile::remove(P("p00030.png")));
    ASSERT_TRUE(WaitLong([&] {
        return Index("a-new.png") >= 0 && Index("p00030.png") < 0 &&
               v->Tiles()[size_t(Index("p00020.png"))]->m_nSize == 888888;
    }));
    EXPECT_TRUE(v->OrderPending());
    Release();
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, true));
}

namespace {

// 20,000 files ordered by size.
class FileStats_BigRefresh : public FileStats_SizeOrder {
protected:
    int Files() const override { return 20000; }
};

} // namespace

TEST_F(FileStats_BigRefresh, ARefreshLooksAtTheFilesOffTheUserInterfaceThread) {
    CThumbnailView* v = View();
    ASSERT_TRUE(WaitLong([&] { return !v->SizesPending(); }));
    ASSERT_EQ(TileNames(v), Expected(m_dir.path(), 2, true));
    Unwatch();
    v->SelectAt(Index("p12345.png"), false, false);
    // Another program: 100 files added (more than are looked at on the spot), 10 removed, one
    // replaced by a newer, larger one.
    for (int i = 0; i < 100; ++i)
        MakeFile(P(QString("new%1.png").arg(i, 3, 10, QChar('0'))), 5000 - i, 1650000000);
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(QFile::remove(P(QString("p%1.png").arg(i * 1000 + 1, 5, 10, QChar('0')))));
    MakeFile(P("p00500.png"), 1234567, 1700000000);

    v->FileStats().Hold(true);
    const DirList::Counters before = DirList::Count();
    v->RefreshList();
    // The folder read once by its names; not one file looked at on this thread.
    EXPECT_EQ(DirList::Count().listings, before.listings + 1);
    EXPECT_EQ(DirList::Count().stats, before.stats);
    ASSERT_TRUE(v->SizesPending());
    // Gone at once; the new ones wait at the end for their sizes.
    EXPECT_EQ(Index("p00001.png"), -1);
    EXPECT_EQ(int(v->Tiles().size()), Files() - 10 + 100);
    for (int i = 0; i < 100; ++i)
        EXPECT_GE(Index(QString("new%1.png").arg(i, 3, 10, QChar('0'))), Files() - 10) << i;
    // The user-interface thread is free meanwhile.
    bool ticked = false;
    QTimer::singleShot(0, [&] { ticked = true; });
    EXPECT_TRUE(WaitLong([&] { return ticked; }));
    v->FileStats().Hold(false);
    ASSERT_TRUE(WaitLong([&] { return !v->SizesPending(); }));
    EXPECT_EQ(DirList::Count().stats, before.stats);
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, true));
    EXPECT_EQ(v->Tiles().back()->m_strName, "p00500.png");
    EXPECT_EQ(v->Tiles().back()->m_nSize, 1234567u);
    EXPECT_EQ(Selected(), QStringList{"p12345.png"});

    // A few new files are placed at once (each looked at: the cost of the change).
    MakeFile(P("aa.png"), 0, 1600000000);
    MakeFile(P("zz.png"), 2000000, 1600000000);
    v->FileStats().Hold(true);
    const DirList::Counters few = DirList::Count();
    v->RefreshList();
    EXPECT_EQ(DirList::Count().stats - few.stats, 2u);
    EXPECT_EQ(Index("aa.png"), 0);
    EXPECT_EQ(v->Tiles().back()->m_strName, "zz.png");
    v->FileStats().Hold(false);
    ASSERT_TRUE(WaitLong([&] { return !v->SizesPending(); }));
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, true));
}

TEST_F(FileStats_BigRefresh, ReadingTheFolderAgainAfterLostEventsKeepsThePlaceOffTheThread) {
    CThumbnailView* v = View();
    Frame()->resize(600, 400);
    ASSERT_TRUE(WaitLong([&] { return !v->SizesPending(); }));
    Unwatch();
    v->SelectAt(Index("p07000.png"), false, false);
    QScrollBar* bar = v->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const int at = bar->value();
    // Rewritten without the watch seeing it, with an older date and another size; one removed.
    MakeFile(P("p07000.png"), 4000, 1500000000);
    ASSERT_TRUE(QFile::remove(P("p00002.png")));
    v->FileStats().Hold(true);
    const DirList::Counters before = DirList::Count();
    v->Resync();
    EXPECT_EQ(DirList::Count().stats, before.stats);
    EXPECT_EQ(Index("p00002.png"), -1);
    v->FileStats().Hold(false);
    ASSERT_TRUE(WaitLong([&] { return !v->SizesPending(); }));
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, true));
    const CImageTile& t = *v->Tiles()[size_t(Index("p07000.png"))];
    EXPECT_EQ(t.m_nSize, 4000u);
    EXPECT_EQ(t.m_time, 1500000000);
    EXPECT_EQ(FocusName(), "p07000.png");
    EXPECT_EQ(Selected(), QStringList{"p07000.png"});
    EXPECT_EQ(bar->value(), at);
}

namespace {

// Three real pictures, in name order.
class FileStats_Rename : public FileStats_SizeOrder {
protected:
    int InitialMode() const override { return 0; }
    int Files() const override { return 0; }
    void Prepare() override {
        FileStats_SizeOrder::Prepare();
        for (const char* n : {"b.png", "c.png", "d.png"}) {
            QImage img(30, 20, QImage::Format_RGB32);
            img.fill(Qt::darkGreen);
            ASSERT_TRUE(img.save(P(n), "PNG"));
        }
    }
};

} // namespace

TEST_F(FileStats_Rename, AFileRenamedBeforeTheLookUpKeepsItsTileWhenTheWatchTellsLater) {
    CThumbnailView* v = View();
    // The watch's report comes well after the lookup has found the old name gone.
    v->FolderWatch().SetDelay(2000);
    ListHeld();
    ASSERT_TRUE(v->IsWatching());
    ASSERT_TRUE(WaitForPictures(v));
    v->SelectAt(Index("c.png"), false, false);
    const CImageTile* c = v->Tiles()[size_t(Index("c.png"))].get();
    ASSERT_TRUE(c->HasPicture());
    ASSERT_TRUE(QFile::rename(P("c.png"), P("a.png")));
    Release();
    // The lookup found it gone; the watch has not told yet.
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png"}));
    ASSERT_TRUE(WaitLong([&] { return Index("a.png") >= 0; }));
    EXPECT_EQ(TileNames(v), (QStringList{"a.png", "b.png", "d.png"}));
    // The same tile, with its picture, its selection and the focus.
    EXPECT_EQ(v->Tiles()[0].get(), c);
    EXPECT_TRUE(c->HasPicture());
    EXPECT_EQ(c->Path(), P("a.png"));
    EXPECT_EQ(Selected(), QStringList{"a.png"});
    EXPECT_EQ(FocusName(), "a.png");
    // A file the lookup found gone and that stays gone leaves for good.
    ListHeld();
    ASSERT_TRUE(QFile::remove(P("d.png")));
    Release();
    QTest::qWait(2500);
    EXPECT_EQ(TileNames(v), (QStringList{"a.png", "b.png"}));
}

TEST_F(FileStats_SizeOrder, TheOrderOfALargeFolderIsFoundOnAWorkerAndFoundAgainWhenTheTilesChange) {
    CThumbnailView* v = View();
    const size_t oldFrom = CThumbnailView::s_nSortApartFrom;
    CThumbnailView::s_nSortApartFrom = 1; // every order waited for is found on the worker
    ListHeld();
    v->SelectAt(Index("p00150.png"), false, false);
    Release();
    EXPECT_FALSE(v->OrderPending());
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, true));
    EXPECT_EQ(FocusName(), "p00150.png");
    // Files come and go while the order is being found: it is found again, and holds them all.
    for (int round = 0; round < 3; ++round) {
        ListHeld();
        v->FileStats().Hold(false);
        ASSERT_TRUE(WaitLong([&] { return !v->SizesPending() || !v->FileStats().IsBusy(); }));
        MakeFile(P(QString("n%1.png").arg(round)), 10 * round + 5, 1600000000);
        ASSERT_TRUE(QFile::remove(P(QString("p%1.png").arg(round + 200, 5, 10, QChar('0')))));
        ASSERT_TRUE(WaitLong([&] { return !v->SizesPending(); }));
        ASSERT_TRUE(WaitLong([&] {
            return Index(QString("n%1.png").arg(round)) >= 0 &&
                   Index(QString("p%1.png").arg(round + 200, 5, 10, QChar('0'))) < 0 &&
                   !v->SizesPending();
        }));
        EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, true)) << round;
    }
    // Another order asked for while one is being found: the last one asked for holds.
    ListHeld();
    Release();
    ListHeld();
    v->FileStats().Hold(false);
    ASSERT_TRUE(WaitLong([&] { return !v->FileStats().IsBusy(); }));
    ASSERT_TRUE(v->SendCommand(ID_SORT_ASCEND));
    ASSERT_TRUE(WaitLong([&] { return !v->SizesPending(); }));
    EXPECT_EQ(TileNames(v), Expected(m_dir.path(), 2, false));
    CThumbnailView::s_nSortApartFrom = oldFrom;
}
