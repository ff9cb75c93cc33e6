#include "app/MainFrame.h"

#include "app/QuillaDoc.h"
#include "app/SetDlg.h"
#include "app/config.h"
#include "help/HelpWindow.h"
#include "imaging/SusieHost.h"
#include "platform/Desktop.h"
#include "platform/KeyLocks.h"
#include "platform/MsgBox.h"
#include "platform/Profile.h"
#include "platform/Settings.h"
#include "platform/WaitCursor.h"
#include "platform/WindowPlacement.h"
#include "res/Icons.h"
#include "res/Menus.h"
#include "res/Strings.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"
#include "update/VersionCheck.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimer>
#include <QToolBar>
#include <QWhatsThis>
#include <utility>

namespace {

const char* const kCtrlId = "quillaCtrlId";
// How often and how many times the start file's preview looks whether the main window is framed.
constexpr int kStartFileFramePoll = 20; // milliseconds
constexpr int kStartFileFrameTries = 50;

QString BarSection(const QString& profile, int n) {
    return QStringLiteral("%1-Bar%2").arg(profile).arg(n);
}

unsigned DockIdOf(Qt::ToolBarArea area) {
    switch (area) {
    case Qt::LeftToolBarArea:
        return AFX_IDW_DOCKBAR_LEFT;
    case Qt::RightToolBarArea:
        return AFX_IDW_DOCKBAR_RIGHT;
    case Qt::BottomToolBarArea:
        return AFX_IDW_DOCKBAR_BOTTOM;
    default:
        return AFX_IDW_DOCKBAR_TOP;
    }
}

Qt::ToolBarArea AreaOfDockId(int id) {
    switch (id) {
    case AFX_IDW_DOCKBAR_LEFT:
        return Qt::LeftToolBarArea;
    case AFX_IDW_DOCKBAR_RIGHT:
        return Qt::RightToolBarArea;
    case AFX_IDW_DOCKBAR_BOTTOM:
        return Qt::BottomToolBarArea;
    default:
        return Qt::TopToolBarArea;
    }
}

} // namespace

CMainFrame::CMainFrame(CQuillaDoc* pDoc, CCmdTarget* pApp, QString helpFile)
    : m_pDocument(pDoc), m_pApp(pApp), m_strHelpFile(std::move(helpFile)), m_router([this] {
          std::vector<CCmdTarget*> route;
          if (m_pActiveView)
              route.push_back(m_pActiveView);
          route.push_back(this);
          if (m_pApp)
              route.push_back(m_pApp);
          return route;
      }) {
    MapCommand(ID_APP_EXIT, [this] { close(); });
    MapCommand(ID_VIEW_TOOLBAR, [this] { m_wndToolBar->setVisible(!m_wndToolBar->isVisible()); });
    MapUpdate(ID_VIEW_TOOLBAR, [this](CCmdUI* ui) { ui->SetCheck(m_wndToolBar->isVisible()); });
    MapCommand(ID_VIEW_STATUS_BAR,
               [this] { m_wndStatusBar->setVisible(!m_wndStatusBar->isVisible()); });
    MapUpdate(ID_VIEW_STATUS_BAR,
              [this](CCmdUI* ui) { ui->SetCheck(m_wndStatusBar->isVisible()); });
    MapCommand(ID_NEXT_PANE, [this] { ActivateOtherPane(); });
    MapCommand(ID_PREV_PANE, [this] { ActivateOtherPane(); });

    // The help's keyword index opens without the existence test.
    MapCommand(ID_HELP_KEYWORD, [this] {
        if (CHelpWindow* help = ShowHelpWindow())
            help->ShowTab(CHelpWindow::Tab::Index);
    });
    MapCommand(ID_HELP_HOMEPAGE, [this] { OpenLink(QUILLA_URL_HOME); });
    MapCommand(ID_HELP_FORUM, [this] { OpenLink(QUILLA_URL_FORUM); });
    MapCommand(ID_HELP_MAKER, [this] { OpenLink(QUILLA_URL_MAKER); });
    MapCommand(ID_HELP_SOFTWARE, [this] { OpenLink(QUILLA_URL_SOFTWARE); });
    MapCommand(ID_TOOL_SETTINGS, [this] { RunSettingsDialog(this); });
    MapCommand(ID_HELP_VERSION_CHECK, [this] { OnVersionCheck(); });

    // Check marks of the thumbnail size and sort items, whichever pane is active.
    MapUpdateRange(ID_SIZE_FIRST, ID_SIZE_LAST, [this](CCmdUI* ui) {
        CThumbnailView* view = m_pDocument ? m_pDocument->GetThumbnailView() : nullptr;
        if (!view)
            return;
        ui->SetCheck(view->ThumbnailSize() == CThumbnailView::SizeOfCommand(ui->m_nID));
    });
    MapUpdateRange(ID_SORT_NAME, ID_SORT_DATE, [this](CCmdUI* ui) {
        CThumbnailView* view = m_pDocument ? m_pDocument->GetThumbnailView() : nullptr;
        if (view)
            ui->SetCheck(ui->m_nID == ID_SORT_NAME + unsigned(view->SortMode()));
    });
    MapUpdate(ID_SORT_ASCEND, [this](CCmdUI* ui) {
        CThumbnailView* view = m_pDocument ? m_pDocument->GetThumbnailView() : nullptr;
        if (view)
            ui->SetCheck(view->SortAscending());
    });

    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::OnFocusChanged);
}

