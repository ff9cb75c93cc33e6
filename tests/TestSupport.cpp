#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "platform/Desktop.h"
#include "thumbs/ThumbnailView.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QSettings>
#include <QTimer>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

void RemoveTreeNative(const QString& folder) {
    ::nftw(
        QFile::encodeName(folder).constData(),
        [](const char* path, const struct stat*, int, FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

QByteArray ReadNative(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return QByteArray();
    QByteArray out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        out.append(buf, n);
    ::close(fd);
    return out;
}

bool WriteNative(const QByteArray& path, const QByteArray& bytes, unsigned mode) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, mode_t(mode));
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    ::close(fd);
    ::chmod(path.constData(), mode_t(mode)); // exactly this mode, whatever the umask
    return ok;
}

bool ExistsNative(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0;
}

QStringList TileNames(const CThumbnailView* view) {
    QStringList out;
    for (const auto& t : view->Tiles())
        out << t->m_strName;
    return out;
}

QStringList SelectedNames(const CThumbnailView* view) {
    QStringList out;
    for (const auto& t : view->Tiles())
        if (t->m_bSelected)
            out << t->m_strName;
    return out;
}

QString FocusedName(const CThumbnailView* view) {
    const int f = view->GetFocusIndex();
    return f >= 0 && f < int(view->Tiles().size()) ? view->Tiles()[size_t(f)]->m_strName
                                                   : QString();
}

TempSettings::TempSettings() {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
}

TempSettings::~TempSettings() = default;

QString TempSettings::FilePath() const {
    return m_dir.filePath(QStringLiteral("Norvo/Quilla.conf"));
}

void TempSettings::WriteRaw(const QByteArray& iniText) const {
    QDir().mkpath(m_dir.filePath(QStringLiteral("Norvo")));
    QFile f(FilePath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(iniText);
}

QByteArray TempSettings::ReadRaw() const {
    QFile f(FilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TempSettings::Exists() const {
    return QFile::exists(FilePath());
}

void AppTest::SetUp() {
    m_oldResponder = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
        m_boxes.push_back(r);
        return m_boxAnswer;
    });
    Desktop::SetOpener([this](const QUrl& url) {
        m_opened.push_back(url);
        return m_openAnswer;
    });
    Prepare();
    ASSERT_TRUE(App()->InitInstance());
    Spin();
}

void AppTest::TearDown() {
    App()->ExitMainFrame();
    Desktop::SetOpener({});
    SetMessageBoxResponder(std::move(m_oldResponder));
}

void AppTest::Restart(bool closeFirst) {
    if (closeFirst && Frame())
        Frame()->close();
    App()->ExitMainFrame();
    ASSERT_TRUE(App()->InitInstance());
    Spin();
}

CQuillaApp* AppTest::App() const {
    return QuillaApp();
}

CMainFrame* AppTest::Frame() const {
    return QuillaApp()->MainFrame();
}

void AppTest::Spin(int ms) {
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool WaitForPictures(CThumbnailView* view, int ms) {
    // The loop sleeps between events, so the workers keep their cores.
    const QDeadlineTimer deadline(ms);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (!view->IsLoading() || deadline.hasExpired())
            loop.quit();
    });
    check.start(2);
    if (view->IsLoading())
        loop.exec();
    return !view->IsLoading();
}
