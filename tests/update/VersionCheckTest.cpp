// The version check command: its question, its messages, the comparison with the program file's
// time, the result dialog and its home-page button, the wait, and the frame's command 33022.
#include "update/VersionCheck.h"
#include "HttpServer.h"
#include "TestSupport.h"
#include "app/MainFrame.h"
#include "app/config.h"
#include "platform/Desktop.h"
#include "platform/FileNames.h"
#include "res/Strings.h"
#include "res/resource.h"
#include "update/VerupDlg.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

using Result = VersionCheck::Result;

const QString kQuestion = QStringLiteral(
    "このソフトが最新版かどうか確認しますか？\r\n注：インターネットに接続していることが必要です");
const QString kFailed = QStringLiteral("バージョンアップ情報の取得に失敗しました");
const QString kNewest = QStringLiteral("現在お使いのバージョンが最新版です");
const QString kHome = QStringLiteral("https://example.org/pictoquill/");

struct Shown {
    QString version, date, message;
    QString caption;
    bool homePageIsDefault = false;
};

class VersionCheck_ : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                 "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
        ASSERT_TRUE(m_server.Listen());
        m_oldResponder = SetMessageBoxResponder([this](const MsgBoxRequest& r) {
            m_boxes.push_back(r);
            // The question is answered as told; every other box with OK.
            return r.text == kQuestion ? m_answer : IDOK;
        });
        Desktop::SetOpener([this](const QUrl& url) {
            m_opened.push_back(url);
            return true;
        });
        CVerupDlg::s_answer = [this](CVerupDlg& dlg) {
            ++m_dialogs;
            m_shown.version = dlg.VersionField()->text();
            m_shown.date = dlg.DateField()->text();
            m_shown.message = dlg.MessageField()->toPlainText();
            m_shown.caption = dlg.windowTitle();
            m_shown.homePageIsDefault = dlg.HomePageButton()->isDefault();
            return m_dialogAnswer;
        };
        // The program file: written now unless a test says otherwise.
        m_exe = m_dir.filePath(QStringLiteral("quilla"));
        QFile f(m_exe);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    void TearDown() override {
        CVerupDlg::s_answer = {};
        Desktop::SetOpener({});
        SetMessageBoxResponder(std::move(m_oldResponder));
        VersionCheck::SetLimits({});
    }

    void SetProgramTime(const QDateTime& when) {
        QFile f(m_exe);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    }

    Result Check(const QString& address) {
        return VersionCheck::Run(nullptr, {address, kHome, m_exe});
    }
    Result Check() { return Check(m_server.Url()); }

    QStringList Texts() const {
        QStringList out;
        for (const MsgBoxRequest& r : m_boxes)
            out << r.text;
        return out;
    }

    CTestHttpServer m_server;
    QTemporaryDir m_dir;
    QString m_exe;
    int m_answer = IDYES;
    int m_dialogAnswer = QDialog::Rejected;
    int m_dialogs = 0;
    Shown m_shown;
    std::vector<MsgBoxRequest> m_boxes;
    std::vector<QUrl> m_opened;
    MsgBoxResponder m_oldResponder;
};

} // namespace

TEST_F(VersionCheck_, TheQuestionComesFirstAndOnlyYesGoesOn) {
    m_server.SetResponse(200, "Quilla,9.0,2036/01/01,newer\n");
    for (int answer : {IDNO, IDCANCEL}) {
        m_boxes.clear();
        m_answer = answer;
        EXPECT_EQ(Check(), Result::NotAsked);
        ASSERT_EQ(m_boxes.size(), 1u);
        EXPECT_EQ(m_boxes[0].text, kQuestion);
        EXPECT_EQ(m_boxes[0].type, unsigned(MB_YESNO | MB_ICONQUESTION));
    }
    EXPECT_TRUE(m_server.Requests().isEmpty());
    EXPECT_EQ(m_dialogs, 0);
}