CMainFrame::~CMainFrame() {
    disconnect(qApp, &QApplication::focusChanged, this, &CMainFrame::OnFocusChanged);
    m_pActiveView = nullptr;
}

bool CMainFrame::LoadFrame() {
    // The title is fixed: it never shows the document or the folder.
    setWindowTitle(QStringLiteral("Norvo Pictoquill"));
    resize(900, 640);
    if (OnCreate() == -1)
        return false;
    RestorePlacement();
    return true;
}

void CMainFrame::RestorePlacement() {
    const QRect saved(Settings::Get(Settings::WindowLeft), Settings::Get(Settings::WindowTop),
                      Settings::Get(Settings::WindowWidth), Settings::Get(Settings::WindowHeight));
    if (saved.width() > 0 && saved.height() > 0)
        WindowPlacement::Apply(this, saved);
    // Shown maximised when it was closed so; the size above is the one it returns to.
    if (Settings::Get(Settings::WindowMaximized))
        setWindowState(windowState() | Qt::WindowMaximized);
}

void CMainFrame::SavePlacement() const {
    const QRect normal = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
    const QList<int> panes = m_wndSplitter->sizes();
    const int tree = panes.isEmpty() ? -1 : panes.first();
    Settings::WriteInts({{Settings::WindowLeft, normal.x()},
                         {Settings::WindowTop, normal.y()},
                         {Settings::WindowWidth, normal.width()},
                         {Settings::WindowHeight, normal.height()},
                         {Settings::WindowMaximized, isMaximized() ? 1 : 0},
                         {m_bStacked ? Settings::TreeHeight : Settings::TreeWidth, tree}});
}

int CMainFrame::OnCreate() {
    if (!OnCreateClient())
        return -1;
    CreateMenus();
    CreateAccelerators();
    if (!CreateToolBar() || !CreateStatusBar())
        return -1;
    LoadBarState(QLatin1String(Settings::BarStateProfile));
    return 0;
}

