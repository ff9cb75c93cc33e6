// Live folders: what other programs do in the folder shown and in the folders of the tree reaches
// the grid and the tree by itself, name by name, without the folder being read again. And the
// sort that large listings use, against the plain heapsort over the tiles.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "platform/Clipboard.h"
#include "platform/DirList.h"
#include "platform/FolderWatch.h"
#include "platform/Settings.h"
#include "platform/Volumes.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

// Waits (running the event loop) until the condition holds; false after 10 s.
template <typename F> bool WaitFor(F condition) {
    return QTest::qWaitFor(condition, 10000);
}

void WritePicture(const QString& path, int w, int h, QColor c = Qt::darkCyan) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    // Written under another name and renamed into place, as a careful program writes: the file
    // appears whole.
    ASSERT_TRUE(img.save(path + ".part", "PNG"));
    ASSERT_EQ(::rename(QFile::encodeName(path + ".part").constData(),
                       QFile::encodeName(path).constData()),
              0);
}

void SetTime(const QString& path, int64_t secs) {
    struct utimbuf t {
        time_t(secs), time_t(secs)
    };
    ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &t), 0);
}

// ---- the watch itself ------------------------------------------------------------------------

struct Collector {
    explicit Collector(CFolderWatch& w) {
        QObject::connect(&w, &CFolderWatch::Changed,
                         [this](const CFolderWatch::Changes& c) { reports.push_back(c); });
    }
    QStringList Touched(const QString& folder) const {
        QStringList out;
        for (const auto& c : reports)
            if (c.folder == folder)
                out << c.touched;
        return out;
    }
    std::vector<std::pair<QString, QString>> Renamed(const QString& folder) const {
        std::vector<std::pair<QString, QString>> out;
        for (const auto& c : reports)
            if (c.folder == folder)
                out.insert(out.end(), c.renamed.begin(), c.renamed.end());
        return out;
    }
    std::vector<CFolderWatch::Changes> reports;
};

} // namespace

TEST(FolderWatch_, ReportsNamesGatheredRenamesPairedAndTheFolderGoing) {
    QTemporaryDir a, b;
    CFolderWatch watch;
    watch.SetDelay(50);
    Collector got(watch);
    ASSERT_TRUE(watch.Watch(a.path()));
    ASSERT_TRUE(watch.Watch(b.path()));
    EXPECT_TRUE(watch.Watch(a.path())); // again: nothing new
    EXPECT_EQ(watch.Folders().size(), 2);

    // Many events on one name make one name in one report.
    QFile f(a.filePath("one.jpg"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("y");
    f.close();
    ASSERT_TRUE(WaitFor([&] { return !got.reports.empty(); }));
    QTest::qWait(150);
    EXPECT_EQ(got.Touched(a.path()), QStringList{"one.jpg"});
    EXPECT_TRUE(got.Touched(b.path()).isEmpty());

    // A rename inside a folder is paired; a move to another watched folder touches both.
    got.reports.clear();
    ASSERT_TRUE(QFile::rename(a.filePath("one.jpg"), a.filePath("two.jpg")));
    ASSERT_TRUE(WaitFor([&] { return !got.Renamed(a.path()).empty(); }));
    EXPECT_EQ(got.Renamed(a.path())[0], std::make_pair(QString("one.jpg"), QString("two.jpg")));
    EXPECT_EQ(got.Touched(a.path()), (QStringList{"one.jpg", "two.jpg"}));
    got.reports.clear();
    ASSERT_TRUE(QFile::rename(a.filePath("two.jpg"), b.filePath("three.jpg")));
    ASSERT_TRUE(WaitFor([&] { return !got.Touched(b.path()).isEmpty(); }));
    EXPECT_EQ(got.Touched(a.path()), QStringList{"two.jpg"});
    EXPECT_EQ(got.Touched(b.path()), QStringList{"three.jpg"});
    EXPECT_TRUE(got.Renamed(b.path()).empty());

    // A folder that is no longer watched reports nothing.
    watch.Unwatch(b.path());
    got.reports.clear();
    ASSERT_TRUE(QFile::remove(b.filePath("three.jpg")));
    QTest::qWait(200);
    EXPECT_TRUE(got.reports.empty());

    // The folder itself going is reported, and its watch ends.
    got.reports.clear();
    const QString path = a.path();
    ASSERT_TRUE(a.remove());
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& c : got.reports)
            if (c.folder == path && c.gone)
                return true;
        return false;
    }));
    EXPECT_FALSE(watch.IsWatching(path));
}

TEST(FolderWatch_, RefusesWithAReasonWhereItCannotWatch) {
    QTemporaryDir a;
    CFolderWatch watch;
    QString why;
    EXPECT_FALSE(watch.Watch(a.filePath("missing"), &why));
    EXPECT_FALSE(why.isEmpty());
    CFolderWatch::SetLimitForTests(0);
    why.clear();
    EXPECT_FALSE(watch.Watch(a.path(), &why));
    EXPECT_FALSE(why.isEmpty());
    CFolderWatch::SetLimitForTests(-1);
    EXPECT_TRUE(watch.Watch(a.path()));
}

