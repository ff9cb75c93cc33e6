#include "convert/ConvertBatch.h"

#include "convert/Alert1Dlg.h"
#include "convert/Convert.h"
#include "convert/StatusDlg.h"
#include "convert/TypeChangeDlg.h"
#include "platform/FileNames.h"
#include "platform/Files.h"
#include "platform/MsgBox.h"
#include "platform/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QPointer>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QSet>
#include <QtConcurrent/QtConcurrentRun>
#include <memory>

namespace ConvertBatch {

std::function<void(CStatusDlg&, int)> s_onFile;

namespace {

bool g_running = false;
QPointer<CStatusDlg> g_status;
// Output folders are made as the shell makes folders (the mask applies).
constexpr int kFolderMode = 0777;

struct FileResult {
    Convert::Result result = Convert::Result::Ok;
    bool interrupted = false; // the event loop was ended from outside (the program is leaving)
};

// Converts one file. The worker passes no progress texts, so the library never opens a window
// off this thread; this thread handles input and painting until the worker is done.
FileResult ConvertOne(const Convert::Request& request) {
    // The options are read here, as the file's conversion starts, so the worker reads no settings.
    const Convert::Options options = Convert::Options().Resolved();
    if (options.Display() != 0)
        return {Convert::ConvertFile(request, options, true), false};
    QFutureWatcher<Convert::Result> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    watcher.setFuture(QtConcurrent::run(
        [request, options] { return Convert::ConvertFile(request, options, false); }));
    bool interrupted = false;
    if (!watcher.isFinished()) {
        loop.exec();
        // The loop also ends when the program quits; the file in work is still finished.
        interrupted = !watcher.isFinished();
    }
    return {watcher.future().result(), interrupted};
}

// The same-file caution; false when the file is to be skipped. The do-not-show-again value is
// written however the dialog closes: taken from the box only on OK.
bool ConfirmOverwrite(QWidget* owner, const QString& source) {
    CAlert1Dlg dlg(owner);
    dlg.m_strCaption = QStringLiteral("上書きされます");
    dlg.m_strMessage = QStringLiteral("ファイル変換で同一フォルダが指定されました。ファイル形式も同"
                                      "じなので以下のファイルは変換後に"
                                      "上書きされます。元のファイルは残りません");
    dlg.m_strDetail = FileNames::Display(source);
    const bool ok = dlg.exec() == QDialog::Accepted;
    Settings::Write(Settings::AlertTypeChange, ok && dlg.m_bDontShow ? 1 : 0);
    return ok;
}

// "変換できません - " and the file, with the reason on a line of its own when there is one.
void ReportFailure(QWidget* owner, const QString& source, const QString& reason = QString()) {
    QString text = QStringLiteral("変換できません - ") + FileNames::Display(source);
    if (!reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    QuillaMessageBox(owner, text, MB_OK);
}

} // namespace

bool IsRunning() {
    return g_running;
}

Outcome Run(QWidget* owner, const QString& workingDir, const std::vector<Source>& selection) {
    if (g_running) {
        if (g_status) {
            g_status->raise();
            g_status->activateWindow();
        }
        return Outcome::Done;
    }
    const QScopedValueRollback<bool> running(g_running, true);

    CTypeChangeDlg dlg(owner);
    dlg.m_strFolder = FileNames::Display(workingDir);
    if (dlg.exec() != QDialog::Accepted)
        return Outcome::Done;

    // The folder with its separator; a relative name is taken from the folder shown, so that the
    // destinations stay put whatever the tree does meanwhile. The field shows names decoded (a
    // name that is not UTF-8 holds code page 932 bytes), so the text is matched back to the names
    // the file system has; paths are joined as strings and tested and made by their exact bytes.
    const QString typed = dlg.m_strFolder;
    const QString withSeparator = Convert::WithSeparator(typed);
    const QString folder = Convert::WithSeparator(
        FileNames::FromShown(QDir::cleanPath(withSeparator.startsWith(QLatin1Char('/'))
                                                 ? withSeparator
                                                 : workingDir + QLatin1Char('/') + withSeparator)));
    const std::optional<Files::Info> info = Files::Stat(folder);
    if (!info || !info->isFolder) {
        if (QuillaMessageBox(owner,
                             QStringLiteral("出力先フォルダがありません。新規に作成しますか？"),
                             MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
            return Outcome::Done;
        // The whole path: every missing level is made.
        if (!Files::MakeFolders(folder, kFolderMode)) {
            QuillaMessageBox(
                owner,
                QStringLiteral(
                    "フォルダを作成できませんでした。フォルダ名が正しいか確認してください"),
                MB_OK);
            return Outcome::Done;
        }
    }

    const int bits = Convert::BitsOfColourIndex(dlg.m_nColor);
    const int width = dlg.m_bResize ? dlg.m_nWidth : 0;
    const int height = dlg.m_bResize ? dlg.m_nHeight : 0;
    if (selection.empty())
        return Outcome::Done;

    auto status = std::make_unique<CStatusDlg>();
    g_status = status.get();
    status->m_strMessage = QStringLiteral("変換中です...");
    status->m_progress->setRange(0, int(selection.size()));
    status->Create(owner);

    QSet<QString> written; // the outputs this batch has written
    for (size_t i = 0; i < selection.size(); ++i) {
        const QString& source = selection[i].path;
        QCoreApplication::processEvents();
        if (status->StopRequested())
            return Outcome::Done; // no refresh, whatever was written
        status->m_progress->setValue(int(i));
        status->m_strFile = FileNames::Display(source);
        status->UpdateData();
        QCoreApplication::processEvents();
        if (s_onFile)
            s_onFile(*status, int(i));

        const QString destination =
            Convert::DestinationOf(folder, selection[i].name, dlg.m_nFormat);
        // Two sources of one base name (a.png and a.jpg to BMP): the second would replace what
        // the first has just written.
        if (written.contains(destination)) {
            ReportFailure(owner, source,
                          QStringLiteral("出力ファイル %1 はこの変換で既に書き込まれています")
                              .arg(FileNames::Display(destination)));
            continue;
        }
        if (Files::IsReadOnlyFile(destination)) {
            ReportFailure(owner, source,
                          QStringLiteral("出力ファイル %1 は読み取り専用のため置き換えません")
                              .arg(FileNames::Display(destination)));
            continue;
        }
        if (destination == source && Settings::Get(Settings::AlertTypeChange) == 0 &&
            !ConfirmOverwrite(owner, source))
            continue;

        const FileResult r = ConvertOne({source, destination, dlg.m_nFormat, bits, width, height});
        if (r.interrupted)
            return Outcome::Done;
        if (r.result == Convert::Result::ResizeFailed)
            QuillaMessageBox(owner, FileNames::Display(source), MB_OK);
        if (r.result == Convert::Result::Ok)
            written.insert(destination);
        else
            ReportFailure(owner, source);
    }
    status.reset();
    // The folder as typed: a trailing separator makes it differ from the working directory.
    return FileNames::FromShown(typed).compare(workingDir, Qt::CaseInsensitive) == 0
               ? Outcome::Refresh
               : Outcome::Done;
}

} // namespace ConvertBatch
