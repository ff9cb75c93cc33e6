// The folder tree on real folder trees: lazy filling, paths, locating, start folders, favourites
// and the folder commands.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "platform/FileNames.h"
#include "platform/Settings.h"
#include "platform/Volumes.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"
#include "tree/Dialogs.h"
#include "tree/DirView.h"

#include <QApplication>
#include <QBuffer>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Tree : public AppTest {
protected:
    void Prepare() override {
        m_oldHome = qgetenv("HOME");
        m_oldDir = QDir::currentPath();
        qputenv("HOME", m_home.path().toUtf8());
        QDir home(m_home.path());
        home.mkpath("Desktop/desk-a/inner");
        home.mkpath("Documents/docs-a");
        home.mkpath("work/Alpha/deep/deeper");
        home.mkpath("work/beta");
        home.mkpath("work/Gamma");
        Picture("work/Alpha/one.png");
        Picture("work/Alpha/two.png");
        Picture("work/beta/three.png");
        QDir::setCurrent(W());
        PrepareMore();
    }
    void TearDown() override {
        AppTest::TearDown();
        CInputDlg::s_answer = nullptr;
        CDriveDlg::s_answer = nullptr;
        CFolderPicker::s_answer = nullptr;
        QDir::setCurrent(m_oldDir);
        qputenv("HOME", m_oldHome);
    }
    virtual void PrepareMore() {}
    QString W(const QString& rel = QString()) const {
        return rel.isEmpty() ? QDir(m_home.path()).filePath("work")
                             : QDir(m_home.path()).filePath("work/" + rel);
    }
    void Picture(const QString& rel) {
        QImage img(20, 10, QImage::Format_RGB32);
        img.fill(Qt::green);
        ASSERT_TRUE(img.save(QDir(m_home.path()).filePath(rel)));
    }
    CDirView* View() const { return Frame()->DirView(); }
    CDirTree& T() const { return View()->Tree(); }
    CThumbnailView* Grid() const { return Frame()->ThumbnailView(); }
    CQuillaDoc* Doc() const { return Frame()->GetActiveDocument(); }
    QStringList Children(QTreeWidgetItem* item) const {
        QStringList out;
        for (int i = 0; item && i < item->childCount(); ++i)
            out << item->child(i)->text(0);
        return out;
    }
    QStringList GridNames() const {
        QStringList out;
        for (const auto& t : Grid()->Tiles())
            out << t->m_strName;
        return out;
    }
    // Selects the folder as a user would after opening its parents: acted on at once.
    void Select(const QString& path) {
        T().SelectPath(path);
        QTreeWidgetItem* item = View()->currentItem();
        ASSERT_EQ(T().PathOf(item), path);
        T().SelectNotify(item);
    }
    bool Run(unsigned id) { return View()->SendCommand(id); }

    QTemporaryDir m_home;
    QByteArray m_oldHome;
    QString m_oldDir;
};

class StartInCurrent : public Tree {
    void PrepareMore() override { m_settings.WriteRaw("[System]\nInitMode=0\n"); }
};

} // namespace

TEST_F(Tree, RootsAndDefaultStartAtTheFavourites) {
    ASSERT_GE(View()->topLevelItemCount(), 2);
    EXPECT_EQ(View()->topLevelItem(0)->text(0), QStringLiteral("お気に入り"));
    EXPECT_EQ(View()->topLevelItem(1)->text(0), QStringLiteral("デスクトップ"));
    const QStringList desk = Children(T().DesktopItem());
    ASSERT_GE(desk.size(), 3);
    EXPECT_EQ(desk[0], QStringLiteral("マイ ドキュメント"));
    EXPECT_EQ(desk[1], QStringLiteral("マイ コンピュータ"));
    EXPECT_TRUE(desk.contains("desk-a"));
    EXPECT_TRUE(Children(T().MyComputerItem()).contains("/"));
    EXPECT_EQ(Children(T().MyDocumentsItem()), QStringList{"docs-a"});
    // "InitMode" 3: the favourites root is selected and the grid starts empty.
    EXPECT_EQ(View()->currentItem(), T().FavouritesItem());
    EXPECT_TRUE(Doc()->Folder().isEmpty());
    EXPECT_TRUE(Grid()->Tiles().empty());
}

