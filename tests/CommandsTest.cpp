// The file commands of the thumbnail grid on real files: each command of the menus and keys, the
// anchor the grid scrolls back to, the clipboard both ways, drops, and the shared thumbnail cache
// following renames and deletions.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "platform/Clipboard.h"
#include "platform/FileNames.h"
#include "platform/Shell.h"
#include "platform/Trash.h"
#include "platform/Wallpaper.h"
#include "res/resource.h"
#include "thumbs/FileInfoDlg.h"
#include "thumbs/ThumbnailCache.h"
#include "thumbs/ThumbnailView.h"
#include "tree/Dialogs.h"
#include "tree/DirView.h"

#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QScrollBar>
#include <QTest>

namespace {

class Commands : public AppTest {
protected:
    void Prepare() override {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        ThumbnailCache::SetBaseDir(m_cache.path());
        m_settings.WriteRaw("[System]\nInitMode=0\n");
        for (int i = 0; i < Count(); ++i)
            Image(QStringLiteral("p%1.png").arg(i, 2, 10, QLatin1Char('0')));
    }
    void TearDown() override {
        CFolderPicker::s_answer = nullptr;
        CRenameDlg::s_answer = nullptr;
        CFileInfoDlg::s_answer = nullptr;
        Wallpaper::SetRunner({});
        Shell::SetPropertiesHook({});
        AppTest::TearDown();
        ThumbnailCache::SetBaseDir(QString());
        QDir::setCurrent(m_oldDir);
    }
    virtual int Count() const { return 6; }
    QString P(const QString& name) const { return QDir(m_dir.path()).filePath(name); }
    void Image(const QString& name, int w = 300, int h = 200) {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(Qt::darkGreen);
        ASSERT_TRUE(img.save(P(name)));
    }
    CThumbnailView* View() const { return Frame()->ThumbnailView(); }
    bool Run(unsigned id) {
        Frame()->SetActiveView(View());
        return Frame()->Router().Execute(id);
    }
    void Select(std::initializer_list<int> indices) {
        View()->SelectAt(int(View()->Tiles().size()), false, false); // nothing selected
        for (int i : indices)
            View()->SelectAt(i, true, false);
    }
    QStringList Names() const {
        QStringList out;
        for (const auto& t : View()->Tiles())
            out << t->m_strName;
        return out;
    }
    bool Enabled(unsigned id) {
        CCmdUI ui(id);
        Frame()->SetActiveView(View());
        Frame()->Router().Update(ui);
        return ui.m_bEnabled;
    }

