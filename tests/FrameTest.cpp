// The main frame: title, menus, toolbar, status bar, splitter, help, links, bar state.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "app/config.h"
#include "help/HelpWindow.h"
#include "platform/Settings.h"
#include "platform/Signals.h"
#include "platform/WindowPlacement.h"
#include "res/Icons.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <csignal>

namespace {

QStringList Texts(const QList<QAction*>& actions) {
    QStringList out;
    for (QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

QMenu* TopMenu(CMainFrame* frame, const QString& title) {
    for (QAction* a : frame->menuBar()->actions())
        if (a->text() == title)
            return a->menu();
    return nullptr;
}

} // namespace

class Frame_ : public AppTest {};

TEST_F(Frame_, TitleNeverShowsTheFolder) {
    EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Norvo Pictoquill"));
    QTemporaryDir dir;
    ASSERT_TRUE(Frame()->GetActiveDocument()->SetFolder(dir.path()));
    Frame()->GetActiveDocument()->UpdateAllViews(Frame()->DirView());
    Spin();
    EXPECT_EQ(Frame()->windowTitle(), QStringLiteral("Norvo Pictoquill"));
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
}

TEST_F(Frame_, MainMenuHasEveryItemInOrder) {
    EXPECT_EQ(Texts(Frame()->menuBar()->actions()),
              (QStringList{"ﾌｧｲﾙ(&F)", "編集(&E)", "表示(&V)", "ﾂｰﾙ(&T)", "ﾍﾙﾌﾟ(&H)"}));
    EXPECT_EQ(
        Texts(TopMenu(Frame(), "ﾌｧｲﾙ(&F)")->actions()),
        (QStringList{"開く(&O)\tEnter", "アプリケーションで開く(&A)", "ドライブ変更(&D)...\tL",
                     "一つ上のフォルダへ(&U)\tBackSpace", "ファイルのコピー(&C)...\tC",
                     "ファイルの移動(&M)...\tM", "ファイル名変更(&N)...\tR",
                     "ファイルの削除(&R)...\tDelete", "フォルダ作成(&K)...\tK", "画像情報(&I)...",
                     "プロパティ(&P)...", "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"}));
    QMenu* view = TopMenu(Frame(), "表示(&V)");
    ASSERT_NE(view, nullptr);
    QMenu* sizes = view->actions().at(0)->menu();
    ASSERT_NE(sizes, nullptr);
    EXPECT_EQ(sizes->title(), QStringLiteral("サイズ(&Z)"));
    EXPECT_EQ(
        Texts(sizes->actions()),
        (QStringList{"32×32", "48×48", "64×64", "80×80", "96×96", "100×100", "128×128", "160×160",
                     "240×240", "280×280", "320×320", "-", "160×120", "カスタム(&C)..."}));
    // Each item carries its command ID.
    EXPECT_EQ(CommandIdOf(sizes->actions().at(12)), unsigned(ID_SIZE_160x120));
    EXPECT_EQ(CommandIdOf(sizes->actions().at(8)), unsigned(ID_SIZE_240));
    QMenu* help = TopMenu(Frame(), "ﾍﾙﾌﾟ(&H)");
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->actions().at(0)->text(), QStringLiteral("ヘルプ(&C)\tF1"));
    EXPECT_EQ(help->actions().at(5)->menu()->title(), QStringLiteral("その他のホームページへ(&U)"));
}

TEST_F(Frame_, ToolbarButtonsInOrderWithTooltipsAndPrompts) {
    std::vector<unsigned> ids;
    for (QAction* a : Frame()->m_wndToolBar->actions())
        ids.push_back(a->isSeparator() ? 0 : CommandIdOf(a));
    const std::vector<unsigned> expected = {ID_DRIVE_CHANGE,
                                            0,
                                            ID_FOLDER_UP,
                                            0,
                                            ID_FILE_COPYTO,
                                            ID_FILE_MOVETO,
                                            0,
                                            ID_FILE_DELETE,
                                            0,
                                            ID_FILE_RENAME,
                                            0,
                                            ID_FOLDER_CREATE,
                                            0,
                                            ID_TOOL_CONVERT,
                                            0,
                                            ID_HELP_FINDER};
    EXPECT_EQ(ids, expected);
    QAction* drive = Frame()->Action(ID_DRIVE_CHANGE);
    EXPECT_EQ(drive->toolTip(), QStringLiteral("ドライブ変更"));
    EXPECT_EQ(drive->statusTip(), QStringLiteral("ドライブ変更"));
    EXPECT_FALSE(drive->icon().isNull());
    // Every command of the main menu has a prompt.
    for (QAction* top : Frame()->menuBar()->actions()) {
        for (QAction* a : top->menu()->actions()) {
            if (!a->isSeparator() && !a->menu()) {
                EXPECT_FALSE(a->statusTip().isEmpty()) << a->text().toStdString();
            }
        }
    }
}

TEST_F(Frame_, StatusBarShowsPromptsAndOtherwiseTheIdleText) {
    EXPECT_EQ(Frame()->MessageText(), QStringLiteral("ﾚﾃﾞｨ"));
    QStatusTipEvent tip(Frame()->Action(ID_FOLDER_UP)->statusTip());
    QCoreApplication::sendEvent(Frame(), &tip);
    EXPECT_EQ(Frame()->MessageText(), QStringLiteral("一つ上のフォルダへ移動"));
    QStatusTipEvent none{QString()};
    QCoreApplication::sendEvent(Frame(), &none);
    EXPECT_EQ(Frame()->MessageText(), QStringLiteral("ﾚﾃﾞｨ"));
    // Message pane first, then the four lock indicators.
    EXPECT_EQ(Frame()->m_wndStatusBar->findChildren<QLabel*>().size(), 5);
}

TEST_F(Frame_, SideBySideTreeTakesColumWidthUntilTheSplitterIsMoved) {
    Frame()->resize(1000, 700);
    Frame()->show();
    Spin();
    QSplitter* sp = Frame()->m_wndSplitter;
    EXPECT_EQ(sp->orientation(), Qt::Horizontal);
    EXPECT_EQ(sp->widget(0), Frame()->DirView());
    EXPECT_EQ(sp->widget(1), Frame()->ThumbnailView());
    EXPECT_EQ(sp->sizes().at(0), 260);
    // The tree keeps its width when the window grows.
    Frame()->resize(1200, 700);
    Spin();
    EXPECT_EQ(sp->sizes().at(0), 260);

    // Moved by the user, the splitter comes back where it was left; View\Colum and
    // View\SplPos are still never written.
    sp->setSizes({400, 500});
    Restart();
    EXPECT_EQ(Frame()->m_wndSplitter->sizes().at(0), 400);
    EXPECT_FALSE(m_settings.ReadRaw().contains("Colum"));
    EXPECT_FALSE(m_settings.ReadRaw().contains("SplPos"));
}

TEST(WindowPlacement_, ASavedWindowIsKeptOnAScreenThatExists) {
    using WindowPlacement::KeepOnScreens;
    const QList<QRect> two{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    // Within a screen: as saved, on either.
    EXPECT_EQ(KeepOnScreens({100, 80, 900, 600}, two), QRect(100, 80, 900, 600));
    EXPECT_EQ(KeepOnScreens({2000, 100, 800, 600}, two), QRect(2000, 100, 800, 600));
    // Across the edge: onto the screen that holds most of it.
    EXPECT_EQ(KeepOnScreens({1800, 100, 400, 300}, two), QRect(1920, 100, 400, 300));
    EXPECT_EQ(KeepOnScreens({1700, 100, 400, 300}, two), QRect(1520, 100, 400, 300));
    // On a screen that is gone (the second one unplugged): onto the first, whole.
    const QList<QRect> one{{0, 0, 1920, 1080}};
    EXPECT_EQ(KeepOnScreens({2000, 100, 800, 600}, one), QRect(1120, 100, 800, 600));
    EXPECT_EQ(KeepOnScreens({-5000, -3000, 800, 600}, one), QRect(0, 0, 800, 600));
    // Larger than the screen it lands on: shrunk to it.
    EXPECT_EQ(KeepOnScreens({2000, 0, 1280, 1024}, {{0, 0, 1200, 960}}), QRect(0, 0, 1200, 960));
    // Nothing to keep it on, or nothing saved: unchanged.
    EXPECT_EQ(KeepOnScreens({5, 5, 10, 10}, {}), QRect(5, 5, 10, 10));
    EXPECT_EQ(KeepOnScreens(QRect(), one), QRect());
}

TEST_F(Frame_, PlaceSizeAndMaximisedStateComeBackAtTheNextStart) {
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect placed(area.left() + 30, area.top() + 40, 640, 420);
    Frame()->setGeometry(placed);
    Frame()->m_wndSplitter->setSizes({180, 460});
    Spin();
    // Closed with the window's own button: written then.
    Restart();
    EXPECT_EQ(Frame()->geometry(), placed);
    EXPECT_EQ(Frame()->m_wndSplitter->sizes().at(0), 180);
    EXPECT_FALSE(Frame()->isMaximized());
    const QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains("[Window]")) << raw.constData();
    EXPECT_TRUE(raw.contains("TreeWidth=180")) << raw.constData();

    // Maximised: shown maximised, returning to the same normal place.
    Frame()->showMaximized();
    Spin();
    ASSERT_TRUE(Frame()->isMaximized());
    Restart();
    EXPECT_TRUE(Frame()->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(Settings::Get(Settings::WindowLeft), placed.left());
    EXPECT_EQ(Settings::Get(Settings::WindowWidth), placed.width());
    Frame()->showNormal();
    Spin();
    EXPECT_EQ(Frame()->size(), placed.size());
}

class PlacedOnAGoneScreen : public AppTest {
    // Closed last on a second screen to the right, which is no longer there.
    void Prepare() override {
        m_settings.WriteRaw("[Window]\nLeft=5000\nTop=300\nWidth=700\nHeight=500\n"
                            "Maximized=0\nTreeWidth=-7\n");
    }
};

TEST_F(PlacedOnAGoneScreen, TheWindowComesBackOnTheScreenThere) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(area.contains(Frame()->geometry()))
        << Frame()->geometry().x() << "," << Frame()->geometry().y();
    EXPECT_EQ(Frame()->size(), QSize(std::min(700, area.width()), std::min(500, area.height())));
    // A tree size that makes no sense leaves View\Colum's.
    EXPECT_EQ(Frame()->m_wndSplitter->sizes().at(0), 260);
}

class StackedFrame : public AppTest {
    void Prepare() override { m_settings.WriteRaw("[View]\nSplPos=1\nRow=150\nColum=500\n"); }
};

TEST_F(StackedFrame, TreeLiesAboveTheGridAtRowHeight) {
    Frame()->resize(900, 700);
    Spin();
    QSplitter* sp = Frame()->m_wndSplitter;
    EXPECT_EQ(Frame()->m_bStacked, 1);
    EXPECT_EQ(sp->orientation(), Qt::Vertical);
    EXPECT_EQ(sp->widget(0), Frame()->DirView());
    EXPECT_EQ(sp->sizes().at(0), 150);
    EXPECT_EQ(Frame()->DirView()->height(), 150);
}

class NarrowColumn : public AppTest {
    void Prepare() override { m_settings.WriteRaw("[View]\nSplPos=0\nColum=120\nRow=400\n"); }
};

TEST_F(NarrowColumn, ColumSetsTheTreeWidthAndRowIsUnused) {
    Frame()->resize(900, 700);
    Spin();
    EXPECT_EQ(Frame()->m_wndSplitter->orientation(), Qt::Horizontal);
    EXPECT_EQ(Frame()->DirView()->width(), 120);
}

TEST_F(Frame_, HelpFileIsTheCollectionNextToTheExecutable) {
    const QString expected = QDir(QCoreApplication::applicationDirPath()).filePath("quilla.qhc");
    EXPECT_EQ(Frame()->HelpFile(), expected);
    // The current directory does not matter.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(Frame()->GetActiveDocument()->SetFolder(elsewhere.path()));
    EXPECT_EQ(Frame()->HelpFile(), expected);
    // The help is shown in the program's own window, never handed to the desktop.
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_FINDER));
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_TRUE(m_opened.empty());
    ASSERT_NE(Frame()->HelpWindow(), nullptr);
    EXPECT_TRUE(Frame()->HelpWindow()->isVisible());
}