TEST_F(StartInCurrent, PathsLazyFillingAndLocate) {
    QTreeWidgetItem* work = T().Locate(W());
    ASSERT_NE(work, nullptr);
    EXPECT_EQ(View()->currentItem(), work);
    EXPECT_EQ(Doc()->Folder(), W());
    // Its own folders are read when it is opened: sorted ignoring case, each child knowing
    // only whether it has subfolders.
    EXPECT_EQ(Children(work), QStringList{"*Dummy*"});
    work->setExpanded(true);
    work = T().Locate(W());
    EXPECT_EQ(Children(work), (QStringList{"Alpha", "beta", "Gamma"}));
    QTreeWidgetItem* alpha = work->child(0);
    ASSERT_EQ(alpha->childCount(), 1); // look-ahead: an expand button, nothing read yet
    EXPECT_EQ(alpha->child(0)->text(0), QStringLiteral("*Dummy*"));
    alpha->setExpanded(true);
    alpha = T().Locate(W("Alpha"));
    ASSERT_EQ(Children(alpha), QStringList{"deep"});
    EXPECT_EQ(Children(alpha->child(0)), QStringList{"*Dummy*"});
    EXPECT_EQ(work->child(1)->childCount(), 0); // no subfolders, no expand button
    // Locate reads placeholders on the way.
    QTreeWidgetItem* deeper = T().Locate(W("Alpha/deep/deeper"));
    ASSERT_NE(deeper, nullptr);
    EXPECT_EQ(deeper->text(0), QStringLiteral("deeper"));
    EXPECT_EQ(T().Locate(W("missing")), nullptr);
    // Path of every kind of item.
    EXPECT_EQ(T().PathOf(deeper), W("Alpha/deep/deeper"));
    EXPECT_EQ(T().PathOf(T().FavouritesItem()), QString());
    EXPECT_EQ(T().PathOf(T().MyComputerItem()), QString());
    EXPECT_EQ(T().PathOf(T().DesktopItem()), QDir(m_home.path()).filePath("Desktop"));
    EXPECT_EQ(T().PathOf(T().MyDocumentsItem()), QDir(m_home.path()).filePath("Documents"));
    EXPECT_EQ(T().PathOf(T().MyDocumentsItem()->child(0)),
              QDir(m_home.path()).filePath("Documents/docs-a"));
    QTreeWidgetItem* desk = T().Locate(QDir(m_home.path()).filePath("Desktop/desk-a/inner"));
    ASSERT_NE(desk, nullptr);
    EXPECT_EQ(T().PathOf(desk), QDir(m_home.path()).filePath("Desktop/desk-a/inner"));
    EXPECT_EQ(T().PathOf(T().Locate("/")), QStringLiteral("/"));
    EXPECT_EQ(T().PathOf(nullptr), QString());
}

TEST_F(StartInCurrent, SelectionListsTheGridAndCollapseExpandReadsAgain) {
    Select(W("Alpha"));
    EXPECT_EQ(Doc()->Folder(), W("Alpha"));
    EXPECT_EQ(QDir::currentPath(), W("Alpha"));
    EXPECT_EQ(GridNames(), (QStringList{"one.png", "two.png"}));
    // Arrow keys move the selection and relist at every step.
    View()->setFocus();
    QTest::keyClick(View(), Qt::Key_Down); // the next visible folder
    EXPECT_NE(Doc()->Folder(), W("Alpha"));
    EXPECT_EQ(Doc()->Folder(), T().PathOf(View()->currentItem()));
    Select(W("beta"));
    EXPECT_EQ(GridNames(), QStringList{"three.png"});
    // A folder made meanwhile outside the program shows after closing and opening its parent.
    QTreeWidgetItem* work = T().Locate(W());
    QDir().mkpath(W("Delta"));
    work->setExpanded(false);
    work->setExpanded(true);
    EXPECT_TRUE(Children(T().Locate(W())).contains("Delta"));
    // Closing the parent of the selection moved the selection to it, and the listing followed.
    EXPECT_EQ(Doc()->Folder(), W());
    // My Computer empties the grid and leaves the current directory.
    View()->setCurrentItem(T().MyComputerItem());
    EXPECT_TRUE(Doc()->Folder().isEmpty());
    EXPECT_TRUE(Grid()->Tiles().empty());
    EXPECT_EQ(QDir::currentPath(), W());
}

TEST_F(StartInCurrent, UpOneFolderAndAtAVolumeRoot) {
    Select(W("Alpha"));
    ASSERT_TRUE(Run(ID_FOLDER_UP));
    EXPECT_EQ(T().PathOf(View()->currentItem()), W());
    EXPECT_EQ(Doc()->Folder(), W());
    EXPECT_EQ(QDir::currentPath(), W());
    // From a volume's root the drive selection opens instead.
    int asked = 0;
    CDriveDlg::s_answer = [&](CDriveDlg& dlg) {
        ++asked;
        EXPECT_TRUE(dlg.m_roots.contains("/"));
        return int(QDialog::Rejected);
    };
    Select("/");
    ASSERT_TRUE(Run(ID_FOLDER_UP));
    EXPECT_EQ(asked, 1);
    // The grid forwards it to the tree too.
    Frame()->SetActiveView(Grid());
    ASSERT_TRUE(Frame()->Router().Execute(ID_FOLDER_UP));
    EXPECT_EQ(asked, 2);
}

TEST_F(StartInCurrent, DriveChangeSelectsTheVolumeAndTheGridFollows) {
    CDriveDlg::s_answer = [](CDriveDlg& dlg) {
        EXPECT_GE(dlg.m_nSelected, 0); // the current volume is preselected
        dlg.m_nDrive = int(dlg.m_roots.indexOf("/")) + 1;
        return int(QDialog::Accepted);
    };
    ASSERT_TRUE(Run(ID_DRIVE_CHANGE));
    EXPECT_EQ(T().PathOf(View()->currentItem()), QStringLiteral("/"));
    EXPECT_EQ(Doc()->Folder(), QStringLiteral("/"));
    EXPECT_EQ(QDir::currentPath(), QStringLiteral("/"));
    // A network folder becomes a favourite and is selected; a second time adds nothing.
    CDriveDlg::s_answer = [this](CDriveDlg& dlg) {
        dlg.m_nDrive = -1;
        dlg.m_strNetwork = W("beta");
        return int(QDialog::Accepted);
    };
    ASSERT_TRUE(Run(ID_DRIVE_CHANGE));
    EXPECT_EQ(Children(T().FavouritesItem()), QStringList{W("beta")});
    EXPECT_EQ(Doc()->Folder(), W("beta"));
    ASSERT_TRUE(Run(ID_DRIVE_CHANGE));
    EXPECT_EQ(T().FavouritesItem()->childCount(), 1);
}