    QTemporaryDir m_dir, m_cache, m_other;
    QString m_oldDir;
};

TEST_F(Commands, DeleteCopyToAndMoveToActOnTheSelection) {
    // Nothing selected: the commands say so and do nothing.
    Select({});
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    ASSERT_FALSE(m_boxes.empty());
    EXPECT_EQ(m_boxes.back().text, QStringLiteral("ファイルを選択してください"));
    m_boxes.clear();
    ASSERT_TRUE(Run(ID_FILE_COPYTO));
    EXPECT_EQ(m_boxes.back().text, QStringLiteral("ファイルを選択してください"));

    // Copy to another folder, starting the picker at the current directory.
    QString title;
    bool atCurrent = false;
    CFolderPicker::s_answer = [&](CFolderPicker& p) {
        title = p.m_strTitle;
        atCurrent = p.m_bStartAtCurrentDir;
        p.m_strPath = m_other.path();
        return 1;
    };
    Select({1, 2});
    ASSERT_TRUE(Run(ID_FILE_COPYTO));
    EXPECT_EQ(title, QStringLiteral("コピー先を指定してください"));
    EXPECT_TRUE(atCurrent);
    EXPECT_TRUE(QFile::exists(QDir(m_other.path()).filePath("p01.png")));
    EXPECT_TRUE(QFile::exists(P("p01.png")));
    // Copied into the folder shown: copies under new names, which the refresh lists.
    CFolderPicker::s_answer = [&](CFolderPicker& p) {
        p.m_strPath = m_dir.path();
        return 1;
    };
    Select({0});
    ASSERT_TRUE(Run(ID_FILE_COPYTO));
    EXPECT_TRUE(Names().contains(QStringLiteral("p00 - コピー.png")))
        << Names().join(',').toStdString();
    // Move to: gone from here, there in the other folder.
    CFolderPicker::s_answer = [&](CFolderPicker& p) {
        title = p.m_strTitle;
        p.m_strPath = m_other.path();
        return 1;
    };
    const int before = int(View()->Tiles().size());
    Select({int(Names().indexOf("p05.png"))});
    ASSERT_TRUE(Run(ID_FILE_MOVETO));
    EXPECT_EQ(title, QStringLiteral("移動先を指定してください"));
    EXPECT_FALSE(Names().contains("p05.png"));
    EXPECT_EQ(int(View()->Tiles().size()), before - 1);
    EXPECT_TRUE(QFile::exists(QDir(m_other.path()).filePath("p05.png")));
    // Delete: after the question, into the Trash.
    m_boxAnswer = IDYES;
    Select({int(Names().indexOf("p04.png"))});
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    EXPECT_FALSE(QFile::exists(P("p04.png")));
    EXPECT_TRUE(QFile::exists(Trash::HomeTrash() + "/files/p04.png"));
    EXPECT_FALSE(Names().contains("p04.png"));
}

class ManyRows : public Commands {
    int Count() const override { return 30; }
};

TEST_F(ManyRows, TheGridScrollsBackToTheAnchorAfterACommand) {
    View()->resize(View()->CellSize().width() * 5 + 40, View()->CellSize().height() * 2 + 20);
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    View()->UpdateScrollLayout();
    ASSERT_EQ(View()->Columns(), 5);
    QScrollBar* vs = View()->verticalScrollBar();
    ASSERT_GT(vs->maximum(), 0);
    const int h = View()->CellSize().height();
    m_boxAnswer = IDYES;
    // Only the first entry selected: no anchor, the view stays at the top.
    Select({0});
    EXPECT_EQ(View()->RememberAnchor(), QString());
    vs->setValue(h * 2);
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    EXPECT_EQ(vs->value(), 0);
    // Entries in the middle: the one after the last selected.
    Select({11, 12}); // p12 and p13 now
    EXPECT_EQ(View()->RememberAnchor(), P("p14.png"));
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    const int at = int(Names().indexOf("p14.png"));
    EXPECT_EQ(vs->value(), std::min(vs->maximum(), (at / 5) * h));
    // The last entries of the listing: the nearest entry before them that is not selected.
    const int n = int(View()->Tiles().size());
    Select({n - 2, n - 1});
    EXPECT_EQ(View()->RememberAnchor(), View()->Tiles()[size_t(n) - 3]->Path());
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    EXPECT_EQ(vs->value(), vs->maximum()); // clamped: the anchor is in the last rows
    // Every entry up to the last selected: the first entry is the anchor.
    Select({0, 1, 2});
    View()->SelectAt(int(View()->Tiles().size()) - 1, true, false);
    for (int i = 3; i < int(View()->Tiles().size()) - 1; ++i)
        View()->SelectAt(i, true, false);
    EXPECT_EQ(View()->RememberAnchor(), View()->Tiles()[0]->Path());
}

TEST_F(Commands, RenameKeepsThePictureAndCarriesTheCacheEntryAlong) {
    Image("big.png", 1000, 800);
    ASSERT_TRUE(Run(ID_VIEW_REFRESH));
    ASSERT_TRUE(WaitForPictures(View()));
    const int i = int(Names().indexOf("big.png"));
    const IKHANDLE picture = View()->Tiles()[size_t(i)]->m_wndImage.m_image.GetHandle();
    ASSERT_NE(picture, 0u);
    const QString entry = ThumbnailCache::EntryPath(P("big.png"), 128);
    ASSERT_TRUE(QFile::exists(entry));
    CRenameDlg::s_answer = [](CRenameDlg& d) {
        EXPECT_EQ(d.m_strBefore, QStringLiteral("big.png"));
        EXPECT_EQ(d.m_strName, QStringLiteral("big"));
        EXPECT_EQ(d.m_strExt, QStringLiteral(".png"));
        d.m_strName = QStringLiteral("大きい");
        d.m_strExt = QStringLiteral("png"); // the dot is added
        return int(QDialog::Accepted);
    };
    View()->SelectAt(i, false, false);
    ASSERT_TRUE(Run(ID_FILE_RENAME));
    const CImageTile& tile = *View()->Tiles()[size_t(i)];
    EXPECT_EQ(tile.m_strName, QStringLiteral("大きい.png"));
    EXPECT_EQ(tile.Path(), P("大きい.png"));
    EXPECT_EQ(tile.m_wndImage.m_image.GetHandle(), picture);
    EXPECT_TRUE(QFile::exists(P("大きい.png")));
    // The cache entry moved with the file; after a delete it is gone too.
    EXPECT_FALSE(QFile::exists(entry));
    const QString moved = ThumbnailCache::EntryPath(P("大きい.png"), 128);
    EXPECT_TRUE(QFile::exists(moved));
    m_boxAnswer = IDYES;
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    EXPECT_FALSE(QFile::exists(moved));
}

TEST_F(Commands, NamesAndPathsAsTextFollowTheLineBreakRules) {
    Select({2});
    ASSERT_TRUE(Run(ID_COPY_FILENAME));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("p02.png"));
    ASSERT_TRUE(Run(ID_COPY_FULLPATH));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), P("p02.png"));
    Select({2, 4});
    ASSERT_TRUE(Run(ID_COPY_FULLPATH));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), P("p02.png") + "\r\n" + P("p04.png") + "\r\n");
    // Nothing selected: the clipboard keeps what it held.
    Select({});
    ASSERT_TRUE(Run(ID_COPY_FILENAME));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), P("p02.png") + "\r\n" + P("p04.png") + "\r\n");
}