TEST_F(Frame_, WebLinksOpenTheConfiguredPages) {
    for (unsigned id : {ID_HELP_HOMEPAGE, ID_HELP_FORUM, ID_HELP_MAKER, ID_HELP_SOFTWARE})
        EXPECT_TRUE(Frame()->Router().Execute(id));
    ASSERT_EQ(m_opened.size(), 4u);
    EXPECT_EQ(m_opened[0], QUrl(QUILLA_URL_HOME));
    EXPECT_EQ(m_opened[1], QUrl(QUILLA_URL_FORUM));
    EXPECT_EQ(m_opened[2], QUrl(QUILLA_URL_MAKER));
    EXPECT_EQ(m_opened[3], QUrl(QUILLA_URL_SOFTWARE));
    EXPECT_TRUE(m_boxes.empty());
    // No browser: the command says so instead of doing nothing.
    m_openAnswer = false;
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_HOMEPAGE));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text,
              QUrl(QUILLA_URL_HOME).toDisplayString() +
                  QStringLiteral(" を開けませんでした。開くアプリケーションが見つかりません。"));
    EXPECT_EQ(m_boxes[0].type, unsigned(MB_OK | MB_ICONEXCLAMATION));
}

TEST_F(Frame_, BarStateIsSavedOnCloseAndRestoredOnStart) {
    Frame()->show();
    EXPECT_TRUE(Frame()->Router().Execute(ID_VIEW_STATUS_BAR));
    Frame()->removeToolBar(Frame()->m_wndToolBar);
    Frame()->addToolBar(Qt::LeftToolBarArea, Frame()->m_wndToolBar);
    Frame()->m_wndToolBar->show();
    Restart();
    EXPECT_FALSE(Frame()->m_wndStatusBar->isVisibleTo(Frame()));
    EXPECT_TRUE(Frame()->m_wndToolBar->isVisibleTo(Frame()));
    EXPECT_EQ(Frame()->toolBarArea(Frame()->m_wndToolBar), Qt::LeftToolBarArea);
    const QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains("[General-Summary]")) << raw.constData();
    EXPECT_TRUE(raw.contains("[General-Bar0]"));

    // And back: the toolbar hidden, the status bar shown again.
    EXPECT_TRUE(Frame()->Router().Execute(ID_VIEW_TOOLBAR));
    EXPECT_TRUE(Frame()->Router().Execute(ID_VIEW_STATUS_BAR));
    Restart();
    EXPECT_FALSE(Frame()->m_wndToolBar->isVisibleTo(Frame()));
    EXPECT_TRUE(Frame()->m_wndStatusBar->isVisibleTo(Frame()));
}