class StartInDir : public Tree {
    void PrepareMore() override {
        m_settings.WriteRaw(("[System]\nInitMode=1\nInitDir=" + W("beta") + "\n").toUtf8());
    }
};

TEST_F(StartInDir, TheGivenFolderIsShown) {
    EXPECT_EQ(T().PathOf(View()->currentItem()), W("beta"));
    EXPECT_EQ(Doc()->Folder(), W("beta"));
    EXPECT_EQ(GridNames(), QStringList{"three.png"});
}

class StartInMissingDir : public Tree {
    void PrepareMore() override {
        m_settings.WriteRaw(("[System]\nInitMode=1\nInitDir=" + W("gone") + "\n").toUtf8());
    }
};

TEST_F(StartInMissingDir, TheStartFolderIsSelectedInstead) {
    EXPECT_EQ(T().PathOf(View()->currentItem()), W());
    EXPECT_EQ(Doc()->Folder(), W());
}

class StartWithDrive : public Tree {
    void PrepareMore() override {
        m_settings.WriteRaw("[System]\nInitMode=2\n");
        CDriveDlg::s_answer = [](CDriveDlg& dlg) {
            dlg.m_nDrive = int(dlg.m_roots.indexOf("/")) + 1;
            return int(QDialog::Accepted);
        };
    }
};

TEST_F(StartWithDrive, TheChosenVolumeIsShown) {
    EXPECT_EQ(T().PathOf(View()->currentItem()), QStringLiteral("/"));
    EXPECT_EQ(Doc()->Folder(), QStringLiteral("/"));
}

class Favourites : public Tree {
    void PrepareMore() override {
        m_settings.WriteRaw(("[System]\nInitMode=0\n[DirTree]\nFavoritesCount=2\nFavorites1=" +
                             W("Alpha") + "\nFavorites2=" + W("beta") + "\nFavorites3=" + W("old") +
                             "\nFavorites4=" + W("Gamma") + "\n")
                                .toUtf8());
    }
};

TEST_F(Favourites, LoadAddMoveRemoveAndSave) {
    // Values beyond the count are not loaded.
    EXPECT_EQ(Children(T().FavouritesItem()), (QStringList{W("Alpha"), W("beta")}));
    EXPECT_EQ(T().PathOf(T().FavouritesItem()->child(0)), W("Alpha"));
    EXPECT_EQ(Children(T().FavouritesItem()->child(0)), QStringList{"deep"});

    // Enabling follows the selection.
    auto enabled = [&](unsigned id) {
        CCmdUI ui(id);
        Frame()->Router().Update(ui);
        return ui.m_bEnabled;
    };
    EXPECT_TRUE(enabled(ID_FAV_ADD_THIS));
    EXPECT_FALSE(enabled(ID_FAV_REMOVE));
    View()->setCurrentItem(T().FavouritesItem()->child(1));
    EXPECT_TRUE(enabled(ID_FAV_REMOVE));
    EXPECT_TRUE(enabled(ID_FAV_UP));
    EXPECT_FALSE(enabled(ID_FAV_ADD_THIS));

    // Moving: down on the last and up on the first do nothing.
    ASSERT_TRUE(Run(ID_FAV_DOWN));
    EXPECT_EQ(Children(T().FavouritesItem()), (QStringList{W("Alpha"), W("beta")}));
    ASSERT_TRUE(Run(ID_FAV_UP));
    EXPECT_EQ(Children(T().FavouritesItem()), (QStringList{W("beta"), W("Alpha")}));
    EXPECT_EQ(View()->currentItem()->text(0), W("beta"));
    ASSERT_TRUE(Run(ID_FAV_UP));
    EXPECT_EQ(Children(T().FavouritesItem()), (QStringList{W("beta"), W("Alpha")}));
    ASSERT_TRUE(Run(ID_FAV_DOWN));
    EXPECT_EQ(Children(T().FavouritesItem()), (QStringList{W("Alpha"), W("beta")}));
    EXPECT_EQ(Doc()->Folder(), W("beta")); // selected with notification

    // Adding this folder asks first; a duplicate differing only in case is refused.
    Select(W("Gamma"));
    m_boxAnswer = IDYES;
    ASSERT_TRUE(Run(ID_FAV_ADD_THIS));
    EXPECT_EQ(Children(T().FavouritesItem()).last(), W("Gamma"));
    EXPECT_EQ(View()->currentItem(), T().Locate(W("Gamma"))); // the selection stays
    const size_t boxes = m_boxes.size();
    CFolderPicker::s_answer = [this](CFolderPicker& p) {
        p.m_strPath = W("GAMMA");
        return 1;
    };
    ASSERT_TRUE(Run(ID_FAV_ADD));
    ASSERT_EQ(m_boxes.size(), boxes + 1);
    EXPECT_TRUE(m_boxes.back().text.startsWith(QStringLiteral("追加できませんでした")));
    EXPECT_EQ(T().FavouritesItem()->childCount(), 3);

    // Written in tree order when the tree goes; higher stale values stay in the file.
    App()->ExitMainFrame();
    EXPECT_EQ(Settings::Get(Settings::FavoritesCount), 3);
    const QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains(("Favorites3=" + W("Gamma")).toUtf8())) << raw.constData();
    EXPECT_TRUE(raw.contains(("Favorites4=" + W("Gamma")).toUtf8()));
    ASSERT_TRUE(App()->InitInstance());
    EXPECT_EQ(Children(T().FavouritesItem()), (QStringList{W("Alpha"), W("beta"), W("Gamma")}));
}

