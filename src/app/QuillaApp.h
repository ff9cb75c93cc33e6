// The application object: start-up, idle processing and the application-level commands.
#pragma once

#include "platform/CmdTarget.h"
#include "platform/IdleHook.h"

#include <QApplication>
#include <memory>

class CMainFrame;
class CQuillaDoc;

class CQuillaApp : public QApplication, public CCmdTarget {
    Q_OBJECT
public:
    CQuillaApp(int& argc, char** argv);
    ~CQuillaApp() override;

    // The folder to start in and the file in it to select and show, from the command line ("" for
    // none). They apply to the next start-up only and are never written to the settings.
    void SetStartPath(const QString& folder, const QString& file);

    // Start-up: returns true to run the event loop, false to end the program.
    virtual bool InitInstance();
    // Idle processing: the frame's command-update work, then one thumbnail load. Returns true
    // while more idle time is wanted.
    virtual bool OnIdle(long lCount);

    // Destroys the main frame and the document (the end of the program; tests start again with
    // InitInstance afterwards).
    void ExitMainFrame();

    CMainFrame* MainFrame() const { return m_pMainWnd.get(); }
    CQuillaDoc* Document() const { return m_pDocument.get(); }
    CIdleHook& IdleHook() { return m_idle; }

    // The help file: the help collection "quilla.qhc" in the executable's folder (it names the
    // manual quilla.qch beside it).
    QString m_strHelpFilePath;

    // Passes a help request to the main frame's help routine.
    void WinHelp(unsigned long dwData, unsigned nCmd);

private:
    void OnAppAbout();

    std::unique_ptr<CQuillaDoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    CIdleHook m_idle;
    QString m_strStartFolder;
    QString m_strStartFile;
};

// The one application object.
CQuillaApp* QuillaApp();