TEST_F(VersionCheck_, ANewerReleaseFillsTheDialogAndItsButtonOpensTheHomePage) {
    m_server.SetResponse(200, "Other,1.0,2030/1/1,another product\r\n"
                              "Quilla,2.10 beta,2036/4/5,Faster thumbnails, and more\r\n");
    m_dialogAnswer = QDialog::Accepted;
    EXPECT_EQ(Check(), Result::Newer);
    EXPECT_EQ(Texts(), QStringList{kQuestion});
    EXPECT_EQ(m_dialogs, 1);
    EXPECT_EQ(m_shown.version, QStringLiteral("2.10 beta"));
    EXPECT_EQ(m_shown.date, QStringLiteral("2036/04/05"));
    EXPECT_EQ(m_shown.message, QStringLiteral("Faster thumbnails")); // cut at the comma
    EXPECT_EQ(m_shown.caption, QStringLiteral("バージョンアップしています"));
    EXPECT_TRUE(m_shown.homePageIsDefault);
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0], QUrl(kHome));

    // "閉じる" just closes.
    m_opened.clear();
    m_dialogAnswer = QDialog::Rejected;
    EXPECT_EQ(Check(), Result::Newer);
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(VersionCheck_, ACurrentProgramIsTheNewest) {
    m_server.SetResponse(200, "Quilla,1.0,2001/01/01,first release");
    EXPECT_EQ(Check(), Result::Newest);
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_EQ(m_boxes[1].text, kNewest);
    EXPECT_EQ(m_boxes[1].type, unsigned(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(m_dialogs, 0);
    EXPECT_TRUE(m_opened.empty());
}

TEST_F(VersionCheck_, AProgramWrittenOnTheReleaseDayIsTheRelease) {
    m_server.SetResponse(200, "Quilla,1.60,2007/10/01,release\n");
    const QDateTime midnight(QDate(2007, 10, 1), QTime(0, 0), Qt::LocalTime);
    SetProgramTime(midnight);
    EXPECT_EQ(Check(), Result::Newest);
    SetProgramTime(midnight.addSecs(23 * 3600));
    EXPECT_EQ(Check(), Result::Newest);
    SetProgramTime(midnight.addSecs(-1));
    EXPECT_EQ(Check(), Result::Newer);
    EXPECT_EQ(m_shown.date, QStringLiteral("2007/10/01"));
}

TEST_F(VersionCheck_, EveryFailureShowsTheOneMessage) {
    struct Case {
        const char* what;
        int status;
        QByteArray body;
    };
    const Case cases[] = {
        {"not modified", 304, "Quilla,9.0,2036/01/01,x\n"},
        {"not found", 404, "Quilla,9.0,2036/01/01,x\n"},
        {"server error", 500, "Quilla,9.0,2036/01/01,x\n"},
        {"no product line", 200, "Quilla2,9.0,2036/01/01,x\nXQuilla,9.0,2036/01/01,x\n"},
        {"empty file", 200, ""},
        {"year before the range", 200, "Quilla,9.0,2000/12/31,x\n"},
        {"year after the range", 200, "Quilla,9.0,2037/01/01,x\n"},
        {"no date", 200, "Quilla,9.0\n"},
    };
    for (const Case& c : cases) {
        m_boxes.clear();
        m_server.SetResponse(c.status, c.body);
        EXPECT_EQ(Check(), Result::Failed) << c.what;
        EXPECT_EQ(Texts(), (QStringList{kQuestion, kFailed})) << c.what;
        if (m_boxes.size() == 2) {
            EXPECT_EQ(m_boxes[1].type, unsigned(MB_OK)) << c.what;
        }
    }
    EXPECT_EQ(m_dialogs, 0);
}

TEST_F(VersionCheck_, ARedirectIsAFailure) {
    CTestHttpServer target;
    ASSERT_TRUE(target.Listen());
    target.SetResponse(200, "Quilla,9.0,2036/01/01,moved\n");
    m_server.SetResponse(302, "", {{"Location", target.Url().toUtf8()}});
    EXPECT_EQ(Check(), Result::Failed);
    EXPECT_EQ(Texts(), (QStringList{kQuestion, kFailed}));
    EXPECT_TRUE(target.Requests().isEmpty());
}

TEST_F(VersionCheck_, AnAddressThatCannotBeSplitIsNamed) {
    const QString bad = QStringLiteral("htp//www.norvo.jp/version.txt");
    EXPECT_EQ(Check(bad), Result::Failed);
    EXPECT_EQ(Texts(),
              (QStringList{kQuestion, bad + QStringLiteral("の解析に失敗しました"), kFailed}));
}

TEST_F(VersionCheck_, AClosedPortFails) {
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    EXPECT_EQ(Check(QStringLiteral("http://127.0.0.1:%1/version.txt").arg(port)), Result::Failed);
    EXPECT_EQ(Texts(), (QStringList{kQuestion, kFailed}));
}

TEST_F(VersionCheck_, HugeAndEndlessBodiesFail) {
    m_server.SetResponse(200, "Quilla,9.0,2036/01/01,x\n" + QByteArray(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(Check(), Result::Failed);
    m_server.SetRaw("HTTP/1.0 200 OK\r\n\r\nQuilla,9.0,2036/01/01,x\n" +
                    QByteArray(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(Check(), Result::Failed);
    m_server.SetMode(CTestHttpServer::Mode::Endless);
    EXPECT_EQ(Check(), Result::Failed);
    EXPECT_EQ(m_dialogs, 0);
}

TEST_F(VersionCheck_, ASilentServerTimesOutWhileTheUserSeesTheWait) {
    m_server.SetMode(CTestHttpServer::Mode::Silent);
    CVersionFetch::Limits limits;
    limits.totalMs = 800;
    VersionCheck::SetLimits(limits);
    bool waitCursor = false;
    QString progressText;
    bool progressModal = false;
    QTimer::singleShot(300, [&] {
        waitCursor = QApplication::overrideCursor() &&
                     QApplication::overrideCursor()->shape() == Qt::WaitCursor;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible()) {
                progressText = p->labelText();
                progressModal = p->isModal();
            }
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Check(), Result::Failed);
    EXPECT_GE(clock.elapsed(), 750);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(Texts(), (QStringList{kQuestion, kFailed}));
    EXPECT_TRUE(waitCursor);
    EXPECT_FALSE(progressText.isEmpty());
    EXPECT_TRUE(progressModal);
    // Everything is put back afterwards.
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    for (QWidget* w : QApplication::topLevelWidgets())
        EXPECT_FALSE(qobject_cast<QProgressDialog*>(w) && w->isVisible());
}

TEST_F(VersionCheck_, TheProgressWindowsCancelEndsTheCommandQuietly) {
    m_server.SetMode(CTestHttpServer::Mode::Silent);
    QTimer::singleShot(300, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* p = qobject_cast<QProgressDialog*>(w); p && p->isVisible())
                if (QPushButton* cancel = p->findChild<QPushButton*>())
                    cancel->click();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Check(), Result::Cancelled);
    EXPECT_LT(clock.elapsed(), 10000); // long before the default time-outs
    EXPECT_EQ(Texts(), QStringList{kQuestion});
}

TEST_F(VersionCheck_, TheProgramEndingMeanwhileEndsTheCheckQuietly) {
    // The command runs from the program's event loop, which is told to end while it waits.
    m_server.SetMode(CTestHttpServer::Mode::Silent);
    Result result = Result::NotAsked;
    QTimer::singleShot(0, [&] { result = Check(); });
    QTimer::singleShot(300, [] { QCoreApplication::exit(0); });
    QElapsedTimer clock;
    clock.start();
    QCoreApplication::exec();
    EXPECT_EQ(result, Result::Cancelled);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(Texts(), QStringList{kQuestion});
}

TEST_F(VersionCheck_, VersionFilesInUtf8AndCodePage932) {
    const QString line =
        QStringLiteral("Quilla,2.0 正式版,2036/1/2,サムネイルの表示が速くなりました");
    m_server.SetResponse(200, (line + QStringLiteral("\r\n")).toUtf8());
    EXPECT_EQ(Check(), Result::Newer);
    EXPECT_EQ(m_shown.version, QStringLiteral("2.0 正式版"));
    EXPECT_EQ(m_shown.message, QStringLiteral("サムネイルの表示が速くなりました"));

    m_shown = {};
    const std::optional<QByteArray> sjis = FileNames::Cp932::Encode(line + QStringLiteral("\r\n"));
    ASSERT_TRUE(sjis);
    m_server.SetResponse(200, *sjis);
    EXPECT_EQ(Check(), Result::Newer);
    EXPECT_EQ(m_shown.version, QStringLiteral("2.0 正式版"));
    EXPECT_EQ(m_shown.message, QStringLiteral("サムネイルの表示が速くなりました"));
    EXPECT_EQ(m_shown.date, QStringLiteral("2036/01/02"));
}

TEST(VersionCheckAddress, TheEnvironmentNamesAnotherFile) {
    const QString built = QStringLiteral("https://www.norvo.jp/pictoquill/version.txt");
    qunsetenv(VersionCheck::kAddressVariable);
    EXPECT_EQ(VersionCheck::VersionFileAddress(built), built);
    qputenv(VersionCheck::kAddressVariable, "");
    EXPECT_EQ(VersionCheck::VersionFileAddress(built), built);
    qputenv(VersionCheck::kAddressVariable, "http://127.0.0.1:8080/v.txt");
    EXPECT_EQ(VersionCheck::VersionFileAddress(built),
              QStringLiteral("http://127.0.0.1:8080/v.txt"));
    qunsetenv(VersionCheck::kAddressVariable);
}

TEST(VerupDlg, FieldsAndButtons) {
    CVerupDlg dlg;
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("バージョンアップしています"));
    EXPECT_TRUE(dlg.m_strDate.isEmpty() && dlg.m_strMessage.isEmpty() &&
                dlg.m_strVersion.isEmpty());
    EXPECT_EQ(dlg.HomePageButton()->text(),
              QStringLiteral("ホームページを開いて最新版をダウンロードする"));
    EXPECT_EQ(dlg.CloseButton()->text(), QStringLiteral("閉じる"));
    EXPECT_TRUE(dlg.DateField()->isReadOnly());
    EXPECT_TRUE(dlg.VersionField()->isReadOnly());
    EXPECT_TRUE(dlg.MessageField()->isReadOnly());
    EXPECT_EQ(dlg.VersionField()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(dlg.DateField()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_EQ(dlg.MessageField()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(dlg.findChild<QLineEdit*>(QStringLiteral("139")), dlg.DateField());
    EXPECT_EQ(dlg.findChild<QLineEdit*>(QStringLiteral("223")), dlg.VersionField());
    EXPECT_EQ(dlg.findChild<QPlainTextEdit*>(QStringLiteral("140")), dlg.MessageField());

    // The real dialog: the home-page button accepts, "閉じる" rejects.
    dlg.m_strVersion = QStringLiteral("1.60");
    QTimer::singleShot(0, &dlg, [&] { dlg.HomePageButton()->click(); });
    EXPECT_EQ(dlg.exec(), int(QDialog::Accepted));
    EXPECT_EQ(dlg.VersionField()->text(), QStringLiteral("1.60"));
    QTimer::singleShot(0, &dlg, [&] { dlg.CloseButton()->click(); });
    EXPECT_EQ(dlg.exec(), int(QDialog::Rejected));
}

// The frame's command 33022, with the version file named by the environment.
class VersionCommand_ : public AppTest {};

TEST_F(VersionCommand_, TheHelpMenusCommandChecksTheFileOfTheEnvironment) {
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
    CTestHttpServer server;
    ASSERT_TRUE(server.Listen());
    server.SetResponse(200, "Quilla,9.9,2036/12/31,the newest\n");
    qputenv(VersionCheck::kAddressVariable, server.Url().toUtf8());
    m_boxAnswer = IDYES;
    QString version;
    CVerupDlg::s_answer = [&](CVerupDlg& dlg) {
        version = dlg.VersionField()->text();
        return int(QDialog::Accepted);
    };
    Frame()->Router().Execute(ID_HELP_VERSION_CHECK);
    CVerupDlg::s_answer = {};
    qunsetenv(VersionCheck::kAddressVariable);

    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].text, kQuestion);
    EXPECT_EQ(m_boxes[0].owner, Frame());
    EXPECT_EQ(server.Requests().size(), 1);
    EXPECT_EQ(version, QStringLiteral("9.9"));
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0], QUrl(QString::fromUtf8(QUILLA_URL_HOME)));
    // The menu item's prompt.
    EXPECT_EQ(Frame()->Action(ID_HELP_VERSION_CHECK)->statusTip(),
              QStringLiteral("ｲﾝﾀｰﾈｯﾄに接続し新バージョンを確認"));
}
