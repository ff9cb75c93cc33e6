#include "app/QuillaApp.h"

#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/QuillaDoc.h"
#include "app/Settings.h"
#include "app/config.h"
#include "imaging/ImageLibrary.h"
#include "imaging/SusieHost.h"
#include "platform/Fonts.h"
#include "res/Icons.h"
#include "res/Strings.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"

#include <QDir>

CQuillaApp* QuillaApp() {
    return qobject_cast<CQuillaApp*>(QCoreApplication::instance());
}

CQuillaApp::CQuillaApp(int& argc, char** argv)
    : QApplication(argc, argv), m_idle([this](long n) { return OnIdle(n); }) {
    setApplicationVersion(QStringLiteral(QUILLA_VERSION));
    Fonts::InstallSubstitutions();

    MapCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    // The framework's help commands, all ending in the main frame's help routine.
    MapCommand(ID_HELP_FINDER, [this] { WinHelp(0, HELP_FINDER); });
    MapCommand(ID_HELP_INDEX, [this] { WinHelp(0, HELP_INDEX); });
    MapCommand(ID_DEFAULT_HELP, [this] { WinHelp(0, HELP_INDEX); });
    MapCommand(ID_HELP_USING, [this] { WinHelp(0, HELP_HELPONHELP); });
    MapCommand(ID_HELP, [this] { WinHelp(0x20000 + IDR_MAINFRAME, HELP_CONTEXT); });
    MapCommand(ID_CONTEXT_HELP, [this] { WinHelp(0x20000 + IDR_MAINFRAME, HELP_CONTEXT); });
}

CQuillaApp::~CQuillaApp() {
    ExitMainFrame();
}

bool CQuillaApp::InitInstance() {
    // 1. Clipboard and drag and drop need no separate initialisation on this platform.
    // 2. The imaging library; a failure shows where images are used.
    LoadImageLibrary();
    // 3. The help file lies next to the executable, whatever the current directory.
    m_strHelpFilePath = QDir(applicationDirPath()).filePath(QStringLiteral("quilla.chm"));
    // 5. Every setting from here on lives under Norvo/Quilla.
    setOrganizationName(QStringLiteral("Norvo"));
    setApplicationName(Strings::Load(AFX_IDS_APP_TITLE));
    // 6. The standard profile settings (there is no recent-file list).
    Settings::Get(Settings::PreviewPages);
    // 7. Import plug-ins.
    if (Settings::Get(Settings::UseSusiePlugin) != 0)
        SusieHost::LoadPlugins(Settings::Get(Settings::SusiePlugin));
    // 8, 9. The document, the main frame and its two views.
    ExitMainFrame();
    m_pDocument = std::make_unique<CQuillaDoc>();
    auto* frame = new CMainFrame(m_pDocument.get());
    if (!frame->LoadFrame()) {
        delete frame;
        m_pDocument.reset();
        return false;
    }
    m_pMainWnd = frame;
    frame->setWindowIcon(Icons::Application());
    frame->InitialUpdateFrame();
    // 10.
    frame->show();
    m_idle.Wake();
    return true;
}

bool CQuillaApp::OnIdle(long lCount) {
    // The framework's part: command-update handling of the bars while the count is 0.
    bool r = false;
    if (lCount <= 0) {
        if (m_pMainWnd)
            m_pMainWnd->OnIdleUpdateCmdUI();
        r = true;
    }
    // The idle loader: one thumbnail per call.
    if (!m_pMainWnd)
        return r;
    CQuillaDoc* doc = m_pMainWnd->GetActiveDocument();
    CThumbnailView* view = doc ? doc->GetThumbnailView() : nullptr;
    if (!view)
        return r;
    return view->LoadNextPicture() || r;
}

void CQuillaApp::ExitMainFrame() {
    if (m_pMainWnd) {
        CMainFrame* frame = m_pMainWnd;
        m_pMainWnd = nullptr;
        delete frame;
    }
    m_pDocument.reset();
}

void CQuillaApp::WinHelp(unsigned long dwData, unsigned nCmd) {
    if (m_pMainWnd)
        m_pMainWnd->WinHelp(dwData, nCmd);
}

void CQuillaApp::OnAppAbout() {
    CAboutDlg dlg(m_pMainWnd);
    dlg.exec();
}