TEST_F(Commands, CutCopyAndPasteThroughTheClipboard) {
    QGuiApplication::clipboard()->clear();
    Select({});
    EXPECT_FALSE(Enabled(ID_EDIT_CUT));
    EXPECT_FALSE(Enabled(ID_EDIT_COPY));
    EXPECT_FALSE(Enabled(ID_EDIT_PASTE));
    // Copy: the file managers' formats, marked for copying.
    Select({0, 1});
    EXPECT_TRUE(Enabled(ID_EDIT_COPY));
    ASSERT_TRUE(Run(ID_EDIT_COPY));
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_TRUE(data->data("x-special/gnome-copied-files").startsWith("copy\n"));
    EXPECT_EQ(data->urls().size(), 2);
    EXPECT_TRUE(Enabled(ID_EDIT_PASTE));
    // Pasted into another folder: copied there.
    Frame()->SetFolder(m_other.path());
    Frame()->UpdateAllViews(Frame()->DirView());
    ASSERT_TRUE(Run(ID_EDIT_PASTE));
    EXPECT_EQ(Names(), (QStringList{"p00.png", "p01.png"}));
    EXPECT_TRUE(QFile::exists(P("p00.png")));
    // Cut there and pasted back: moved (the names are taken here: they get new ones).
    Select({0});
    ASSERT_TRUE(Run(ID_EDIT_CUT));
    EXPECT_TRUE(QGuiApplication::clipboard()
                    ->mimeData()
                    ->data("x-special/gnome-copied-files")
                    .startsWith("cut\n"));
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("application/x-kde-cutselection"),
              QByteArray("1"));
    Frame()->SetFolder(m_dir.path());
    Frame()->UpdateAllViews(Frame()->DirView());
    ASSERT_TRUE(Run(ID_EDIT_PASTE));
    EXPECT_FALSE(QFile::exists(QDir(m_other.path()).filePath("p00.png")));
    EXPECT_TRUE(Names().contains(QStringLiteral("p00 - コピー.png")));
    // Cut files are pasted once: the clipboard no longer offers them.
    EXPECT_FALSE(Enabled(ID_EDIT_PASTE));
    // Files a file manager copied (no marker) are copied.
    auto* offered = new QMimeData;
    offered->setUrls({QUrl::fromLocalFile(QDir(m_other.path()).filePath("p01.png"))});
    QGuiApplication::clipboard()->setMimeData(offered);
    ASSERT_TRUE(Run(ID_EDIT_PASTE));
    EXPECT_TRUE(QFile::exists(QDir(m_other.path()).filePath("p01.png")));
    EXPECT_TRUE(Names().contains(QStringLiteral("p01 - コピー.png")));
}

