#include "update/VersionCheck.h"

#include "platform/Desktop.h"
#include "platform/MsgBox.h"
#include "platform/WaitCursor.h"
#include "update/VersionFile.h"
#include "update/VerupDlg.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>

namespace VersionCheck {

namespace {

CVersionFetch::Limits& CurrentLimits() {
    static CVersionFetch::Limits limits;
    return limits;
}

const QString kQuestion = QStringLiteral(
    "このソフトが最新版かどうか確認しますか？\r\n注：インターネットに接続していることが必要です");
const QString kFailed = QStringLiteral("バージョンアップ情報の取得に失敗しました");
const QString kNewest = QStringLiteral("現在お使いのバージョンが最新版です");
const QString kBadAddress = QStringLiteral("の解析に失敗しました");

// Fetches the file while the user waits; the user may cancel. Returns the fetch's outcome.
CVersionFetch::Outcome FetchWaiting(QWidget* owner, const QString& address, QByteArray& body) {
    CVersionFetch fetch;
    fetch.SetLimits(CurrentLimits());
    QEventLoop loop;
    bool ended = false;
    QObject::connect(&fetch, &CVersionFetch::Finished, &loop, [&] {
        ended = true;
        loop.quit();
    });

    CWaitCursor wait;
    QProgressDialog progress(QStringLiteral("最新バージョンの情報を取得しています..."),
                             QStringLiteral("キャンセル"), 0, 0, owner);
    progress.setWindowTitle(QStringLiteral("Quilla"));
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    // Modal and shown at once: nothing else of the program can start while the command waits.
    progress.setWindowModality(Qt::ApplicationModal);
    QObject::connect(&progress, &QProgressDialog::canceled, &fetch, &CVersionFetch::Cancel);

    fetch.Start(address);
    progress.show();
    if (!ended)
        loop.exec();
    // The loop also ends when the whole program is told to end (the session closes): the check
    // then ends quietly rather than holding up the end with a message.
    if (!ended)
        fetch.Cancel();
    progress.hide();
    body = fetch.Body();
    return fetch.Result();
}

} // namespace

QString VersionFileAddress(const QString& built) {
    const QString fromEnvironment = qEnvironmentVariable(kAddressVariable);
    return fromEnvironment.isEmpty() ? built : fromEnvironment;
}

CVersionFetch::Limits SetLimits(const CVersionFetch::Limits& limits) {
    const CVersionFetch::Limits old = CurrentLimits();
    CurrentLimits() = limits;
    return old;
}

Result Run(QWidget* owner, const Config& config) {
    if (QuillaMessageBox(owner, kQuestion, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return Result::NotAsked;

    QByteArray body;
    switch (FetchWaiting(owner, config.versionFile, body)) {
    case CVersionFetch::Outcome::Cancelled:
        return Result::Cancelled;
    case CVersionFetch::Outcome::BadAddress:
        QuillaMessageBox(owner, config.versionFile + kBadAddress);
        QuillaMessageBox(owner, kFailed);
        return Result::Failed;
    case CVersionFetch::Outcome::Received:
        break;
    default:
        QuillaMessageBox(owner, kFailed);
        return Result::Failed;
    }

    const std::optional<QString> line = VersionFile::FindProductLine(
        VersionFile::Decode(body), QLatin1String(VersionFile::kProductKey));
    const std::optional<QDateTime> released = line ? VersionFile::ParseDate(*line) : std::nullopt;
    if (!released) {
        QuillaMessageBox(owner, kFailed);
        return Result::Failed;
    }

    // The release date means midnight at its start: a program file written on that day is the
    // release itself.
    const QDateTime modified = QFileInfo(config.executable).lastModified();
    if (modified.isValid() && modified >= *released) {
        QuillaMessageBox(owner, kNewest, MB_OK | MB_ICONINFORMATION);
        return Result::Newest;
    }

    CVerupDlg dlg(owner);
    dlg.m_strVersion = VersionFile::FieldOf(*line, VersionFile::VersionField);
    dlg.m_strMessage = VersionFile::FieldOf(*line, VersionFile::MessageField);
    dlg.m_strDate = VersionFile::FormatDate(*released);
    if (dlg.exec() == QDialog::Accepted)
        Desktop::OpenUrl(owner, QUrl(config.homePage));
    return Result::Newer;
}

} // namespace VersionCheck