TEST_F(Frame_, BarsAreNotSavedWithoutClosing) {
    Restart(/*closeFirst=*/false);
    // Destroying the tree writes the favourites; the bars are written only by closing.
    EXPECT_FALSE(m_settings.ReadRaw().contains("General-"));
}

TEST_F(Frame_, AboutBoxShowsProductAndVersion) {
    QString title, product;
    QTimer::singleShot(0, [&] {
        if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            title = dlg->windowTitle();
            if (auto* label = dlg->findChild<QLabel*>("productName"))
                product = label->text();
            dlg->accept();
        }
    });
    EXPECT_TRUE(Frame()->Router().Execute(ID_APP_ABOUT));
    EXPECT_EQ(title, QStringLiteral("Quillaのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(product, QStringLiteral("Norvo Pictoquill Version ") + QUILLA_VERSION);
}

TEST_F(Frame_, ExitClosesTheMainWindowAndSavesTheBars) {
    EXPECT_TRUE(Frame()->Router().Execute(ID_APP_EXIT));
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_TRUE(m_settings.ReadRaw().contains("[General-Bar1]"));
}

class QuitWithPreview : public AppTest {
protected:
    void Prepare() override {
        m_oldDir = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        QImage img(40, 30, QImage::Format_RGB32);
        img.fill(Qt::blue);
        ASSERT_TRUE(img.save(m_dir.filePath("a.png")));
        m_settings.WriteRaw(
            ("[System]\nInitMode=0\n[DirTree]\nFavoritesCount=1\nFavorites1=" + m_dir.path() + "\n")
                .toUtf8());
    }
    void TearDown() override {
        AppTest::TearDown();
        QDir::setCurrent(m_oldDir);
    }
    // Runs the program's event loop until it ends by itself; false when it had to be stopped.
    static bool RunUntilTheProgramEnds(const std::function<void()>& what) {
        bool stopped = false;
        QTimer::singleShot(0, what);
        QTimer::singleShot(10000, [&] {
            stopped = true;
            QCoreApplication::exit(1);
        });
        const int rc = QCoreApplication::exec();
        return !stopped && rc == 0;
    }
    QTemporaryDir m_dir;
    QString m_oldDir;
};

TEST_F(QuitWithPreview, ClosingTheMainWindowEndsTheProgramAndWritesTheFavourites) {
    CPreviewDlg& pv = Frame()->ThumbnailView()->Preview();
    Frame()->ThumbnailView()->OpenFocusInPreview();
    ASSERT_TRUE(pv.isVisible());
    QPointer<CPreviewDlg> preview(&pv);
    ASSERT_TRUE(RunUntilTheProgramEnds([this] { Frame()->close(); }));
    // The preview went with the main window, which is gone with the program's end.
    EXPECT_EQ(Frame(), nullptr);
    EXPECT_TRUE(preview.isNull());
    const QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains("[General-Bar1]")) << raw.constData();
    EXPECT_TRUE(raw.contains("FavoritesCount=1")) << raw.constData();
}