TEST_F(Commands, ADropAlwaysCopies) {
    QImage img(20, 20, QImage::Format_RGB32);
    img.fill(Qt::red);
    const QString outside = QDir(m_other.path()).filePath("dropped.png");
    ASSERT_TRUE(img.save(outside));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(outside)});
    const QPoint at(10, 10);
    // The source offers both and would rather move (Shift held): the grid copies.
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                          Qt::ShiftModifier);
    QCoreApplication::sendEvent(View()->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_EQ(enter.dropAction(), Qt::CopyAction);
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                    Qt::ShiftModifier);
    QCoreApplication::sendEvent(View()->viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_TRUE(QFile::exists(outside)); // the source stays
    EXPECT_TRUE(Names().contains("dropped.png"));
    // Text that names no file is no drop.
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    QDragEnterEvent other(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(View()->viewport(), &other);
    EXPECT_FALSE(other.isAccepted());
}

TEST_F(Commands, PropertiesInformationAndWallpaperActOnTheFocusEntry) {
    View()->SelectAt(3, false, false);
    QStringList shown;
    Shell::SetPropertiesHook([&](const QString& p) { shown << p; });
    ASSERT_TRUE(Run(ID_FILE_PROPERTIES));
    EXPECT_EQ(shown, QStringList{P("p03.png")});

    QString name, type;
    unsigned width = 0;
    CFileInfoDlg::s_answer = [&](CFileInfoDlg& d) {
        name = d.m_strFileName;
        type = d.m_strFileType;
        width = d.m_nWidth;
        return int(QDialog::Accepted);
    };
    ASSERT_TRUE(Run(ID_IMAGE_INFO));
    EXPECT_EQ(name, QStringLiteral("p03.png"));
    EXPECT_EQ(type, QStringLiteral("PNG"));
    EXPECT_EQ(width, 300u);

    QStringList commands;
    Wallpaper::SetRunner([&](const QString& program, const QStringList& args, QByteArray*) {
        commands << program + ' ' + args.join(' ');
        return 0;
    });
    qputenv("XDG_CURRENT_DESKTOP", "GNOME");
    m_boxAnswer = IDOK;
    // Forwarded from the tree, it acts on the grid's entry.
    Frame()->SetActiveView(Frame()->DirView());
    ASSERT_TRUE(Frame()->Router().Execute(ID_WALLPAPER));
    qunsetenv("XDG_CURRENT_DESKTOP");
    ASSERT_FALSE(m_boxes.empty());
    EXPECT_EQ(m_boxes[0].text, QStringLiteral("壁紙にしますか？"));
    ASSERT_FALSE(commands.isEmpty());
    EXPECT_TRUE(commands[0].contains("org.gnome.desktop.background")) << commands[0].toStdString();
    EXPECT_TRUE(commands[0].contains("Norvo%20Quilla%20")) << commands[0].toStdString();
}

TEST_F(Commands, FilesAnotherProgramCutArePastedOnceWithTheKeys) {
    // A file manager cut two files of another folder.
    for (const char* name : {"cut1.png", "cut2.png"}) {
        QImage img(10, 10, QImage::Format_RGB32);
        img.fill(Qt::blue);
        ASSERT_TRUE(img.save(QDir(m_other.path()).filePath(name)));
    }
    auto* cut = new QMimeData;
    cut->setData(
        "x-special/gnome-copied-files",
        "cut\n" + QUrl::fromLocalFile(QDir(m_other.path()).filePath("cut1.png")).toEncoded() +
            "\n" + QUrl::fromLocalFile(QDir(m_other.path()).filePath("cut2.png")).toEncoded());
    QGuiApplication::clipboard()->setMimeData(cut);
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    View()->setFocus();
    QTest::keyClick(View(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(QFile::exists(P("cut1.png")));
    EXPECT_TRUE(QFile::exists(P("cut2.png")));
    EXPECT_FALSE(QFile::exists(QDir(m_other.path()).filePath("cut1.png")));
    EXPECT_TRUE(Names().contains("cut1.png"));
    // The clipboard was cleared: a second Ctrl+V does nothing and reports nothing.
    EXPECT_FALSE(Clipboard::OffersFiles());
    m_boxes.clear();
    QTest::keyClick(View(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(Names().count("cut1.png"), 1);

    // A copied list stays for another paste.
    Clipboard::PutFiles({P("cut1.png")}, Clipboard::DROPEFFECT_COPY);
    QTest::keyClick(View(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(Names().contains(QStringLiteral("cut1 - コピー.png")));
    EXPECT_TRUE(Clipboard::OffersFiles());
}

TEST_F(Commands, ControlASelectsEveryTileFromEitherPane) {
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    // The Edit menu carries the command with its key.
    QStringList edit;
    for (QAction* a : Frame()->menuBar()->actions())
        if (a->text() == QStringLiteral("編集(&E)"))
            for (QAction* item : a->menu()->actions())
                edit << item->text();
    EXPECT_TRUE(edit.contains(QStringLiteral("すべて選択(&A)\tCtrl+A")))
        << edit.join('|').toStdString();
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      View()->GetCellRect(2).center());
    ASSERT_EQ(View()->SelectedPaths(), QStringList{P("p02.png")});
    QTest::keyClick(View(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(View()->SelectedPaths().size(), Count());
    EXPECT_EQ(View()->GetFocusIndex(), 2); // the focus stays
    // A click selects one again; Ctrl+A in the tree selects the grid's tiles too.
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier,
                      View()->GetCellRect(0).center());
    ASSERT_EQ(View()->SelectedPaths().size(), 1);
    Frame()->DirView()->setFocus();
    QTest::keyClick(Frame()->DirView(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(View()->SelectedPaths().size(), Count());
    // An empty folder: nothing to select, the command is disabled.
    Frame()->SetFolder(m_other.path());
    Frame()->UpdateAllViews(Frame()->DirView());
    EXPECT_FALSE(Enabled(ID_EDIT_SELECT_ALL));
}

} // namespace