TEST_F(Favourites, EveryChangeIsWrittenAtOnceInOneStep) {
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    const auto inode = [&] {
        struct stat st {};
        return ::stat(QFile::encodeName(m_settings.FilePath()).constData(), &st) == 0 ? st.st_ino
                                                                                      : 0;
    };
    const ino_t before = inode();
    // "お気に入り - このﾌｫﾙﾀﾞを追加" from the tree's menu, chosen with the mouse.
    Select(W("Gamma"));
    m_boxAnswer = IDYES;
    QTimer::singleShot(100, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* a : menu->actions())
            if (a->text().startsWith(QStringLiteral("お気に入り - このﾌｫﾙﾀﾞを追加")))
                QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier,
                                  menu->actionGeometry(a).center());
    });
    const QPoint at =
        View()->viewport()->mapTo(Frame(), View()->visualItemRect(View()->currentItem()).center());
    QTest::mousePress(Frame()->windowHandle(), Qt::RightButton, Qt::NoModifier, at);
    QTest::mouseRelease(Frame()->windowHandle(), Qt::RightButton, Qt::NoModifier, at);
    Spin(50);
    ASSERT_EQ(T().FavouritesItem()->childCount(), 3);
    // Written without the window closing: what a kill now would leave. The file was replaced,
    // not written over, so a kill in the middle leaves the old one whole.
    QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains("FavoritesCount=3")) << raw.constData();
    EXPECT_TRUE(raw.contains(("Favorites3=" + W("Gamma")).toUtf8())) << raw.constData();
    EXPECT_NE(inode(), before);
    // Moved up and removed: written each time in the tree's order.
    View()->setCurrentItem(T().FavouritesItem()->child(2));
    ASSERT_TRUE(Run(ID_FAV_UP));
    raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains(("Favorites2=" + W("Gamma")).toUtf8())) << raw.constData();
    EXPECT_TRUE(raw.contains(("Favorites3=" + W("beta")).toUtf8())) << raw.constData();
    View()->setCurrentItem(T().FavouritesItem()->child(0));
    ASSERT_TRUE(Run(ID_FAV_REMOVE));
    raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains("FavoritesCount=2")) << raw.constData();
    EXPECT_TRUE(raw.contains(("Favorites1=" + W("Gamma")).toUtf8())) << raw.constData();
    // Read back by a program started anew without this one having closed.
    QSettings again(m_settings.FilePath(), QSettings::IniFormat);
    EXPECT_EQ(again.value("DirTree/FavoritesCount").toString(), "2");
    EXPECT_EQ(again.value("DirTree/Favorites2").toString(), W("beta"));
    EXPECT_EQ(QDir(QFileInfo(m_settings.FilePath()).path()).entryList(QDir::Files),
              QStringList{"Quilla.conf"}); // no half-written copy left behind
}

class MissingFavourite : public Tree {
    void PrepareMore() override {
        m_settings.WriteRaw(
            ("[System]\nInitMode=0\n[DirTree]\nFavoritesCount=3\nFavorites1=" + W("Alpha") +
             "\nFavorites2=" + W("gone") + "\nFavorites3=" + W("beta") + "\n")
                .toUtf8());
    }
};

TEST_F(MissingFavourite, StaysListedMovesAndIsWrittenBack) {
    // A favourite whose folder is missing at start (an unplugged drive) stays, drawn as missing.
    QTreeWidgetItem* fav = T().FavouritesItem();
    ASSERT_EQ(Children(fav), (QStringList{W("Alpha"), W("gone"), W("beta")}));
    EXPECT_TRUE(CDirTree::IsMissing(fav->child(1)));
    EXPECT_FALSE(CDirTree::IsMissing(fav->child(0)));
    // Moving its neighbours past it keeps it.
    View()->setCurrentItem(fav->child(2));
    ASSERT_TRUE(Run(ID_FAV_UP));
    EXPECT_EQ(Children(fav), (QStringList{W("Alpha"), W("beta"), W("gone")}));
    View()->setCurrentItem(fav->child(0));
    ASSERT_TRUE(Run(ID_FAV_DOWN));
    EXPECT_EQ(Children(fav), (QStringList{W("beta"), W("Alpha"), W("gone")}));
    // Choosing it shows an empty listing.
    View()->setCurrentItem(fav->child(2));
    EXPECT_TRUE(Grid()->Tiles().empty());
    EXPECT_TRUE(Doc()->Folder().isEmpty());
    // When the drive is back, opening it reads it and it no longer looks missing.
    QDir().mkpath(W("gone/inner"));
    fav->child(2)->setExpanded(true);
    EXPECT_FALSE(CDirTree::IsMissing(fav->child(2)));
    EXPECT_EQ(Children(fav->child(2)), QStringList{"inner"});
    QDir(W("gone")).removeRecursively();
    // Written back with the others, in tree order.
    App()->ExitMainFrame();
    EXPECT_EQ(Settings::Get(Settings::FavoritesCount), 3);
    const QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains(("Favorites3=" + W("gone")).toUtf8())) << raw.constData();
    ASSERT_TRUE(App()->InitInstance());
    EXPECT_EQ(Children(T().FavouritesItem()), (QStringList{W("beta"), W("Alpha"), W("gone")}));
}

