// Command routing: the order of targets, enabling, check marks, forwarding between the panes.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "platform/CmdTarget.h"
#include "platform/Settings.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QToolBar>

namespace {

// A target whose map the test fills in, recording what ran.
class Target : public CCmdTarget {
public:
    explicit Target(std::string name, std::vector<std::string>* log) : m_name(name), m_log(log) {}
    void Handle(unsigned id) {
        MapCommand(id, [this] { m_log->push_back(m_name); });
    }
    void Update(unsigned id, bool enable, int check) {
        MapUpdate(id, [=](CCmdUI* ui) {
            ui->Enable(enable);
            ui->SetCheck(check);
        });
    }

private:
    std::string m_name;
    std::vector<std::string>* m_log;
};

} // namespace

TEST(CommandRouter, FirstTargetWithAHandlerRunsTheCommand) {
    std::vector<std::string> log;
    Target pane("pane", &log), frame("frame", &log), app("app", &log);
    frame.Handle(100);
    app.Handle(100);
    app.Handle(200);
    CCmdRouter router([&] { return std::vector<CCmdTarget*>{&pane, &frame, &app}; });

    EXPECT_TRUE(router.Execute(100));
    EXPECT_TRUE(router.Execute(200));
    EXPECT_FALSE(router.Execute(300));
    EXPECT_EQ(log, (std::vector<std::string>{"frame", "app"}));

    pane.Handle(100);
    EXPECT_TRUE(router.Execute(100));
    EXPECT_EQ(log.back(), "pane");
}

TEST(CommandRouter, UpdateHandlersAnywhereOnTheRouteComeBeforeCommandHandlers) {
    std::vector<std::string> log;
    Target pane("pane", &log), frame("frame", &log);
    pane.Handle(1);           // the pane can carry it out ...
    frame.Update(1, true, 1); // ... but the frame decides its check mark
    frame.Handle(2);          // no update handler: enabled because a handler exists
    CCmdRouter router([&] { return std::vector<CCmdTarget*>{&pane, &frame}; });

    CCmdUI one(1), two(2), three(3);
    EXPECT_TRUE(router.Update(one));
    EXPECT_TRUE(one.m_bEnabled);
    EXPECT_EQ(one.m_nCheck, 1);
    EXPECT_TRUE(router.Update(two));
    EXPECT_TRUE(two.m_bEnabled);
    EXPECT_EQ(two.m_nCheck, 0);
    EXPECT_FALSE(router.Update(three));
    EXPECT_FALSE(three.m_bEnabled);
}

TEST(CommandRouter, DisabledCommandIsNotCarriedOut) {
    std::vector<std::string> log;
    Target pane("pane", &log);
    pane.Handle(7);
    pane.Update(7, false, 0);
    CCmdRouter router([&] { return std::vector<CCmdTarget*>{&pane}; });
    EXPECT_FALSE(router.Execute(7));
    EXPECT_FALSE(pane.SendCommand(7));
    EXPECT_TRUE(log.empty());
}

class Routing : public AppTest {
protected:
    bool Enabled(unsigned id) {
        CCmdUI ui(id);
        Frame()->Router().Update(ui);
        return ui.m_bEnabled;
    }
    int Checked(unsigned id) {
        CCmdUI ui(id);
        Frame()->Router().Update(ui);
        return ui.m_nCheck;
    }
    std::vector<unsigned> CheckedSizes() {
        std::vector<unsigned> ids;
        for (unsigned id = ID_SIZE_FIRST; id <= ID_SIZE_LAST; ++id)
            if (Checked(id))
                ids.push_back(id);
        return ids;
    }
    void ActivateGrid() {
        Frame()->SetActiveView(Frame()->ThumbnailView());
        ASSERT_EQ(Frame()->GetActiveView(), Frame()->ThumbnailView());
    }
    CThumbnailView* Grid() { return Frame()->ThumbnailView(); }
};

TEST_F(Routing, TreeIsActiveAtStart) {
    EXPECT_EQ(Frame()->GetActiveView(), Frame()->DirView());
}