TEST(DirList_, LookUpTakesWhatTheListingTakesWithOneStat) {
    QTemporaryDir a;
    QDir d(a.path());
    ASSERT_TRUE(d.mkdir("dir.jpg"));
    QFile f(d.filePath("pic.jpg"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("abc");
    f.close();
    ASSERT_EQ(::symlink("pic.jpg", QFile::encodeName(d.filePath("link.jpg")).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(d.filePath("fifo.jpg")).constData(), 0600), 0);
    const auto images = [](const QString& n) { return n.endsWith(".jpg"); };
    const DirList::Counters before = DirList::Count();
    const auto pic = DirList::LookUp(a.path(), "pic.jpg", images);
    ASSERT_TRUE(pic.has_value());
    EXPECT_EQ(pic->size, 3u);
    EXPECT_TRUE(DirList::LookUp(a.path(), "link.jpg", images).has_value());
    EXPECT_FALSE(DirList::LookUp(a.path(), "dir.jpg", images).has_value());
    EXPECT_FALSE(DirList::LookUp(a.path(), "fifo.jpg", images).has_value());
    EXPECT_FALSE(DirList::LookUp(a.path(), "gone.jpg", images).has_value());
    EXPECT_EQ(DirList::Count().stats - before.stats, 5u);
    // Names the filter refuses, or that are no names of the folder, cost nothing.
    EXPECT_FALSE(DirList::LookUp(a.path(), "pic.txt", images).has_value());
    EXPECT_FALSE(DirList::LookUp(a.path(), "../x.jpg", images).has_value());
    EXPECT_EQ(DirList::Count().stats - before.stats, 5u);
    EXPECT_EQ(DirList::Count().listings, before.listings);
}

// ---- sorting large listings ------------------------------------------------------------------

namespace {

// The heapsort over the tiles themselves, comparison by comparison as the listing has always done.
void ReferenceSort(TileList& tiles, int mode, bool ascending) {
    auto at = [&](size_t p) -> std::unique_ptr<CImageTile>& { return tiles[p - 1]; };
    auto cmp = [&](const CImageTile& a, const CImageTile& b) {
        return CompareEntries(a, b, mode, ascending);
    };
    size_t n = tiles.size();
    auto siftDown = [&](std::unique_ptr<CImageTile> v, size_t i) {
        size_t j = 2 * i;
        while (j <= n) {
            if (j < n && cmp(*at(j), *at(j + 1)) < 0)
                ++j;
            if (cmp(*v, *at(j)) >= 0)
                break;
            at(i) = std::move(at(j));
            i = j;
            j = 2 * j;
        }
        at(i) = std::move(v);
    };
    for (size_t k = n / 2; k >= 1; --k)
        siftDown(std::move(at(k)), k);
    while (n > 1) {
        std::unique_ptr<CImageTile> v = std::move(at(n));
        at(n) = std::move(at(1));
        --n;
        siftDown(std::move(v), 1);
    }
}

} // namespace

TEST(SortTiles_, GivesTheSameOrderAsTheHeapsortOverTheTiles) {
    // Names that tie when case is ignored, share long beginnings, lack a dot or an extension,
    // hold kanji, half-width kana, characters code page 932 lacks, or bytes that are not UTF-8;
    // sizes and times that tie.
    // (U+DC8A U+DC9F: the bytes 0x8A 0x9F as FileNames holds bytes that are not UTF-8.)
    const QString raw = QString(QChar(0xDC8A)) + QChar(0xDC9F);
    const QStringList stems{"a",     "A",         "img0000001", "IMG0000001", "img00000010",
                            "写真",  "ｼｬｼﾝ",      "Ωmega",      "😀",          "noext",
                            "x.y.z", "trailing.", raw,          "Zz",         "zZ"};
    const QStringList exts{".jpg", ".JPG", ".png", "", ".tiff"};
    TileList base;
    uint32_t seed = 7;
    const auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; i < 600; ++i) {
        const QString stem = stems[int(next() % uint32_t(stems.size()))];
        auto t = std::make_unique<CImageTile>();
        t->SetPath("/d/" + stem + QString::number(next() % 50) +
                   exts[int(next() % uint32_t(exts.size()))]);
        t->m_nSize = next() % 4 == 0 ? 0x90000000u + next() % 3 : next() % 5;
        t->m_time = int64_t(next() % 6);
        base.push_back(std::move(t));
    }
    for (int mode = 0; mode < 4; ++mode)
        for (bool ascending : {true, false}) {
            TileList a, b;
            for (const auto& t : base) {
                a.push_back(std::make_unique<CImageTile>());
                a.back()->SetPath(t->Path());
                a.back()->m_nSize = t->m_nSize;
                a.back()->m_time = t->m_time;
                a.back()->m_id = uint64_t(a.size());
                b.push_back(std::make_unique<CImageTile>());
                b.back()->SetPath(t->Path());
                b.back()->m_nSize = t->m_nSize;
                b.back()->m_time = t->m_time;
                b.back()->m_id = uint64_t(b.size());
            }
            SortTiles(a, mode, ascending);
            ReferenceSort(b, mode, ascending);
            std::vector<uint64_t> ia, ib;
            for (size_t i = 0; i < a.size(); ++i) {
                ia.push_back(a[i]->m_id);
                ib.push_back(b[i]->m_id);
            }
            EXPECT_EQ(ia, ib) << "mode " << mode << (ascending ? " ascending" : " descending");
        }
}

TEST(SortTiles_, NamesThatShareTheirStartSortAsTheHeapsortDoes) {
    // Every name begins alike (as a camera names its files), so the sort looks past those bytes;
    // one name is that beginning alone, others differ from it only in case, in one byte, in a
    // kanji or in bytes that are not UTF-8 right after it, or only in their extension.
    const QString raw = QString(QChar(0xDC8A)) + QChar(0xDC9F);
    const QStringList tails{"",     "0",    "00", "000001", "000001",  "0000010", "1",
                            "写真", "ｼｬｼﾝ", "Ω",  raw,      "9999999", "00000a",  "00000A"};
    for (const QString& start : {QStringLiteral("IMG_00"), QStringLiteral("写真_")}) {
        TileList base;
        uint32_t seed = 11;
        const auto next = [&] { return seed = seed * 1103515245u + 12345u; };
        for (int i = 0; i < 400; ++i) {
            QString stem = start + tails[int(next() % uint32_t(tails.size()))];
            if (next() % 3 == 0)
                stem = stem.toLower();
            const char* ext = next() % 2 ? ".jpg" : (next() % 2 ? ".JPG" : "");
            auto t = std::make_unique<CImageTile>();
            t->SetPath("/d/" + stem + QLatin1String(ext));
            t->m_nSize = next() % 3;
            t->m_time = int64_t(next() % 3);
            base.push_back(std::move(t));
        }
        // The one name that is the shared beginning and nothing more.
        base.push_back(std::make_unique<CImageTile>());
        base.back()->SetPath("/d/" + start.toLower());
        for (int mode = 0; mode < 4; ++mode)
            for (bool ascending : {true, false}) {
                TileList a, b;
                for (const auto& t : base)
                    for (TileList* list : {&a, &b}) {
                        list->push_back(std::make_unique<CImageTile>());
                        list->back()->SetPath(t->Path());
                        list->back()->m_nSize = t->m_nSize;
                        list->back()->m_time = t->m_time;
                        list->back()->m_id = uint64_t(list->size());
                    }
                SortTiles(a, mode, ascending);
                ReferenceSort(b, mode, ascending);
                std::vector<QString> na, nb;
                for (size_t i = 0; i < a.size(); ++i) {
                    na.push_back(a[i]->m_strName + "#" + QString::number(a[i]->m_id));
                    nb.push_back(b[i]->m_strName + "#" + QString::number(b[i]->m_id));
                }
                EXPECT_EQ(na, nb) << start.toStdString() << " mode " << mode
                                  << (ascending ? " ascending" : " descending");
            }
        // Without two names equal but for case the quick sort decides alone: the same order.
        TileList unique, reference;
        QSet<QString> seen;
        for (const auto& t : base)
            if (!seen.contains(t->m_strName.toLower())) {
                seen.insert(t->m_strName.toLower());
                for (TileList* list : {&unique, &reference}) {
                    list->push_back(std::make_unique<CImageTile>());
                    list->back()->SetPath(t->Path());
                }
            }
        SortTiles(unique, 0, true);
        ReferenceSort(reference, 0, true);
        for (size_t i = 0; i < unique.size(); ++i)
            EXPECT_EQ(unique[i]->m_strName, reference[i]->m_strName) << i;
        EXPECT_EQ(unique.front()->m_strName, start.toLower()) << "the beginning alone comes first";
    }
}

// ---- the grid --------------------------------------------------------------------------------

namespace {

class LiveGrid : public AppTest {
protected:
    void Prepare() override {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        m_settings.WriteRaw("[System]\nInitMode=0\n");
        PrepareFolder();
    }
    void TearDown() override {
        AppTest::TearDown();
        QDir::setCurrent(m_oldDir);
        CFolderWatch::SetLimitForTests(-1);
    }
    virtual void PrepareFolder() {
        for (const char* n : {"b.png", "d.png", "f.png", "h.png"})
            WritePicture(P(n), 40, 20);
    }
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    CThumbnailView* View() const { return Frame()->ThumbnailView(); }
    const CImageTile* Tile(const QString& name) const {
        const int i = View()->FindTileByName(name);
        return i < 0 ? nullptr : View()->Tiles()[size_t(i)].get();
    }
    QStringList Selected() const { return SelectedNames(View()); }
    QString FocusName() const { return FocusedName(View()); }

    QTemporaryDir m_dir;
    QString m_oldDir;
};

} // namespace

TEST_F(LiveGrid, FilesAddedRemovedRenamedAndRewrittenElsewhereReachTheTiles) {
    CThumbnailView* v = View();
    ASSERT_TRUE(v->IsWatching());
    ASSERT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
    ASSERT_TRUE(WaitForPictures(v));
    // The user's place: f selected and focused.
    v->SelectAt(2, false, false);
    ASSERT_EQ(FocusName(), "f.png");
    const DirList::Counters before = DirList::Count();

    // Added: in its sorted place; the selection and the focus stay on their entries.
    WritePicture(P("a.png"), 40, 20);
    WritePicture(P("e.png"), 40, 20);
    ASSERT_TRUE(WaitFor([&] { return v->Tiles().size() == 6; }));
    EXPECT_EQ(TileNames(v), (QStringList{"a.png", "b.png", "d.png", "e.png", "f.png", "h.png"}));
    EXPECT_EQ(Selected(), QStringList{"f.png"});
    EXPECT_EQ(FocusName(), "f.png");
    ASSERT_TRUE(WaitForPictures(v));
    EXPECT_TRUE(Tile("a.png")->HasPicture());

    // Files the listing would not take never appear: other names, folders, devices.
    QFile text(P("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.close();
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("folder.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(P("pipe.png")).constData(), 0600), 0);

    // Removed.
    ASSERT_TRUE(QFile::remove(P("b.png")));
    ASSERT_TRUE(WaitFor([&] { return v->FindTileByName("b.png") < 0; }));
    EXPECT_EQ(TileNames(v), (QStringList{"a.png", "d.png", "e.png", "f.png", "h.png"}));
    EXPECT_EQ(FocusName(), "f.png");

    // Renamed: the tile follows with its picture and its selection, to its new place.
    const CImageTile* f = Tile("f.png");
    ASSERT_TRUE(f && f->HasPicture());
    ASSERT_TRUE(QFile::rename(P("f.png"), P("c.png")));
    ASSERT_TRUE(WaitFor([&] { return v->FindTileByName("c.png") >= 0; }));
    EXPECT_EQ(TileNames(v), (QStringList{"a.png", "c.png", "d.png", "e.png", "h.png"}));
    EXPECT_EQ(Tile("c.png"), f);
    EXPECT_TRUE(f->HasPicture());
    EXPECT_EQ(f->Path(), P("c.png"));
    EXPECT_EQ(Selected(), QStringList{"c.png"});
    EXPECT_EQ(FocusName(), "c.png");

    // Renamed to a name the listing does not take: the tile goes.
    ASSERT_TRUE(QFile::rename(P("e.png"), P("e.png.bak")));
    ASSERT_TRUE(WaitFor([&] { return v->FindTileByName("e.png") < 0; }));

    // Rewritten: a new picture of the new content (here another shape), in the same place.
    const CImageTile* d = Tile("d.png");
    ASSERT_EQ(d->m_wndImage.m_image.GetSize(), QSize(40, 20));
    WritePicture(P("d.png"), 20, 40, Qt::red);
    SetTime(P("d.png"), 1700000000);
    ASSERT_TRUE(WaitFor([&] { return Tile("d.png") && Tile("d.png")->m_time == 1700000000; }));
    ASSERT_TRUE(WaitForPictures(v));
    EXPECT_EQ(Tile("d.png")->m_wndImage.m_image.GetSize(), QSize(20, 40));
    EXPECT_EQ(TileNames(v), (QStringList{"a.png", "c.png", "d.png", "h.png"}));

    // The folder was never read again: each change cost a look at its names.
    QTest::qWait(300);
    const DirList::Counters after = DirList::Count();
    EXPECT_EQ(after.listings, before.listings);
    EXPECT_LE(after.stats - before.stats, 20u);
}

TEST_F(LiveGrid, TheScrollPositionStaysWhenFilesComeAndGo) {
    CThumbnailView* v = View();
    Frame()->resize(500, 300);
    for (int i = 0; i < 200; ++i)
        WritePicture(P(QString("m%1.png").arg(i, 3, 10, QChar('0'))), 4, 4);
    ASSERT_TRUE(WaitFor([&] { return v->Tiles().size() == 204; }));
    QScrollBar* bar = v->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 3 * v->CellSize().height());
    bar->setValue(2 * v->CellSize().height());
    const int at = bar->value();
    WritePicture(P("a0.png"), 4, 4);
    ASSERT_TRUE(QFile::remove(P("m100.png")));
    ASSERT_TRUE(WaitFor([&] { return v->FindTileByName("a0.png") >= 0; }));
    ASSERT_TRUE(WaitFor([&] { return v->FindTileByName("m100.png") < 0; }));
    EXPECT_EQ(bar->value(), at);
}

TEST_F(LiveGrid, QuillasOwnChangesAreNotAppliedTwice) {
    CThumbnailView* v = View();
    QTemporaryDir elsewhere;
    WritePicture(elsewhere.filePath("z.png"), 10, 10);
    WritePicture(elsewhere.filePath("c.png"), 10, 10);
    Clipboard::PutFiles({elsewhere.filePath("z.png"), elsewhere.filePath("c.png")},
                        Clipboard::DROPEFFECT_COPY);
    ASSERT_TRUE(v->SendCommand(ID_EDIT_PASTE));
    const QStringList expected{"b.png", "c.png", "d.png", "f.png", "h.png", "z.png"};
    EXPECT_EQ(TileNames(v), expected);
    // The watch then reports the same files: they are there already.
    QTest::qWait(600);
    EXPECT_EQ(TileNames(v), expected);
}

TEST_F(LiveGrid, AFolderThatCannotBeWatchedIsLookedAtWhenTheProgramComesBack) {
    CThumbnailView* v = View();
    CFolderWatch::SetLimitForTests(0);
    v->FolderWatch().UnwatchAll();
    Frame()->GetActiveDocument()->UpdateAllViews(Frame()->DirView()); // listed anew
    ASSERT_FALSE(v->IsWatching());
    // The listing's own look at each file is over before the others change the folder.
    ASSERT_TRUE(WaitFor([&] { return !v->SizesPending(); }));
    v->SelectAt(1, false, false);
    WritePicture(P("a.png"), 40, 20);
    ASSERT_TRUE(QFile::remove(P("h.png")));
    QTest::qWait(400);
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
    v->OnActivated();
    EXPECT_EQ(TileNames(v), (QStringList{"a.png", "b.png", "d.png", "f.png"}));
    EXPECT_EQ(Selected(), QStringList{"d.png"});
    EXPECT_EQ(FocusName(), "d.png");
    // Once watching is possible again, the next return to the front starts it.
    CFolderWatch::SetLimitForTests(-1);
    v->OnActivated();
    EXPECT_TRUE(v->IsWatching());
}

namespace {

// A folder of 100,000 image files (empty ones: only their names count here).
class LiveBigGrid : public LiveGrid {
    void PrepareFolder() override {
        const QByteArray dir = QFile::encodeName(m_dir.path());
        const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        for (int i = 0; i < kFiles; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "f%06d.jpg", i * 2);
            const int f = ::openat(fd, name, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            ASSERT_GE(f, 0);
            ::close(f);
        }
        ::close(fd);
    }

protected:
    static constexpr int kFiles = 100000;
};

} // namespace

TEST_F(LiveBigGrid, OneChangeInAHundredThousandFilesCostsOnlyItsNames) {
    CThumbnailView* v = View();
    ASSERT_EQ(v->Tiles().size(), size_t(kFiles));
    v->SelectAt(5000, false, false);
    const DirList::Counters before = DirList::Count();
    // One file added, one removed, one renamed, one rewritten.
    QFile added(P("f000001.jpg"));
    ASSERT_TRUE(added.open(QIODevice::WriteOnly));
    added.close();
    ASSERT_TRUE(QFile::remove(P("f199998.jpg")));
    ASSERT_TRUE(QFile::rename(P("f000100.jpg"), P("f000101.jpg")));
    QFile rewritten(P("f010000.jpg"));
    ASSERT_TRUE(rewritten.open(QIODevice::Append));
    rewritten.write("new");
    rewritten.close();
    ASSERT_TRUE(WaitFor([&] {
        return v->FindTileByName("f000001.jpg") == 1 && v->FindTileByName("f199998.jpg") < 0 &&
               v->FindTileByName("f000101.jpg") == 51 &&
               v->Tiles()[5001]->m_nSize == 3; // f010000.jpg, one place further on
    }));
    EXPECT_EQ(v->Tiles().size(), size_t(kFiles));
    EXPECT_EQ(v->GetFocusIndex(), 5001);
    EXPECT_TRUE(v->Tiles()[5001]->m_bSelected);
    QTest::qWait(300);
    const DirList::Counters after = DirList::Count();
    // Not one listing; a look at each name the changes named (the rename's two names included).
    EXPECT_EQ(after.listings, before.listings);
    EXPECT_GE(after.stats - before.stats, 5u);
    EXPECT_LE(after.stats - before.stats, 10u); // a name may come in two reports
}

// ---- the tree --------------------------------------------------------------------------------

namespace {

class LiveTree : public AppTest {
protected:
    void Prepare() override {
        m_oldHome = qgetenv("HOME");
        m_oldDir = QDir::currentPath();
        qputenv("HOME", m_home.path().toUtf8());
        QDir home(m_home.path());
        home.mkpath("Desktop");
        home.mkpath("Documents");
        home.mkpath("work/Alpha/deep");
        home.mkpath("work/beta");
        home.mkpath("fav/Pics/sub");
        WritePicture(W("beta/one.png"), 10, 10);
        WritePicture(m_home.filePath("fav/Pics/sub/two.png"), 10, 10);
        QDir::setCurrent(W());
        m_settings.WriteRaw(
            ("[System]\nInitMode=0\n[DirTree]\nFavoritesCount=1\nFavorites1=" + Fav() + "\n")
                .toUtf8());
    }
    void TearDown() override {
        AppTest::TearDown();
        QDir::setCurrent(m_oldDir);
        qputenv("HOME", m_oldHome);
        Volumes::SetMountTable(QByteArray());
    }
    QString W(const QString& rel = QString()) const {
        return rel.isEmpty() ? m_home.filePath("work") : m_home.filePath("work/" + rel);
    }
    QString Fav(const QString& rel = QString()) const {
        return rel.isEmpty() ? m_home.filePath("fav/Pics") : m_home.filePath("fav/Pics/" + rel);
    }
    CDirView* View() const { return Frame()->DirView(); }
    CDirTree& T() const { return View()->Tree(); }
    QString Folder() const { return Frame()->GetActiveDocument()->Folder(); }
    static QStringList Children(QTreeWidgetItem* item) {
        QStringList out;
        for (int i = 0; item && i < item->childCount(); ++i)
            out << item->child(i)->text(0);
        return out;
    }
    void Select(const QString& path) {
        T().SelectPath(path);
        T().SelectNotify(View()->currentItem());
    }

    QTemporaryDir m_home;
    QByteArray m_oldHome;
    QString m_oldDir;
};

} // namespace

TEST_F(LiveTree, FoldersAddedRemovedAndRenamedUnderAnExpandedItem) {
    QTreeWidgetItem* work = T().Locate(W());
    ASSERT_TRUE(work);
    work->setExpanded(true);
    QTreeWidgetItem* alpha = T().Locate(W("Alpha"));
    ASSERT_TRUE(alpha);
    alpha->setExpanded(true);
    ASSERT_EQ(Children(work), (QStringList{"Alpha", "beta"}));
    ASSERT_TRUE(WaitFor([&] { return View()->FolderWatch().IsWatching(W()); }));

    // Added (with its look-ahead: it has a folder of its own), in its sorted place.
    ASSERT_TRUE(QDir().mkpath(W("Ant/inner")));
    ASSERT_TRUE(QDir().mkdir(W("Zeta")));
    // Files are no folders.
    QFile file(W("file.png"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(WaitFor([&] { return Children(work).size() == 4; }));
    EXPECT_EQ(Children(work), (QStringList{"Alpha", "Ant", "beta", "Zeta"}));
    EXPECT_EQ(T().Locate(W("Ant"))->childCount(), 1); // the expand button
    EXPECT_EQ(T().Locate(W("Zeta"))->childCount(), 0);

    // Renamed: the same item, still open, in its new place.
    ASSERT_TRUE(QFile::rename(W("Alpha"), W("omega")));
    ASSERT_TRUE(WaitFor([&] { return Children(work).contains("omega"); }));
    EXPECT_EQ(Children(work), (QStringList{"Ant", "beta", "omega", "Zeta"}));
    EXPECT_EQ(work->child(2), alpha);
    EXPECT_TRUE(alpha->isExpanded());
    EXPECT_EQ(T().PathOf(alpha->child(0)), W("omega/deep"));

    // Removed.
    ASSERT_TRUE(QDir(W("Zeta")).removeRecursively());
    ASSERT_TRUE(WaitFor([&] { return Children(work).size() == 3; }));
    EXPECT_EQ(Children(work), (QStringList{"Ant", "beta", "omega"}));
    // The renamed folder is watched under its new name.
    ASSERT_TRUE(WaitFor([&] { return View()->FolderWatch().IsWatching(W("omega")); }));
    ASSERT_TRUE(QDir().mkdir(W("omega/new")));
    ASSERT_TRUE(WaitFor([&] { return Children(alpha).size() == 2; }));
    EXPECT_EQ(Children(alpha), (QStringList{"deep", "new"}));
}

TEST_F(LiveTree, TheFolderShownFollowsItsRenameAndItsRemoval) {
    Select(W("beta"));
    ASSERT_EQ(Folder(), W("beta"));
    ASSERT_EQ(TileNames(Frame()->ThumbnailView()), QStringList{"one.png"});
    ASSERT_TRUE(WaitFor([&] { return View()->FolderWatch().IsWatching(W()); }));

    // Renamed by another program: the current folder and the grid's paths follow.
    ASSERT_TRUE(QFile::rename(W("beta"), W("gamma")));
    ASSERT_TRUE(WaitFor([&] { return Folder() == W("gamma"); }));
    EXPECT_EQ(T().PathOf(View()->currentItem()), W("gamma"));
    CThumbnailView* grid = Frame()->ThumbnailView();
    EXPECT_EQ(grid->Tiles()[0]->Path(), W("gamma/one.png"));
    // ... and the grid watches it under its new name.
    ASSERT_TRUE(WaitFor([&] { return grid->IsWatching(); }));
    WritePicture(W("gamma/two.png"), 10, 10);
    ASSERT_TRUE(WaitFor([&] { return grid->Tiles().size() == 2; }));

    // Removed: the folder that held it is shown.
    ASSERT_TRUE(QDir(W("gamma")).removeRecursively());
    ASSERT_TRUE(WaitFor([&] { return Folder() == W(); }));
    EXPECT_EQ(T().PathOf(View()->currentItem()), W());
    EXPECT_TRUE(grid->Tiles().empty());
}

TEST_F(LiveTree, AFavouriteFollowsItsFolder) {
    QTreeWidgetItem* fav = T().FavouritesItem()->child(0);
    ASSERT_TRUE(fav);
    ASSERT_EQ(T().PathOf(fav), Fav());
    // The folder shown lies inside the favourite.
    ASSERT_EQ(Children(fav), QStringList{"sub"});
    T().SelectNotify(fav->child(0));
    ASSERT_EQ(Folder(), Fav("sub"));
    ASSERT_TRUE(WaitFor([&] { return View()->FolderWatch().IsWatching(m_home.filePath("fav")); }));

    // Renamed: the favourite takes the new path, and it is written at once.
    const QString renamed = m_home.filePath("fav/Photos");
    ASSERT_TRUE(QFile::rename(Fav(), renamed));
    ASSERT_TRUE(WaitFor([&] { return T().PathOf(fav) == renamed; }));
    EXPECT_EQ(fav->text(0), renamed);
    EXPECT_EQ(Folder(), renamed + "/sub");
    EXPECT_TRUE(
        WaitFor([&] { return m_settings.ReadRaw().contains(("Favorites1=" + renamed).toUtf8()); }));

    // Removed: listed as missing, the selection inside it on the favourite, the grid empty.
    ASSERT_TRUE(QDir(renamed).removeRecursively());
    ASSERT_TRUE(WaitFor([&] { return CDirTree::IsMissing(fav); }));
    EXPECT_EQ(View()->currentItem(), fav);
    EXPECT_TRUE(Frame()->ThumbnailView()->Tiles().empty());
    // Back again: read again.
    ASSERT_TRUE(QDir().mkpath(renamed + "/again"));
    ASSERT_TRUE(WaitFor([&] { return !CDirTree::IsMissing(fav); }));
    EXPECT_EQ(Children(fav), QStringList{"again"});
}

TEST_F(LiveTree, RefreshWorksInTheTreeAndVolumesFollowTheMountTable) {
    // Nothing can be watched: the refresh command (and coming back to the front) reads again.
    CFolderWatch::SetLimitForTests(0);
    View()->FolderWatch().UnwatchAll();
    QTreeWidgetItem* work = T().Locate(W());
    work->setExpanded(true);
    View()->UpdateWatches();
    EXPECT_TRUE(View()->UnwatchedFolders().contains(W()));
    View()->setFocus();
    Frame()->SetActiveView(View());
    CCmdUI ui(ID_VIEW_REFRESH);
    Frame()->Router().Update(ui);
    EXPECT_TRUE(ui.m_bEnabled);

    ASSERT_TRUE(QDir().mkdir(W("Added")));
    Select(W("beta"));
    WritePicture(W("beta/new.png"), 10, 10);
    QTest::qWait(300);
    EXPECT_FALSE(Children(work).contains("Added"));
    ASSERT_TRUE(Frame()->Router().Execute(ID_VIEW_REFRESH));
    EXPECT_TRUE(Children(work).contains("Added"));
    EXPECT_EQ(TileNames(Frame()->ThumbnailView()), (QStringList{"new.png", "one.png"}));
    ASSERT_TRUE(QDir(W("Added")).removeRecursively());
    View()->OnActivated();
    EXPECT_FALSE(Children(work).contains("Added"));
    CFolderWatch::SetLimitForTests(-1);

    // Volumes: a mount appears under My Computer, an unmount takes it away.
    QTemporaryDir table;
    const QString mounts = table.filePath("mounts");
    const auto writeTable = [&](const QByteArray& text) {
        QFile f(mounts);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    };
    writeTable("/dev/root / ext4 rw 0 0\n");
    Volumes::SetMountTable(QFile::encodeName(mounts));
    T().SyncVolumes();
    EXPECT_EQ(Children(T().MyComputerItem()), QStringList{"/"});
    writeTable(("/dev/root / ext4 rw 0 0\n/dev/sdb1 " + m_home.filePath("fav") + " vfat rw 0 0\n")
                   .toUtf8());
    T().SyncVolumes();
    EXPECT_EQ(Children(T().MyComputerItem()), (QStringList{"/", m_home.filePath("fav")}));
    Select(m_home.filePath("fav/Pics"));
    ASSERT_EQ(Folder(), m_home.filePath("fav/Pics"));
    writeTable("/dev/root / ext4 rw 0 0\n");
    T().SyncVolumes();
    EXPECT_EQ(Children(T().MyComputerItem()), QStringList{"/"});
    // The folder shown was on it: nothing is shown.
    EXPECT_EQ(View()->currentItem(), T().MyComputerItem());
    EXPECT_TRUE(Folder().isEmpty());
}

// ---- sizes and dates after the first screen ----------------------------------------------------

namespace {

void Append(const QString& path, int bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write(QByteArray(bytes, 'x'));
}

// b, d, f and h in name order; by size d, h, f, b; by date f, h, d, b.
class LaterSizes : public LiveGrid {
protected:
    void PrepareFolder() override {
        LiveGrid::PrepareFolder();
        Append(P("b.png"), 300);
        Append(P("f.png"), 200);
        Append(P("h.png"), 100);
        SetTime(P("b.png"), 1600004000);
        SetTime(P("d.png"), 1600003000);
        SetTime(P("f.png"), 1600001000);
        SetTime(P("h.png"), 1600002000);
    }
    // Lists the folder with the lookup of sizes and dates held back.
    void ListHeld() {
        View()->FileStats().Hold(true);
        View()->FillList();
    }
    void Release() {
        View()->FileStats().Hold(false);
        ASSERT_TRUE(WaitFor([&] { return !View()->SizesPending(); }));
    }
    void TearDown() override {
        View()->FileStats().Hold(false);
        LiveGrid::TearDown();
    }
};

} // namespace

TEST_F(LaterSizes, SizesAndDatesComeAfterTheFirstScreenAndLeaveOrderSelectionAndFocus) {
    CThumbnailView* v = View();
    const DirList::Counters before = DirList::Count();
    ListHeld();
    // The first screen: names only, not one file looked at.
    EXPECT_EQ(DirList::Count().stats, before.stats);
    ASSERT_TRUE(v->SizesPending());
    ASSERT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
    for (const auto& t : v->Tiles())
        EXPECT_TRUE(t->StatPending());
    v->SelectAt(2, false, false);
    v->SelectAt(3, true, false);
    ASSERT_EQ(FocusName(), "h.png");
    Release();
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
    EXPECT_EQ(Selected(), (QStringList{"f.png", "h.png"}));
    EXPECT_EQ(FocusName(), "h.png");
    for (const auto& t : v->Tiles()) {
        const QFileInfo info(t->Path());
        EXPECT_FALSE(t->StatPending());
        EXPECT_EQ(t->m_nSize, uint32_t(info.size())) << t->m_strName.toStdString();
        EXPECT_EQ(t->m_time, info.lastModified().toSecsSinceEpoch()) << t->m_strName.toStdString();
    }
    EXPECT_EQ(Tile("b.png")->m_time, 1600004000);
}

TEST_F(LaterSizes, SortingBySizeOrDateWhileTheyAreComingWaitsForThem) {
    CThumbnailView* v = View();
    ListHeld();
    ASSERT_TRUE(v->SendCommand(ID_SORT_SIZE));
    EXPECT_EQ(v->SortMode(), 2);
    // Not sorted on half the sizes: the order stays until every one is in.
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
    Release();
    EXPECT_EQ(TileNames(v), (QStringList{"d.png", "h.png", "f.png", "b.png"}));
    // Known now: the next order applies at once.
    ASSERT_TRUE(v->SendCommand(ID_SORT_DATE));
    EXPECT_EQ(TileNames(v), (QStringList{"f.png", "h.png", "d.png", "b.png"}));
    ASSERT_TRUE(v->SendCommand(ID_SORT_ASCEND));
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "h.png", "f.png"}));
    ASSERT_TRUE(v->SendCommand(ID_SORT_ASCEND));
    // A listing sorted by date shows its names at once, in name order, and takes the date order
    // once the dates are in.
    ListHeld();
    EXPECT_TRUE(v->SizesPending());
    EXPECT_TRUE(v->OrderPending());
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
    Release();
    EXPECT_FALSE(v->OrderPending());
    EXPECT_EQ(TileNames(v), (QStringList{"f.png", "h.png", "d.png", "b.png"}));
    // Back to names, then by date and back to names while the dates come: names it stays.
    ASSERT_TRUE(v->SendCommand(ID_SORT_NAME));
    ListHeld();
    ASSERT_TRUE(v->SizesPending());
    ASSERT_TRUE(v->SendCommand(ID_SORT_DATE));
    ASSERT_TRUE(v->SendCommand(ID_SORT_NAME));
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
    Release();
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
    // The extension order needs no sizes either.
    ASSERT_TRUE(v->SendCommand(ID_SORT_EXT));
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "d.png", "f.png", "h.png"}));
}