class OneFavourite : public Tree {
    void PrepareMore() override {
        m_settings.WriteRaw(
            ("[DirTree]\nFavoritesCount=1\nFavorites1=" + W("beta") + "\n").toUtf8());
    }
};

TEST_F(OneFavourite, RemovingTheOnlyEntrySelectsTheRootAndEmptiesTheGrid) {
    View()->setCurrentItem(T().FavouritesItem()->child(0));
    EXPECT_EQ(GridNames(), QStringList{"three.png"});
    m_boxAnswer = IDNO;
    ASSERT_TRUE(Run(ID_FAV_REMOVE));
    EXPECT_EQ(T().FavouritesItem()->childCount(), 1);
    m_boxAnswer = IDYES;
    ASSERT_TRUE(Run(ID_FAV_REMOVE));
    EXPECT_EQ(T().FavouritesItem()->childCount(), 0);
    EXPECT_EQ(View()->currentItem(), T().FavouritesItem());
    EXPECT_TRUE(Grid()->Tiles().empty());
    EXPECT_TRUE(QFileInfo(W("beta")).isDir()); // the folder itself stays
}

TEST_F(StartInCurrent, CreateRenameAndDeleteFolders) {
    Select(W("Alpha"));
    CInputDlg::s_answer = [](CInputDlg& dlg) {
        EXPECT_EQ(dlg.m_strPrompt, QStringLiteral("フォルダ名を入力してください"));
        dlg.m_strText = QStringLiteral("新しいフォルダ");
        return int(QDialog::Accepted);
    };
    ASSERT_TRUE(Run(ID_FOLDER_CREATE));
    EXPECT_TRUE(QFileInfo(W("Alpha/新しいフォルダ")).isDir());
    EXPECT_TRUE(Children(T().Locate(W("Alpha"))).contains(QStringLiteral("新しいフォルダ")));
    ASSERT_TRUE(Run(ID_FOLDER_CREATE)); // the same name again
    EXPECT_EQ(m_boxes.back().text,
              QStringLiteral("フォルダを作成できません\n同じ名前の項目が既にあります"));
    // Refused under My Computer: nothing happens.
    View()->setCurrentItem(T().MyComputerItem());
    const size_t boxes = m_boxes.size();
    int asked = 0;
    CInputDlg::s_answer = [&](CInputDlg&) {
        ++asked;
        return int(QDialog::Rejected);
    };
    ASSERT_TRUE(Run(ID_FOLDER_CREATE));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(m_boxes.size(), boxes);

    // Rename the folder shown: the listing keeps its entries and pictures, in the new folder.
    Select(W("Alpha"));
    ASSERT_TRUE(WaitForPictures(Grid()));
    const IKHANDLE picture = Grid()->Tiles()[0]->m_wndImage.m_image.GetHandle();
    CInputDlg::s_answer = [](CInputDlg& dlg) {
        EXPECT_EQ(dlg.m_strText, QStringLiteral("Alpha"));
        dlg.m_strText = QStringLiteral("Omega");
        return int(QDialog::Accepted);
    };
    ASSERT_TRUE(Run(ID_FILE_RENAME));
    EXPECT_TRUE(QFileInfo(W("Omega/one.png")).exists());
    EXPECT_EQ(View()->currentItem()->text(0), QStringLiteral("Omega"));
    EXPECT_EQ(QDir::currentPath(), W("Omega"));
    EXPECT_EQ(Doc()->Folder(), W("Omega"));
    ASSERT_EQ(Grid()->Tiles().size(), 2u);
    EXPECT_EQ(Grid()->Tiles()[0]->Path(), W("Omega/one.png"));
    EXPECT_EQ(Grid()->Tiles()[0]->m_wndImage.m_image.GetHandle(), picture);

    // Delete to the Trash: asked first, the parent selected afterwards and listed.
    m_boxAnswer = IDNO;
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    EXPECT_TRUE(QFileInfo(W("Omega")).isDir());
    EXPECT_EQ(m_boxes.back().text, QStringLiteral("ファイルを削除できませんでした"));
    m_boxAnswer = IDYES;
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    EXPECT_FALSE(QFileInfo::exists(W("Omega")));
    EXPECT_EQ(T().PathOf(View()->currentItem()), W());
    EXPECT_EQ(Doc()->Folder(), W());
    const QString trash = QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath("Trash/files");
    bool inTrash = false;
    for (const QString& name : QDir(trash).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        inTrash = inTrash ||
                  (name.startsWith("Omega") && QFileInfo::exists(trash + "/" + name + "/one.png"));
    EXPECT_TRUE(inTrash);
    // A volume is never deleted.
    Select("/");
    ASSERT_TRUE(Run(ID_FILE_DELETE));
    EXPECT_EQ(m_boxes.back().text, QStringLiteral("削除できません"));
}

TEST_F(StartInCurrent, WheelOverTheGridScrollsTheGrid) {
    Frame()->resize(700, 300);
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    for (int i = 0; i < 40; ++i)
        Picture(QStringLiteral("work/p%1.png").arg(i, 2, 10, QLatin1Char('0')));
    ASSERT_TRUE(Grid()->SendCommand(ID_VIEW_REFRESH));
    Spin();
    ASSERT_GT(Grid()->verticalScrollBar()->maximum(), 0);
    const QPoint overGrid = Grid()->mapToGlobal(Grid()->rect().center());
    QWheelEvent wheel(View()->mapFromGlobal(overGrid), overGrid, QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(View()->viewport(), &wheel);
    EXPECT_GT(Grid()->verticalScrollBar()->value(), 0);
}

TEST_F(StartInCurrent, ContextMenuTakesItsStateFromTheFrame) {
    Select(W("beta"));
    QStringList texts;
    std::vector<bool> enabled;
    QTimer::singleShot(0, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions()) {
                if (a->isSeparator())
                    continue;
                texts << a->text();
                enabled.push_back(a->isEnabled());
            }
            menu->close();
        }
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            View()->viewport()->mapToGlobal(QPoint(5, 5)));
    QCoreApplication::sendEvent(View()->viewport(), &event);
    EXPECT_EQ(texts, (QStringList{"フォルダ作成(&K)...", "フォルダ名変更(&N)",
                                  "お気に入り - このﾌｫﾙﾀﾞを追加(&A)", "お気に入り - 削除(&D)",
                                  "お気に入り - 一つ上へ(&U)", "お気に入り - 一つ下へ(&D)"}));
    // Not a favourite: adding is possible, removing and moving are not.
    EXPECT_EQ(enabled, (std::vector<bool>{true, true, true, false, false, false}));
    // The right click selected nothing new.
    EXPECT_EQ(T().PathOf(View()->currentItem()), W("beta"));
}