TEST_F(Routing, FineModeIsDisabledWhileTheTreeIsActiveAndRefreshWorksInBoth) {
    EXPECT_FALSE(Enabled(ID_VIEW_PUREMODE));
    // The tree reads again what it shows, then the grid its folder.
    EXPECT_TRUE(Enabled(ID_VIEW_REFRESH));
    EXPECT_FALSE(Frame()->Router().Execute(ID_VIEW_PUREMODE));
    EXPECT_FALSE(CThumbnailView::FineMode());

    ActivateGrid();
    EXPECT_TRUE(Enabled(ID_VIEW_PUREMODE));
    EXPECT_TRUE(Enabled(ID_VIEW_REFRESH));
}

TEST_F(Routing, SizeSortFontAndCustomStayEnabledThroughTheTree) {
    for (unsigned id = ID_SIZE_FIRST; id <= ID_SIZE_LAST; ++id)
        EXPECT_TRUE(Enabled(id)) << id;
    for (unsigned id = ID_SORT_NAME; id <= ID_SORT_ASCEND; ++id)
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(ID_SIZE_CUSTOM));
    EXPECT_TRUE(Enabled(ID_VIEW_FONT));
    EXPECT_TRUE(Enabled(ID_FILE_COPYTO));
    EXPECT_TRUE(Enabled(ID_FILE_MOVETO));
    EXPECT_TRUE(Enabled(ID_WALLPAPER));
}

TEST_F(Routing, GridOnlyCommandsAreDisabledWithTheTreeActive) {
    // Neither the tree nor the frame nor the application handles these.
    for (unsigned id : {ID_FILE_OPEN_IMAGE, ID_FILE_OPEN_APP, ID_IMAGE_INFO, ID_COPY_FILENAME})
        EXPECT_FALSE(Enabled(id)) << id;
    // The frame's and the application's own commands are enabled whatever pane is active.
    for (unsigned id :
         std::initializer_list<unsigned>{ID_APP_ABOUT, ID_APP_EXIT, ID_HELP_FINDER, ID_HELP_KEYWORD,
                                         ID_HELP_HOMEPAGE, ID_VIEW_TOOLBAR, ID_NEXT_PANE})
        EXPECT_TRUE(Enabled(id)) << id;
}

TEST_F(Routing, SizeCommandFromTheTreeReachesTheGridAndMovesTheCheckMark) {
    EXPECT_EQ(CheckedSizes(), std::vector<unsigned>{ID_SIZE_80});
    EXPECT_TRUE(Frame()->Router().Execute(ID_SIZE_160x120));
    EXPECT_EQ(Grid()->ThumbnailSize(), QSize(160, 120));
    EXPECT_EQ(Settings::Get(Settings::ThumbnailSizeX), 160);
    EXPECT_EQ(Settings::Get(Settings::ThumbnailSizeY), 120);
    // 160 × 120 is not the square 160 × 160.
    EXPECT_EQ(CheckedSizes(), std::vector<unsigned>{ID_SIZE_160x120});

    ActivateGrid();
    EXPECT_TRUE(Frame()->Router().Execute(ID_SIZE_LAST));
    EXPECT_EQ(Grid()->ThumbnailSize(), QSize(320, 320));
    EXPECT_EQ(CheckedSizes(), std::vector<unsigned>{ID_SIZE_LAST});
}

TEST_F(Routing, SortCommandsSetKeyAndOrderWithCheckMarks) {
    EXPECT_EQ(Checked(ID_SORT_NAME), 1);
    EXPECT_EQ(Checked(ID_SORT_ASCEND), 1);
    EXPECT_TRUE(Frame()->Router().Execute(ID_SORT_DATE));
    EXPECT_EQ(Grid()->SortMode(), 3);
    EXPECT_EQ(Settings::Get(Settings::SortMode), 3);
    for (unsigned id = ID_SORT_NAME; id <= ID_SORT_DATE; ++id)
        EXPECT_EQ(Checked(id), id == ID_SORT_DATE ? 1 : 0) << id;

    EXPECT_TRUE(Frame()->Router().Execute(ID_SORT_ASCEND));
    EXPECT_FALSE(Grid()->SortAscending());
    EXPECT_EQ(Checked(ID_SORT_ASCEND), 0);
    EXPECT_EQ(Settings::Get(Settings::SortAscend), 0);
    EXPECT_TRUE(Frame()->Router().Execute(ID_SORT_ASCEND));
    EXPECT_EQ(Settings::Get(Settings::SortAscend), 1);
}