TEST_F(LaterSizes, FilesRemovedOrReplacedBeforeTheirLookUpLeaveTheGrid) {
    CThumbnailView* v = View();
    // Unwatched, so that only the lookup can tell.
    CFolderWatch::SetLimitForTests(0);
    v->FolderWatch().UnwatchAll();
    ListHeld();
    ASSERT_FALSE(v->IsWatching());
    v->SelectAt(3, false, false);
    ASSERT_EQ(FocusName(), "h.png");
    ASSERT_TRUE(QFile::remove(P("d.png")));
    ASSERT_TRUE(QFile::remove(P("f.png")));
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("f.png"));
    Release();
    EXPECT_EQ(TileNames(v), (QStringList{"b.png", "h.png"}));
    EXPECT_EQ(FocusName(), "h.png");
    EXPECT_EQ(Selected(), QStringList{"h.png"});
    EXPECT_EQ(Tile("h.png")->m_time, 1600002000);
}

TEST_F(LaterSizes, ChangesSeenBeforeTheLookUpAreKept) {
    CThumbnailView* v = View();
    ListHeld();
    ASSERT_TRUE(v->IsWatching());
    // Renamed and rewritten by another program before the lookup ran: the lookup of the old name
    // finds nothing, and the tile under its new name stays.
    ASSERT_TRUE(QFile::rename(P("f.png"), P("a.png")));
    Append(P("d.png"), 50);
    SetTime(P("d.png"), 1700000000);
    ASSERT_TRUE(WaitFor(
        [&] { return v->FindTileByName("a.png") == 0 && Tile("d.png")->m_time == 1700000000; }));
    EXPECT_FALSE(Tile("a.png")->StatPending());
    EXPECT_TRUE(v->SizesPending());
    Release();
    EXPECT_EQ(TileNames(v), (QStringList{"a.png", "b.png", "d.png", "h.png"}));
    EXPECT_EQ(Tile("a.png")->m_nSize, uint32_t(QFileInfo(P("a.png")).size()));
    EXPECT_EQ(Tile("d.png")->m_nSize, uint32_t(QFileInfo(P("d.png")).size()));
    EXPECT_EQ(Tile("d.png")->m_time, 1700000000);
    // Every picture is made, the renamed one's from its new path.
    ASSERT_TRUE(WaitForPictures(v));
    for (const auto& t : v->Tiles())
        EXPECT_TRUE(t->HasPicture()) << t->m_strName.toStdString();
}