TEST_F(StartInCurrent, RightButtonOnAnotherFolderSelectsNothing) {
    Select(W("Alpha"));
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    QTreeWidgetItem* beta = T().Locate(W("beta"));
    ASSERT_NE(beta, nullptr);
    View()->scrollToItem(beta);
    const QPoint at = View()->viewport()->mapTo(Frame(), View()->visualItemRect(beta).center());
    QStringList shown;
    QTimer::singleShot(200, [&] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* a : menu->actions())
                if (!a->isSeparator())
                    shown << a->text();
            menu->close();
        }
    });
    // A real press of the right button, through the window as the mouse delivers it.
    QTest::mousePress(Frame()->windowHandle(), Qt::RightButton, Qt::NoModifier, at);
    QTest::mouseRelease(Frame()->windowHandle(), Qt::RightButton, Qt::NoModifier, at);
    Spin(50);
    EXPECT_FALSE(shown.isEmpty()); // the menu was shown
    // The folder shown is still the one the commands act on; the grid was not listed again.
    EXPECT_EQ(View()->currentItem(), T().Locate(W("Alpha")));
    EXPECT_EQ(Doc()->Folder(), W("Alpha"));
    EXPECT_EQ(GridNames(), (QStringList{"one.png", "two.png"}));
}

TEST_F(StartInCurrent, SpecialItemsAndVolumesRefuseDeleteAndRenameBeforeAnyQuestion) {
    int inputs = 0;
    CInputDlg::s_answer = [&](CInputDlg&) {
        ++inputs;
        return int(QDialog::Accepted);
    };
    m_boxAnswer = IDYES; // a question, were one asked, would be answered yes
    QTreeWidgetItem* root = T().MyComputerItem()->child(0);
    ASSERT_EQ(root->text(0), QStringLiteral("/"));
    for (QTreeWidgetItem* item : {T().DesktopItem(), T().MyDocumentsItem(), T().MyComputerItem(),
                                  T().FavouritesItem(), root}) {
        View()->setCurrentItem(item);
        m_boxes.clear();
        ASSERT_TRUE(Run(ID_FILE_DELETE));
        ASSERT_EQ(m_boxes.size(), 1u) << item->text(0).toStdString();
        EXPECT_EQ(m_boxes[0].text, QStringLiteral("削除できません"));
        m_boxes.clear();
        ASSERT_TRUE(Run(ID_FILE_RENAME));
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, QStringLiteral("フォルダ名を変更できません"));
        // The tree's items are all still there to be used.
        EXPECT_EQ(View()->currentItem(), item);
    }
    EXPECT_EQ(inputs, 0);
    EXPECT_TRUE(QFileInfo(QDir(m_home.path()).filePath("Desktop")).isDir());
    EXPECT_TRUE(QFileInfo(QDir(m_home.path()).filePath("Documents")).isDir());
}