TEST_F(Routing, FineModeTogglesWithCheckMarkAndIsSaved) {
    ActivateGrid();
    EXPECT_EQ(Checked(ID_VIEW_PUREMODE), 0);
    EXPECT_TRUE(Frame()->Router().Execute(ID_VIEW_PUREMODE));
    EXPECT_TRUE(CThumbnailView::FineMode());
    EXPECT_EQ(Checked(ID_VIEW_PUREMODE), 1);
    EXPECT_EQ(Settings::Get(Settings::PureMode), 1);
    EXPECT_TRUE(Frame()->Router().Execute(ID_VIEW_PUREMODE));
    EXPECT_FALSE(CThumbnailView::FineMode());
    EXPECT_EQ(Settings::Get(Settings::PureMode), 0);
}

TEST_F(Routing, MenuItemsTakeTheirStateWhenTheMenuOpens) {
    QMenu* view = nullptr;
    for (QAction* a : Frame()->menuBar()->actions())
        if (a->text() == QStringLiteral("表示(&V)"))
            view = a->menu();
    ASSERT_NE(view, nullptr);
    QAction* fine = Frame()->Action(ID_VIEW_PUREMODE);
    QAction* toolbar = Frame()->Action(ID_VIEW_TOOLBAR);
    Frame()->UpdateMenu(view);
    EXPECT_FALSE(fine->isEnabled());
    EXPECT_TRUE(toolbar->isChecked());

    ActivateGrid();
    Frame()->UpdateMenu(view);
    EXPECT_TRUE(fine->isEnabled());
    EXPECT_FALSE(fine->isChecked());
}

class CustomSizeAtStart : public Routing {
    void Prepare() override {
        m_settings.WriteRaw("[View]\nThumbnailSizeX=70\nThumbnailSizeY=70\n");
    }
};

TEST_F(CustomSizeAtStart, NoSizeItemIsChecked) {
    EXPECT_EQ(Grid()->ThumbnailSize(), QSize(70, 70));
    EXPECT_TRUE(CheckedSizes().empty());
}

class SortedByExtensionDescending : public Routing {
    void Prepare() override { m_settings.WriteRaw("[View]\nSortMode=1\nSortAscend=0\n"); }
};

TEST_F(SortedByExtensionDescending, CheckMarksFollowTheStoredSort) {
    EXPECT_EQ(Checked(ID_SORT_EXT), 1);
    EXPECT_EQ(Checked(ID_SORT_NAME), 0);
    EXPECT_EQ(Checked(ID_SORT_ASCEND), 0);
}

TEST_F(Routing, CreateFolderFromTheGridGivesTheTreeTheFocus) {
    ActivateGrid();
    EXPECT_TRUE(Frame()->Router().Execute(ID_FOLDER_CREATE));
    EXPECT_EQ(Frame()->GetActiveView(), Frame()->DirView());
}

TEST_F(Routing, NextAndPreviousPaneKeysMoveBetweenThePanes) {
    Frame()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    EXPECT_EQ(Frame()->GetActiveView(), Frame()->DirView());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_EQ(Frame()->GetActiveView(), Frame()->ThumbnailView());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(Frame()->GetActiveView(), Frame()->DirView());
}

TEST_F(Routing, ToolbarStateIsUpdatedWhenIdle) {
    QAction* copy = Frame()->Action(ID_FILE_COPYTO);
    QAction* help = Frame()->Action(ID_HELP_FINDER);
    ASSERT_TRUE(Frame()->m_wndToolBar->actions().contains(copy));
    copy->setEnabled(false);
    help->setEnabled(false);
    App()->IdleHook().Wake();
    Spin(50);
    EXPECT_TRUE(copy->isEnabled()); // the tree passes it on to the grid
    EXPECT_TRUE(help->isEnabled());
}