bool CMainFrame::OnCreateClient() {
    m_bStacked = Settings::Get(Settings::SplPos);
    m_wndSplitter = new QSplitter(m_bStacked ? Qt::Vertical : Qt::Horizontal, this);
    m_wndSplitter->setChildrenCollapsible(false);
    m_wndSplitter->setOpaqueResize(true);

    m_pDirView = new CDirView(m_wndSplitter);
    m_pDirView->setProperty(kCtrlId, int(AFX_IDW_PANE_FIRST));
    m_pDirView->AttachDocument(m_pDocument);
    m_pDirView->SetSite(this);
    m_pThumbView = new CThumbnailView(m_wndSplitter);
    m_pThumbView->setProperty(kCtrlId, int(AFX_IDW_PANE_FIRST + (m_bStacked ? 16 : 1)));
    m_pThumbView->AttachDocument(m_pDocument);
    m_pThumbView->SetSite(this);
    m_wndSplitter->addWidget(m_pDirView);
    m_wndSplitter->addWidget(m_pThumbView);

    // The tree keeps its size when the frame is resized; the grid takes the rest. The size the
    // user gave it last time comes back; until then View\Row or View\Colum gives it.
    const int saved = Settings::Get(m_bStacked ? Settings::TreeHeight : Settings::TreeWidth);
    const int first = saved >= 0   ? saved
                      : m_bStacked ? Settings::Get(Settings::Row)
                                   : Settings::Get(Settings::Colum);
    m_wndSplitter->setStretchFactor(0, 0);
    m_wndSplitter->setStretchFactor(1, 1);
    m_wndSplitter->setSizes({std::max(0, first), 260});
    setCentralWidget(m_wndSplitter);

    SetActiveView(m_pDirView);
    return true;
}

void CMainFrame::SetStartPath(const QString& folder, const QString& file) {
    m_strStartFolder = folder;
    m_strStartFile = folder.isEmpty() ? QString() : file;
}

void CMainFrame::InitialUpdateFrame() {
    for (CView* v : std::vector<CView*>(m_pDocument->Views()))
        v->OnInitialUpdate();
    SetActiveView(m_pDirView);
    // A file named at start: selected in the grid, when its folder could be shown and the file
    // is listed there.
    m_bStartFileSelected = false;
    if (m_strStartFile.isEmpty() || Folder() != m_strStartFolder)
        return;
    const int i = m_pThumbView->FindTileByName(m_strStartFile);
    if (i < 0)
        return;
    m_pThumbView->SelectAt(i, false, false);
    m_pThumbView->EnsureVisible(i);
    SetActiveView(m_pThumbView);
    m_bStartFileSelected = true;
}

void CMainFrame::OpenStartFile() {
    if (!std::exchange(m_bStartFileSelected, false))
        return;
    // The preview puts its frame, title bar included, in the screen's corner by the size of the
    // main window's frame. Just shown, the main window has no frame yet where a window manager
    // draws one, and the preview's title bar would lie above the screen: the window manager gets
    // a moment (a second at most) to frame the main window first.
    auto* wait = new QTimer(this);
    wait->setInterval(kStartFileFramePoll);
    connect(wait, &QTimer::timeout, this, [this, wait, tries = 0]() mutable {
        if (frameGeometry() == geometry() && ++tries < kStartFileFrameTries)
            return;
        wait->deleteLater();
        // Scrolled to when the grid did not yet have the size it has in the window shown.
        m_pThumbView->EnsureVisible(m_pThumbView->GetFocusIndex());
        m_pThumbView->OpenFocusInPreview();
    });
    wait->start();
}

QAction* CMainFrame::MakeAction(unsigned nID, const QString& text) {
    auto it = m_actions.find(nID);
    if (it != m_actions.end())
        return it->second;
    auto* action = new QAction(text, this);
    SetCommandId(action, nID);
    action->setStatusTip(Strings::Prompt(nID));
    action->setToolTip(Strings::Tooltip(nID));
    action->setIcon(Icons::ForCommand(nID));
    action->setIconVisibleInMenu(false);
    action->setMenuRole(QAction::NoRole);
    connect(action, &QAction::triggered, this, [this, nID] { m_router.Execute(nID); });
    m_actions.emplace(nID, action);
    return action;
}

QAction* CMainFrame::Action(unsigned nID) const {
    auto it = m_actions.find(nID);
    return it == m_actions.end() ? nullptr : it->second;
}