TEST_F(StartInCurrent, NewFolderWithTheKeysSaysWhyItCannotBeMade) {
    Select(W("Alpha"));
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    CInputDlg::s_answer = nullptr;
    bool viaKey = true;
    // K opens the real dialog; the name is typed and Enter pressed.
    const auto typeName = [&](const QString& name) {
        QTimer::singleShot(0, [name] {
            auto* dlg = qobject_cast<CInputDlg*>(QApplication::activeModalWidget());
            ASSERT_NE(dlg, nullptr);
            auto* edit = dlg->findChild<QLineEdit*>();
            ASSERT_NE(edit, nullptr);
            QTest::keyClicks(edit, name);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        // K the first time; the menu's command after that.
        if (viaKey) {
            View()->setFocus();
            QTest::keyClick(View(), Qt::Key_K);
        } else {
            ASSERT_TRUE(Run(ID_FOLDER_CREATE));
        }
        viaKey = false;
    };
    m_boxes.clear();
    typeName("deep"); // taken
    typeName("a/b");
    typeName("..");
    ASSERT_EQ(m_boxes.size(), 3u);
    EXPECT_EQ(m_boxes[0].text,
              QStringLiteral("フォルダを作成できません\n同じ名前の項目が既にあります"));
    EXPECT_EQ(m_boxes[1].text, QStringLiteral("フォルダを作成できません\n名前に「/」は使えません"));
    EXPECT_EQ(m_boxes[2].text, QStringLiteral("フォルダを作成できません\nこの名前は使えません"));
    EXPECT_FALSE(QFileInfo::exists(W("Alpha/a")));
    // A name that can be made is made.
    typeName("made");
    EXPECT_EQ(m_boxes.size(), 3u);
    EXPECT_TRUE(QFileInfo(W("Alpha/made")).isDir());
}

namespace {
// Records what a drop onto a widget carries, before the widget acts on it.
class DropWatcher : public QObject {
public:
    QStringList formats;
    QList<QUrl> urls;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Drop) {
            const QMimeData* data = static_cast<QDropEvent*>(e)->mimeData();
            formats = data->formats();
            urls = data->urls();
        }
        return false;
    }
};
} // namespace