TEST_F(QuitWithPreview, TheEndOfTheSessionWritesTheBarsAndTheFavouritesToo) {
    Frame()->ThumbnailView()->OpenFocusInPreview();
    // The session ends the program without closing its windows first.
    ASSERT_TRUE(RunUntilTheProgramEnds([] { QCoreApplication::exit(0); }));
    EXPECT_EQ(Frame(), nullptr);
    const QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains("[General-Bar1]")) << raw.constData();
    EXPECT_TRUE(raw.contains("FavoritesCount=1")) << raw.constData();
}

TEST_F(QuitWithPreview, ATerminationSignalEndsTheProgramAsQuittingDoes) {
    // Logout and shutdown send SIGTERM: the program still writes what it writes when it closes.
    Signals::QuitOnTermination();
    Frame()->ThumbnailView()->OpenFocusInPreview();
    ASSERT_TRUE(RunUntilTheProgramEnds([] { ::raise(SIGTERM); }));
    EXPECT_EQ(Frame(), nullptr);
    const QByteArray raw = m_settings.ReadRaw();
    EXPECT_TRUE(raw.contains("[General-Bar1]")) << raw.constData();
    EXPECT_TRUE(raw.contains("FavoritesCount=1")) << raw.constData();
}

TEST_F(Frame_, TheIconAtTheDesktopsSizesAndTheDesktopEntrysName) {
    const QList<QSize> sizes = Frame()->windowIcon().availableSizes();
    for (int n : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(sizes.contains(QSize(n, n))) << n;
    // Drawn at each size: transparent in the corner, the picture opaque in the middle.
    for (int n : {16, 256}) {
        const QImage image = Icons::ApplicationImage(n);
        EXPECT_EQ(image.size(), QSize(n, n));
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << n;
        EXPECT_EQ(qAlpha(image.pixel(n * 10 / 32, n * 20 / 32)), 255) << n;
    }
    // The desktop finds the installed quilla.desktop (its name and icon) by this name.
    EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("quilla"));
}