void CMainFrame::CreateMenus() {
    for (const MenuItem& popup : Menus::MainMenu())
        menuBar()->addMenu(Menus::Build(
            popup, menuBar(),
            [this](const MenuItem& item, QMenu*) { return MakeAction(item.id, item.text); },
            [this](QMenu* menu) {
                connect(menu, &QMenu::aboutToShow, this, [this, menu] { UpdateMenu(menu); });
            }));
}

void CMainFrame::UpdateMenu(QMenu* menu) {
    for (QAction* action : menu->actions())
        m_router.UpdateAction(action);
}

void CMainFrame::CreateAccelerators() {
    for (const Accelerator& acc : Menus::Accelerators()) {
        auto* sc = new QShortcut(acc.key, this);
        sc->setContext(Qt::WindowShortcut);
        const unsigned id = acc.id;
        connect(sc, &QShortcut::activated, this, [this, id] { m_router.Execute(id); });
    }
    // F1 asks for help on the control that has the focus.
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::WindowShortcut);
    connect(f1, &QShortcut::activated, this, [this] { OnHelpInfo(FocusControlId()); });
}

bool CMainFrame::CreateToolBar() {
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("toolbar"));
    m_wndToolBar->setWindowTitle(QStringLiteral("ﾂｰﾙ ﾊﾞｰ"));
    m_wndToolBar->setProperty(kCtrlId, int(AFX_IDW_TOOLBAR));
    m_wndToolBar->setIconSize(QSize(16, 15));
    m_wndToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    for (unsigned id : Menus::ToolbarButtons()) {
        if (id == 0)
            m_wndToolBar->addSeparator();
        else
            m_wndToolBar->addAction(MakeAction(id, Strings::Tooltip(id)));
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    return true;
}

bool CMainFrame::CreateStatusBar() {
    m_wndStatusBar = new QStatusBar(this);
    m_wndStatusBar->setObjectName(QStringLiteral("statusbar"));
    m_wndStatusBar->setProperty(kCtrlId, int(AFX_IDW_STATUS_BAR));
    m_wndMessage = new QLabel(Strings::Load(AFX_IDS_IDLEMESSAGE));
    m_wndStatusBar->addWidget(m_wndMessage, 1);
    const unsigned ids[4] = {ID_INDICATOR_KANA, ID_INDICATOR_CAPS, ID_INDICATOR_NUM,
                             ID_INDICATOR_SCRL};
    for (int i = 0; i < 4; ++i) {
        auto* label = new QLabel;
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setAlignment(Qt::AlignCenter);
        label->setProperty("indicatorText", Strings::Load(ids[i]));
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(Strings::Load(ids[i])) + 8);
        m_indicators[i] = label;
        m_wndStatusBar->addPermanentWidget(label);
    }
    setStatusBar(m_wndStatusBar);
    return true;
}