TEST_F(StartInCurrent, TilesDraggedOntoAFolderAreCopiedOrWithShiftMoved) {
    Select(W("Alpha"));
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    T().Locate(W())->setExpanded(true);
    Spin();
    DropWatcher watcher;
    View()->viewport()->installEventFilter(&watcher);
    // Presses a tile and drags it with the real mouse; the drag itself goes over the tree item
    // and is let go there with `mods` held (the offscreen platform has no drag loop of its own:
    // the tree gets the events the platform would send).
    const auto dragTo = [&](const QString& tile, QTreeWidgetItem* target,
                            Qt::KeyboardModifiers mods) {
        const int i = Grid()->FindTileByName(tile);
        ASSERT_GE(i, 0) << tile.toStdString();
        const QPoint from = Grid()->GetCellRect(i).center();
        View()->scrollToItem(target);
        const QPointF to = View()->visualItemRect(target).center();
        bool dragged = false;
        CThumbnailView::s_dragRunner = [&](QMimeData* data, Qt::DropActions actions) {
            dragged = true;
            QWidget* vp = View()->viewport();
            QDragEnterEvent enter(to.toPoint(), actions, data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(vp, &enter);
            if (!enter.isAccepted())
                return Qt::IgnoreAction;
            QDragMoveEvent move(to.toPoint(), actions, data, Qt::LeftButton, mods);
            QCoreApplication::sendEvent(vp, &move);
            if (!move.isAccepted())
                return Qt::IgnoreAction;
            QDropEvent drop(to, actions, data, Qt::LeftButton, mods);
            QCoreApplication::sendEvent(vp, &drop);
            return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
        };
        QTest::mousePress(Grid()->viewport(), Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(Grid()->viewport(), from + QPoint(40, 0));
        QTest::mouseRelease(Grid()->viewport(), Qt::LeftButton, Qt::NoModifier,
                            from + QPoint(40, 0));
        CThumbnailView::s_dragRunner = nullptr;
        EXPECT_TRUE(dragged);
        Spin();
    };
    // Both tiles selected (a click and a Ctrl+click); the press on one of them keeps both.
    const auto click = [&](const QString& tile, Qt::KeyboardModifiers mods) {
        QTest::mouseClick(Grid()->viewport(), Qt::LeftButton, mods,
                          Grid()->GetCellRect(Grid()->FindTileByName(tile)).center());
    };
    click("one.png", Qt::NoModifier);
    click("two.png", Qt::ControlModifier);
    dragTo("one.png", T().Locate(W("beta")), Qt::NoModifier);
    EXPECT_TRUE(QFileInfo::exists(W("beta/one.png")));
    EXPECT_TRUE(QFileInfo::exists(W("beta/two.png")));
    EXPECT_TRUE(QFileInfo::exists(W("Alpha/one.png")));
    // The file managers' list: addresses and the copy marker.
    EXPECT_TRUE(watcher.formats.contains("text/uri-list"))
        << watcher.formats.join(' ').toStdString();
    EXPECT_TRUE(watcher.formats.contains("x-special/gnome-copied-files"));
    EXPECT_EQ(watcher.urls, (QList<QUrl>{QUrl::fromLocalFile(W("Alpha/one.png")),
                                         QUrl::fromLocalFile(W("Alpha/two.png"))}));
    EXPECT_EQ(Grid()->SelectedPaths().size(), 2);

    // A click on one selects it alone; dragged with Shift it is moved.
    click("two.png", Qt::NoModifier);
    ASSERT_EQ(Grid()->SelectedPaths(), QStringList{W("Alpha/two.png")});

    dragTo("two.png", T().Locate(W("Gamma")), Qt::ShiftModifier);
    EXPECT_TRUE(QFileInfo::exists(W("Gamma/two.png")));
    EXPECT_FALSE(QFileInfo::exists(W("Alpha/two.png")));
    EXPECT_EQ(GridNames(), QStringList{"one.png"}); // the grid shows it gone at once

    // My Computer takes no files: nothing happens there.
    watcher.urls.clear();
    dragTo("one.png", T().MyComputerItem(), Qt::NoModifier);
    EXPECT_FALSE(QFileInfo::exists("/one.png"));
    EXPECT_EQ(GridNames(), QStringList{"one.png"});
    // A press and a move shorter than the drag distance is a click, not a drag.
    bool dragged = false;
    CThumbnailView::s_dragRunner = [&](QMimeData*, Qt::DropActions) {
        dragged = true;
        return Qt::IgnoreAction;
    };
    const QPoint at = Grid()->GetCellRect(0).center();
    QTest::mousePress(Grid()->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseMove(Grid()->viewport(), at + QPoint(1, 1));
    QTest::mouseRelease(Grid()->viewport(), Qt::LeftButton, Qt::NoModifier, at + QPoint(1, 1));
    CThumbnailView::s_dragRunner = nullptr;
    EXPECT_FALSE(dragged);
    // The tree still shows the folder the grid lists.
    EXPECT_EQ(T().PathOf(View()->currentItem()), W("Alpha"));
    View()->viewport()->removeEventFilter(&watcher);
}

class DeadShare : public Tree {
    void PrepareMore() override {
        m_settings.WriteRaw("[System]\nInitMode=0\n");
        QFile f(m_table.filePath("mounts"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("/dev/root / ext4 rw 0 0\nserver:/export /nonexistent/share nfs4 rw 0 0\n");
        f.close();
        Volumes::SetMountTable(QFile::encodeName(f.fileName()));
    }
    void TearDown() override {
        Tree::TearDown();
        Volumes::SetMountTable(QByteArray());
    }
    QTemporaryDir m_table;
};

TEST_F(DeadShare, NetworkVolumesAreListedWithoutBeingTouched) {
    QTreeWidgetItem* mc = T().MyComputerItem();
    ASSERT_EQ(Children(mc), (QStringList{"/", "/nonexistent/share"}));
    // A share that does not answer (here: is not even there) is only promised, not read.
    QTreeWidgetItem* share = mc->child(1);
    ASSERT_EQ(share->childCount(), 1);
    EXPECT_EQ(CDirTree::KindOf(share->child(0)), CDirTree::Placeholder);
    EXPECT_EQ(Volumes::RootOf("/nonexistent/share/a/b"), QStringLiteral("/nonexistent/share"));
    // The user opens it: it is read then (and holds nothing here).
    share->setExpanded(true);
    EXPECT_EQ(share->childCount(), 0);
    // The drive dialog lists it too.
    QStringList roots;
    CDriveDlg::s_answer = [&](CDriveDlg& dlg) {
        roots = dlg.m_roots;
        return int(QDialog::Rejected);
    };
    ASSERT_TRUE(Run(ID_DRIVE_CHANGE));
    EXPECT_EQ(roots, (QStringList{"/", "/nonexistent/share"}));
}

class Sjis : public Tree {
    void PrepareMore() override {
        m_settings.WriteRaw("[System]\nInitMode=0\n");
        // "写真" and "写真.png" in code page 932, as an old CD or a FAT medium names them.
        const QByteArray dir = QFile::encodeName(W()) + "/\x8e\xca\x90\x5e";
        ASSERT_EQ(::mkdir(dir.constData(), 0755), 0);
        QImage img(30, 20, QImage::Format_RGB32);
        img.fill(Qt::red);
        QByteArray png;
        QBuffer buf(&png);
        buf.open(QIODevice::WriteOnly);
        img.save(&buf, "PNG");
        const int fd =
            ::open((dir + "/\x8e\xca\x90\x5e.png").constData(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, png.constData(), size_t(png.size())), png.size());
        ::close(fd);
    }
};

TEST_F(Sjis, NamesThatAreNotUtf8AreShownReadablyEnteredAndLoaded) {
    QTreeWidgetItem* work = T().Locate(W());
    ASSERT_NE(work, nullptr);
    work->setExpanded(true);
    QTreeWidgetItem* photos = nullptr;
    for (int i = 0; i < work->childCount(); ++i)
        if (work->child(i)->text(0) == QStringLiteral("写真"))
            photos = work->child(i);
    ASSERT_NE(photos, nullptr);
    View()->setCurrentItem(photos);
    EXPECT_EQ(FileNames::ToNative(Doc()->Folder()), QFile::encodeName(W()) + "/\x8e\xca\x90\x5e");
    ASSERT_EQ(Grid()->Tiles().size(), 1u);
    const CImageTile& tile = *Grid()->Tiles()[0];
    EXPECT_EQ(tile.Caption(), QStringLiteral("写真.png"));
    EXPECT_EQ(FileNames::ToNative(tile.m_strName), QByteArray("\x8e\xca\x90\x5e.png"));
    ASSERT_TRUE(WaitForPictures(Grid()));
    EXPECT_EQ(tile.m_wndImage.m_image.GetSize(), QSize(30, 20));
    // Found again by its path, as the tree selects it after a command.
    EXPECT_EQ(T().Locate(Doc()->Folder()), photos);
    RemoveTreeNative(W());
}
