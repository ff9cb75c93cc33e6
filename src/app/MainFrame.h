// The main frame: menu, accelerators, toolbar, status bar, and the splitter with the folder tree
// and the thumbnail grid. It owns help, the web links, and the route of every command.
#pragma once

#include "platform/CmdTarget.h"
#include "platform/PaneSite.h"

#include <QMainWindow>
#include <map>
#include <memory>

class CDirView;
class CHelpWindow;
class CQuillaDoc;
class CThumbnailView;
class CView;
class QLabel;
class QMenu;
class QSplitter;
class QStatusBar;
class QToolBar;

class CMainFrame : public QMainWindow, public CCmdTarget, public CPaneSite {
    Q_OBJECT
public:
    // pApp ends the command route (the application's own commands); helpFile is the help
    // collection that the help commands open.
    CMainFrame(CQuillaDoc* pDoc, CCmdTarget* pApp, QString helpFile);
    ~CMainFrame() override;

    // Creates the window: title, menu, bars, panes, and the bars' saved state. Returns false when
    // a part cannot be created.
    bool LoadFrame();
    // The folder to show at start instead of the one the settings choose, and the file in it to
    // select ("" for none); set before InitialUpdateFrame.
    void SetStartPath(const QString& folder, const QString& file);
    // Gives both views their initial update and makes the tree the active view; with a start
    // file listed in the grid, the grid is active with that file selected.
    void InitialUpdateFrame();
    // Shows the start file selected by InitialUpdateFrame in the preview (after the frame is
    // shown, so that the preview lies above it).
    void OpenStartFile();

    CQuillaDoc* GetActiveDocument() const { return m_pDocument; }
    CView* GetActiveView() const { return m_pActiveView; }
    void SetActiveView(CView* pView);
    CDirView* DirView() const { return m_pDirView; }
    CThumbnailView* ThumbnailView() const { return m_pThumbView; }

    // The route of a command: the active view (then its document), the frame, the application.
    const CCmdRouter& Router() const { return m_router; }
    // The frame's action for a command (shared by the menu and the toolbar), or null.
    QAction* Action(unsigned nID) const;
    // Updates the state of every item of the menu (before it is shown).
    void UpdateMenu(QMenu* menu);
    // Idle-time update: toolbar buttons and the status bar's lock indicators.
    void OnIdleUpdateCmdUI();

    // The help routine for every help request of the program.
    void WinHelp(unsigned long dwData, unsigned nCmd);
    // The help collection the help commands open, and the help window once one was asked for.
    QString HelpFile() const { return m_strHelpFile; }
    void SetHelpFile(const QString& path);
    CHelpWindow* HelpWindow() const { return m_pHelpWindow.get(); }
    // A help request for a control (F1): nCtrlId is the identifier of the focused control.
    void OnHelpInfo(int nCtrlId);
    // The control identifier of the pane that holds the focus (0 when neither does).
    int FocusControlId() const;

    // The text shown in the status bar's message pane.
    QString MessageText() const;

    // What the panes ask of the window around them.
    QString Folder() const override;
    bool SetFolder(const QString& path) override;
    QString StartFolder() const override { return m_strStartFolder; }
    void UpdateAllViews(CView* pSender) override;
    CView* PaneView(Pane pane) const override;
    void TrackFramePopup(QMenu& menu, QPoint globalPos) override;

    void SaveBarState(const QString& profile) const;
    // The window's place, size and maximised state and the tree's size, written when the window
    // closes and given back when it is made (on a screen that still exists).
    void SavePlacement() const;
    void RestorePlacement();
    bool WasClosed() const { return m_bClosed; }
    void LoadBarState(const QString& profile);

    QSplitter* m_wndSplitter = nullptr;
    int m_bStacked = 0;
    QStatusBar* m_wndStatusBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    int OnCreate();
    bool OnCreateClient();
    void CreateMenus();
    QAction* MakeAction(unsigned nID, const QString& text);
    void CreateAccelerators();
    bool CreateToolBar();
    bool CreateStatusBar();
    void OnFocusChanged(QWidget* old, QWidget* now);
    void ActivateOtherPane();
    void OpenLink(const char* url);
    // The help window, opened on its collection and shown; null (after saying why) when the
    // collection cannot be read.
    CHelpWindow* ShowHelpWindow();
    // "最新バージョンの確認": the version file named at build time or by QUILLA_VERSION_URL.
    void OnVersionCheck();
    void SetMessageText(const QString& text);

    CQuillaDoc* m_pDocument;
    CCmdTarget* m_pApp;
    QString m_strHelpFile;
    std::unique_ptr<CHelpWindow> m_pHelpWindow;
    CDirView* m_pDirView = nullptr;
    CThumbnailView* m_pThumbView = nullptr;
    CView* m_pActiveView = nullptr;
    CCmdRouter m_router;
    std::map<unsigned, QAction*> m_actions;
    QLabel* m_wndMessage = nullptr;
    QLabel* m_indicators[4] = {};
    bool m_bClosed = false; // the window was closed (its bar state is written)
    QString m_strStartFolder;
    QString m_strStartFile;
    bool m_bStartFileSelected = false;
};