void CMainFrame::OnIdleUpdateCmdUI() {
    for (QAction* action : m_wndToolBar->actions())
        m_router.UpdateAction(action);
    const KeyLocks::Lock locks[4] = {KeyLocks::Kana, KeyLocks::Caps, KeyLocks::Num,
                                     KeyLocks::Scroll};
    for (int i = 0; i < 4; ++i) {
        const QString text = KeyLocks::IsOn(locks[i])
                                 ? m_indicators[i]->property("indicatorText").toString()
                                 : QString();
        if (m_indicators[i]->text() != text)
            m_indicators[i]->setText(text);
    }
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        SetMessageText(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::SetMessageText(const QString& text) {
    if (m_wndMessage)
        m_wndMessage->setText(text.isEmpty() ? Strings::Load(AFX_IDS_IDLEMESSAGE) : text);
}

QString CMainFrame::MessageText() const {
    return m_wndMessage ? m_wndMessage->text() : QString();
}

void CMainFrame::SetActiveView(CView* pView) {
    m_pActiveView = pView;
    QWidget* w = pView ? pView->Widget() : nullptr;
    if (w && !w->isAncestorOf(QApplication::focusWidget()) && QApplication::focusWidget() != w)
        w->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::OnFocusChanged(QWidget*, QWidget* now) {
    for (QWidget* w = now; w; w = w->parentWidget()) {
        if (w == m_pDirView) {
            m_pActiveView = m_pDirView;
            return;
        }
        if (w == m_pThumbView) {
            m_pActiveView = m_pThumbView;
            return;
        }
    }
}

void CMainFrame::ActivateOtherPane() {
    if (m_pActiveView == m_pDirView)
        SetActiveView(m_pThumbView);
    else
        SetActiveView(m_pDirView);
}

int CMainFrame::FocusControlId() const {
    for (QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
        const QVariant id = w->property(kCtrlId);
        if (id.isValid())
            return id.toInt();
        if (w == this)
            break;
    }
    return 0;
}

void CMainFrame::OpenLink(const char* url) {
    Desktop::OpenUrl(this, QUrl(QString::fromUtf8(url)));
}

void CMainFrame::OnVersionCheck() {
    VersionCheck::Config config;
    config.versionFile = VersionCheck::VersionFileAddress(QString::fromUtf8(QUILLA_URL_VERSION));
    config.homePage = QString::fromUtf8(QUILLA_URL_HOME);
    config.executable = QCoreApplication::applicationFilePath();
    VersionCheck::Run(this, config);
}

void CMainFrame::WinHelp(unsigned long dwData, unsigned nCmd) {
    const QString path = m_strHelpFile;
    {
        CWaitCursor wait;
        // Leave every mode that would hold the mouse or keyboard while the help is shown.
        if (QWhatsThis::inWhatsThisMode())
            QWhatsThis::leaveWhatsThisMode();
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        if (QWidget* grabber = QWidget::mouseGrabber())
            grabber->releaseMouse();
        if (QFileInfo::exists(path)) {
            // A context request shows the topic filed under its number (the start page when
            // the manual has none); the contents show the start page; help on help shows the
            // page on the help window itself. Other requests do nothing.
            if (nCmd != HELP_CONTEXT && nCmd != HELP_FINDER && nCmd != HELP_HELPONHELP)
                return;
            CHelpWindow* help = ShowHelpWindow();
            if (!help)
                return;
            if (nCmd == HELP_CONTEXT) {
                help->ShowContext(dwData);
            } else if (nCmd == HELP_FINDER) {
                help->ShowTab(CHelpWindow::Tab::Contents);
                help->ShowStartPage();
            } else {
                help->ShowIdentifier(CHelpWindow::HelpOnHelpId());
            }
            return;
        }
    }
    QuillaMessageBox(this, QStringLiteral("ヘルプファイルがありません：%1").arg(path));
}

void CMainFrame::SetHelpFile(const QString& path) {
    if (path == m_strHelpFile)
        return;
    m_strHelpFile = path;
    m_pHelpWindow.reset();
}

CHelpWindow* CMainFrame::ShowHelpWindow() {
    if (!m_pHelpWindow)
        m_pHelpWindow = std::make_unique<CHelpWindow>(m_strHelpFile);
    if (!m_pHelpWindow->Open()) {
        const QString reason = m_pHelpWindow->Error();
        m_pHelpWindow.reset();
        QuillaMessageBox(
            this,
            QStringLiteral("ヘルプファイルを開けませんでした：%1\n%2").arg(m_strHelpFile, reason));
        return nullptr;
    }
    m_pHelpWindow->Present();
    return m_pHelpWindow.get();
}

void CMainFrame::OnHelpInfo(int nCtrlId) {
    if (nCtrlId == 9 || nCtrlId <= 0) {
        m_router.Execute(ID_HELP);
        return;
    }
    WinHelp(0x10000UL + unsigned(nCtrlId), HELP_CONTEXT);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    SaveBarState(QLatin1String(Settings::BarStateProfile));
    SavePlacement();
    m_bClosed = true;
    QMainWindow::closeEvent(event);
    // Closing the main window ends the program: the preview and the help window go with it, and
    // the event loop ends (the application then destroys the frame, which writes the favourites).
    if (m_pThumbView)
        m_pThumbView->Preview().close();
    if (m_pHelpWindow)
        m_pHelpWindow->close();
    // The plug-in helpers are killed, so that no worker waits for a plug-in that hangs.
    SusieHost::Shutdown();
    QCoreApplication::quit();
}

QString CMainFrame::Folder() const {
    return m_pDocument ? m_pDocument->Folder() : QString();
}

bool CMainFrame::SetFolder(const QString& path) {
    return m_pDocument && m_pDocument->SetFolder(path);
}

void CMainFrame::UpdateAllViews(CView* pSender) {
    if (m_pDocument)
        m_pDocument->UpdateAllViews(pSender);
}

CView* CMainFrame::PaneView(Pane pane) const {
    if (!m_pDocument)
        return nullptr;
    if (pane == Pane::Tree)
        return m_pDocument->GetDirView();
    return m_pDocument->GetThumbnailView();
}

void CMainFrame::TrackFramePopup(QMenu& menu, QPoint globalPos) {
    UpdateMenu(&menu);
    if (QAction* chosen = menu.exec(globalPos))
        m_router.Execute(CommandIdOf(chosen));
}

void CMainFrame::SaveBarState(const QString& profile) const {
    const QString summary = profile + QStringLiteral("-Summary");
    const QSize screen = this->screen() ? this->screen()->size() : QSize();
    Profile::WriteInt(summary, QStringLiteral("Bars"), 2);
    Profile::WriteInt(summary, QStringLiteral("ScreenCX"), screen.width());
    Profile::WriteInt(summary, QStringLiteral("ScreenCY"), screen.height());

    // Visibility is what the user chose, not whether the frame happens to be on screen.
    const QString tb = BarSection(profile, 0);
    Profile::WriteInt(tb, QStringLiteral("BarID"), int(AFX_IDW_TOOLBAR));
    Profile::WriteInt(tb, QStringLiteral("Visible"), m_wndToolBar->isVisibleTo(this) ? 1 : 0);
    Profile::WriteInt(tb, QStringLiteral("Horz"),
                      m_wndToolBar->orientation() == Qt::Horizontal ? 1 : 0);
    Profile::WriteInt(tb, QStringLiteral("Floating"), m_wndToolBar->isFloating() ? 1 : 0);
    Profile::WriteInt(tb, QStringLiteral("XPos"), m_wndToolBar->x());
    Profile::WriteInt(tb, QStringLiteral("YPos"), m_wndToolBar->y());
    Profile::WriteInt(tb, QStringLiteral("MRUDockID"), int(DockIdOf(toolBarArea(m_wndToolBar))));

    const QString sb = BarSection(profile, 1);
    Profile::WriteInt(sb, QStringLiteral("BarID"), int(AFX_IDW_STATUS_BAR));
    Profile::WriteInt(sb, QStringLiteral("Visible"), m_wndStatusBar->isVisibleTo(this) ? 1 : 0);
}

void CMainFrame::LoadBarState(const QString& profile) {
    const int bars =
        Profile::GetInt(profile + QStringLiteral("-Summary"), QStringLiteral("Bars"), 0);
    for (int n = 0; n < bars; ++n) {
        const QString section = BarSection(profile, n);
        const int id = Profile::GetInt(section, QStringLiteral("BarID"), 0);
        const bool visible = Profile::GetInt(section, QStringLiteral("Visible"), 1) != 0;
        if (id == int(AFX_IDW_TOOLBAR)) {
            const int dock =
                Profile::GetInt(section, QStringLiteral("MRUDockID"), int(AFX_IDW_DOCKBAR_TOP));
            const Qt::ToolBarArea area = AreaOfDockId(dock);
            if (area != toolBarArea(m_wndToolBar)) {
                removeToolBar(m_wndToolBar);
                addToolBar(area, m_wndToolBar);
            }
            m_wndToolBar->setVisible(visible);
        } else if (id == int(AFX_IDW_STATUS_BAR)) {
            m_wndStatusBar->setVisible(visible);
        }
    }
}
