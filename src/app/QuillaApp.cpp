#include "app/QuillaApp.h"

#include "app/AboutDlg.h"
#include "app/MainFrame.h"
#include "app/QuillaDoc.h"
#include "app/config.h"
#include "imaging/ImageLibrary.h"
#include "imaging/SusieHost.h"
#include "platform/Fonts.h"
#include "platform/HelpRequest.h"
#include "platform/Settings.h"
#include "res/Icons.h"
#include "res/Strings.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"

#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>
#include <utility>

CQuillaApp* QuillaApp() {
    return qobject_cast<CQuillaApp*>(QCoreApplication::instance());
}

CQuillaApp::CQuillaApp(int& argc, char** argv)
    : QApplication(argc, argv), m_idle([this](long n) { return OnIdle(n); }) {
    setApplicationVersion(QStringLiteral(QUILLA_VERSION));
    // The desktop matches the windows with the installed entry quilla.desktop (name and icon).
    setDesktopFileName(QStringLiteral("quilla"));
    Fonts::InstallSubstitutions();
    // Qt's own dialogs (fonts, folders, colours) speak Japanese like the rest of the program,
    // whatever the locale.
    auto translator = std::make_unique<QTranslator>(this);
    if (translator->load(QStringLiteral("qtbase_ja"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(translator.release());
    // When the session ends without the main window being closed, the program still leaves as
    // closing would: the bar state, the window's place and, with the tree, the favourites are
    // written.
    connect(this, &QCoreApplication::aboutToQuit, this, [this] {
        if (m_pMainWnd && !m_pMainWnd->WasClosed()) {
            m_pMainWnd->SaveBarState(QLatin1String(Settings::BarStateProfile));
            m_pMainWnd->SavePlacement();
        }
        // Whatever a plug-in is doing, its helper ends now and the workers waiting for it go.
        SusieHost::Shutdown();
        ExitMainFrame();
    });

    MapCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    // The framework's help commands, all ending in the main frame's help routine.
    MapCommand(ID_HELP_FINDER, [this] { WinHelp(0, HELP_FINDER); });
    MapCommand(ID_HELP_INDEX, [this] { WinHelp(0, HELP_INDEX); });
    MapCommand(ID_DEFAULT_HELP, [this] { WinHelp(0, HELP_INDEX); });
    MapCommand(ID_HELP_USING, [this] { WinHelp(0, HELP_HELPONHELP); });
    MapCommand(ID_HELP, [this] { WinHelp(0x20000 + IDR_MAINFRAME, HELP_CONTEXT); });
    MapCommand(ID_CONTEXT_HELP, [this] { WinHelp(0x20000 + IDR_MAINFRAME, HELP_CONTEXT); });
    // Dialogs below the application (the option pages) reach the help routine through this.
    HelpRequest::SetHandler([this](unsigned long dwData, unsigned nCmd) { WinHelp(dwData, nCmd); });
}

CQuillaApp::~CQuillaApp() {
    HelpRequest::SetHandler({});
    ExitMainFrame();
}

void CQuillaApp::SetStartPath(const QString& folder, const QString& file) {
    m_strStartFolder = folder;
    m_strStartFile = file;
}

bool CQuillaApp::InitInstance() {
    // The clipboard and drag and drop need no separate initialisation on this platform. The
    // imaging library is loaded first; a failure shows only where images are used.
    LoadImageLibrary();
    // The help collection lies next to the executable, whatever the current directory.
    m_strHelpFilePath = QDir(applicationDirPath()).filePath(QStringLiteral("quilla.qhc"));
    // Every setting from here on lives under Norvo/Quilla.
    setOrganizationName(QStringLiteral("Norvo"));
    setApplicationName(Strings::Load(AFX_IDS_APP_TITLE));
    // The standard profile settings (there is no recent-file list).
    Settings::Get(Settings::PreviewPages);
    // Import plug-ins, when they are switched on: those checked before are in use at once, the
    // others come on line when their check has answered. A frame made again after the last one
    // closed may use them again.
    SusieHost::Resume();
    SusieHost::SetOnlineHandler([this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_pMainWnd && m_pMainWnd->ThumbnailView())
                    m_pMainWnd->ThumbnailView()->RefreshList();
            },
            Qt::QueuedConnection);
    });
    if (Settings::Get(Settings::UseSusiePlugin) != 0)
        SusieHost::LoadFolderInBackground(Settings::Get(Settings::SusiePlugin));
    // The document, the main frame and its two views.
    ExitMainFrame();
    m_pDocument = std::make_unique<CQuillaDoc>();
    auto frame = std::make_unique<CMainFrame>(m_pDocument.get(), this, m_strHelpFilePath);
    if (!frame->LoadFrame()) {
        frame.reset();
        m_pDocument.reset();
        return false;
    }
    m_pMainWnd = std::move(frame);
    m_pMainWnd->setWindowIcon(Icons::Application());
    // A folder or file from the command line, for this start only.
    m_pMainWnd->SetStartPath(std::exchange(m_strStartFolder, QString()),
                             std::exchange(m_strStartFile, QString()));
    m_pMainWnd->InitialUpdateFrame();
    m_pMainWnd->show();
    m_pMainWnd->OpenStartFile();
    m_idle.Wake();
    return true;
}

bool CQuillaApp::OnIdle(long lCount) {
    // The framework's part: command-update handling of the bars while the count is 0. The
    // thumbnails are made by the grid's workers, which need no idle time.
    if (lCount > 0 || !m_pMainWnd)
        return false;
    m_pMainWnd->OnIdleUpdateCmdUI();
    return false;
}

void CQuillaApp::ExitMainFrame() {
    // The frame is out of reach before it goes, so nothing it destroys finds it half gone.
    std::unique_ptr<CMainFrame> frame = std::move(m_pMainWnd);
    frame.reset();
    m_pDocument.reset();
}

void CQuillaApp::WinHelp(unsigned long dwData, unsigned nCmd) {
    if (m_pMainWnd)
        m_pMainWnd->WinHelp(dwData, nCmd);
}

void CQuillaApp::OnAppAbout() {
    CAboutDlg dlg(m_pMainWnd.get());
    dlg.exec();
}
