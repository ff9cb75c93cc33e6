// The HTTP exchange against a real server on 127.0.0.1: statuses, redirects, headers, time-outs,
// bodies too long or endless, closed ports, addresses that cannot be split, TLS, the proxy.
#include "update/VersionFetch.h"
#include "HttpServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using Outcome = CVersionFetch::Outcome;

struct FetchRun {
    Outcome outcome = Outcome::Running;
    QByteArray body;
    int status = 0;
    QString reason;
    qint64 ms = 0;
    bool finishedInsideStart = false;
};

FetchRun Fetch(const QString& address, const CVersionFetch::Limits& limits = {},
               const std::function<void(CVersionFetch&)>& meanwhile = {}) {
    CVersionFetch fetch;
    fetch.SetLimits(limits);
    QSignalSpy spy(&fetch, &CVersionFetch::Finished);
    QElapsedTimer clock;
    clock.start();
    fetch.Start(address);
    FetchRun run;
    run.finishedInsideStart = spy.count() > 0;
    if (meanwhile)
        QTimer::singleShot(200, &fetch, [&] { meanwhile(fetch); });
    if (spy.count() == 0)
        spy.wait(60000);
    run.ms = clock.elapsed();
    EXPECT_EQ(spy.count(), 1) << address.toStdString();
    run.outcome = fetch.Result();
    run.body = fetch.Body();
    run.status = fetch.Status();
    run.reason = fetch.Reason();
    return run;
}

// Proxy settings of the environment would send the tests' requests elsewhere.
void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        qunsetenv(name);
}

class VersionFetch_ : public ::testing::Test {
protected:
    void SetUp() override {
        ClearProxyEnvironment();
        ASSERT_TRUE(m_server.Listen());
    }
    CTestHttpServer m_server;
};

} // namespace

TEST_F(VersionFetch_, ReceivesTheBodyWithTheRequestHeaders) {
    m_server.SetResponse(200, "Quilla,1.60,2007/10/01,message\n", {{"Content-Type", "text/plain"}});
    const FetchRun run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Received) << run.reason.toStdString();
    EXPECT_EQ(run.status, 200);
    EXPECT_EQ(run.body, QByteArray("Quilla,1.60,2007/10/01,message\n"));
    EXPECT_FALSE(run.finishedInsideStart);

    ASSERT_EQ(m_server.Requests().size(), 1);
    EXPECT_TRUE(m_server.Requests()[0].startsWith("GET /version.txt HTTP/1.1\r\n"))
        << m_server.Requests()[0].toStdString();
    EXPECT_EQ(m_server.LastHeader("Accept"), QByteArray("text/*"));
    EXPECT_EQ(m_server.LastHeader("User-Agent"), QByteArray("Mozilla/4.0*"));
    EXPECT_EQ(m_server.LastHeader("Host"),
              QByteArray("127.0.0.1:") + QByteArray::number(m_server.Port()));
    // Never an answer from a cache, never a compressed body.
    EXPECT_EQ(m_server.LastHeader("Cache-Control"), QByteArray("no-cache"));
    EXPECT_EQ(m_server.LastHeader("Pragma"), QByteArray("no-cache"));
    EXPECT_EQ(m_server.LastHeader("Accept-Encoding"), QByteArray("identity"));
    EXPECT_EQ(m_server.LastHeader("If-Modified-Since"), QByteArray());
}

TEST_F(VersionFetch_, EveryExchangeGoesToTheServer) {
    m_server.SetResponse(200, "first\n", {{"Cache-Control", "max-age=3600"}});
    EXPECT_EQ(Fetch(m_server.Url()).body, QByteArray("first\n"));
    m_server.SetResponse(200, "second\n");
    EXPECT_EQ(Fetch(m_server.Url()).body, QByteArray("second\n"));
    EXPECT_EQ(m_server.Requests().size(), 2);
}

TEST_F(VersionFetch_, StatusesFromThreeHundredFail) {
    for (int status : {304, 404, 500}) {
        m_server.SetResponse(status, "Quilla,1.60,2007/10/01,not to be used\n");
        const FetchRun run = Fetch(m_server.Url());
        EXPECT_EQ(run.outcome, Outcome::Failed) << status;
        EXPECT_EQ(run.status, status);
        EXPECT_TRUE(run.reason.contains(QString::number(status))) << run.reason.toStdString();
    }
    // 2xx other than 200 is a success (here with nothing in it).
    m_server.SetResponse(204, "");
    EXPECT_EQ(Fetch(m_server.Url()).outcome, Outcome::Received);
}

TEST_F(VersionFetch_, RedirectsAreNotFollowed) {
    CTestHttpServer target;
    ASSERT_TRUE(target.Listen());
    target.SetResponse(200, "Quilla,1.60,2007/10/01,moved\n");
    for (int status : {301, 302}) {
        m_server.SetResponse(status, "", {{"Location", target.Url().toUtf8()}});
        const FetchRun run = Fetch(m_server.Url());
        EXPECT_EQ(run.outcome, Outcome::Failed) << status;
        EXPECT_EQ(run.status, status);
    }
    EXPECT_TRUE(target.Requests().isEmpty());
}

TEST_F(VersionFetch_, LastLineWithoutLineFeedAndCarriageReturnsArriveAsSent) {
    const QByteArray body = "Other,1\r\n\r\nQuilla,1.60,2007/10/01,no line feed";
    m_server.SetResponse(200, body);
    EXPECT_EQ(Fetch(m_server.Url()).body, body);
    // Without a length the body ends when the server closes the connection.
    m_server.SetRaw("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n" + body);
    const FetchRun run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Received);
    EXPECT_EQ(run.body, body);
}

TEST_F(VersionFetch_, ABodyLongerThanTheLimitIsNotReadOn) {
    // Announced by its length: refused before it is read.
    const QByteArray big(10 * 1024 * 1024, 'x');
    m_server.SetResponse(200, big);
    FetchRun run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_LE(run.body.size(), 1 << 20);
    // Without a length: read up to the limit, then given up.
    m_server.SetRaw("HTTP/1.0 200 OK\r\n\r\n" + big);
    run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(run.body.size(), 1 << 20);
    EXPECT_EQ(run.reason,
              QStringLiteral("バージョン情報のファイルが 1048576 バイトを超えています"));
    // Exactly the limit is still a file.
    m_server.SetResponse(200, QByteArray(1 << 20, 'y'));
    EXPECT_EQ(Fetch(m_server.Url()).outcome, Outcome::Received);
}

TEST_F(VersionFetch_, AHeadLongerThanTheLimitIsNotReadOn) {
    const QString tooLong = QStringLiteral("応答のヘッダーが 65536 バイトを超えています");
    // 1.7 MB of header lines before a short body: refused with its reason, nothing of the body
    // kept.
    QList<std::pair<QByteArray, QByteArray>> filler;
    for (int i = 0; i < 90; ++i)
        filler.append({"X-Filler-" + QByteArray::number(i), QByteArray(19000, 'h')});
    m_server.SetResponse(200, "Quilla,1.60,2007/10/01,after the headers\n", filler);
    FetchRun run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_TRUE(run.body.isEmpty());
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.reason, tooLong);

    // A head that never ends: reading stops soon after the limit and the connection is dropped
    // (the server sees the client go away long before any time-out).
    m_server.SetMode(CTestHttpServer::Mode::EndlessHead);
    run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(run.reason, tooLong);
    EXPECT_LT(run.ms, 10000);
    QElapsedTimer waited;
    waited.start();
    while (m_server.ClientsGone() == 0 && waited.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_EQ(m_server.ClientsGone(), 1);
    EXPECT_LT(m_server.EndlessBytesWritten(), qint64(16) << 20);

    // One line longer than the limit on its own.
    m_server.SetResponse(200, "Quilla,1.60\n", {{"X-Filler", QByteArray(80000, 'h')}});
    run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(run.reason, tooLong);

    // The limit itself: "HTTP/1.1 200 OK", "Content-Length: 12", "Connection: close" and the
    // empty line are 58 bytes with their line ends, "X-Filler: " and its line end 12 more.
    const qsizetype exactly = (64 << 10) - 70;
    m_server.SetResponse(200, "Quilla,1.60\n", {{"X-Filler", QByteArray(exactly + 1, 'h')}});
    run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(run.reason, tooLong);
    m_server.SetResponse(200, "Quilla,1.60\n", {{"X-Filler", QByteArray(exactly, 'h')}});
    run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Received) << run.reason.toStdString();
    EXPECT_EQ(run.body, "Quilla,1.60\n");
}

TEST_F(VersionFetch_, AnEndlessBodyEndsAtTheLimit) {
    m_server.SetMode(CTestHttpServer::Mode::Endless);
    const FetchRun run = Fetch(m_server.Url());
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(run.body.size(), 1 << 20);
    // The server was stopped soon after the limit, not read to the end of time.
    EXPECT_LT(m_server.EndlessBytesWritten(), qint64(16) << 20);
}

TEST_F(VersionFetch_, AServerThatNeverAnswersTimesOut) {
    m_server.SetMode(CTestHttpServer::Mode::Silent);
    CVersionFetch::Limits limits;
    limits.connectMs = 10000;
    limits.totalMs = 500;
    const FetchRun run = Fetch(m_server.Url(), limits);
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_GE(run.ms, 450);
    EXPECT_LT(run.ms, 8000);
    // The request had gone out: the total limit ended it, not the connection's.
    EXPECT_EQ(run.reason, QStringLiteral("500 ミリ秒以内に受信が終わりませんでした"));
    EXPECT_EQ(m_server.Requests().size(), 1);
}

TEST_F(VersionFetch_, AConnectionThatNeverGetsReadyTimesOut) {
    // A TLS client meets a server that accepts and says nothing: the handshake never ends, so the
    // request never goes out.
    m_server.SetMode(CTestHttpServer::Mode::Silent);
    CVersionFetch::Limits limits;
    limits.connectMs = 400;
    limits.totalMs = 20000;
    const QString https = QStringLiteral("https://127.0.0.1:%1/version.txt").arg(m_server.Port());
    const FetchRun run = Fetch(https, limits);
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_LT(run.ms, 8000);
    EXPECT_EQ(run.reason, QStringLiteral("400 ミリ秒以内にサーバーに接続できませんでした"));
    EXPECT_EQ(m_server.Connections(), 1);
}

TEST_F(VersionFetch_, AClosedPortFails) {
    // A port that was free a moment ago, with nothing listening at it now.
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    const FetchRun run = Fetch(QStringLiteral("http://127.0.0.1:%1/version.txt").arg(port));
    EXPECT_EQ(run.outcome, Outcome::Failed);
    EXPECT_EQ(run.status, 0);
    EXPECT_LT(run.ms, 8000);
}

TEST_F(VersionFetch_, AddressesThatCannotBeSplit) {
    for (const char* address :
         {"", "version.txt", "/pictoquill/version.txt", "htp//norvo.jp/v.txt",
          "ftp://norvo.jp/version.txt", "file:///etc/passwd", "http://", "http:///version.txt",
          "http://[::1/version.txt", "http://norvo.jp:99999/version.txt",
          "http://nor vo.jp/version.txt"}) {
        const FetchRun run = Fetch(QString::fromUtf8(address));
        EXPECT_EQ(run.outcome, Outcome::BadAddress) << address;
        EXPECT_FALSE(run.finishedInsideStart) << address;
    }
    EXPECT_TRUE(CVersionFetch::SplitAddress(QStringLiteral("HTTP://www.norvo.jp/version.txt")));
    EXPECT_TRUE(CVersionFetch::SplitAddress(QStringLiteral("https://www.norvo.jp:8443/v.txt")));
    EXPECT_TRUE(m_server.Requests().isEmpty());
}

TEST_F(VersionFetch_, CancelEndsAWaitingExchange) {
    m_server.SetMode(CTestHttpServer::Mode::Silent);
    const FetchRun run = Fetch(m_server.Url(), {}, [](CVersionFetch& f) { f.Cancel(); });
    EXPECT_EQ(run.outcome, Outcome::Cancelled);
    EXPECT_LT(run.ms, 5000);
}

TEST_F(VersionFetch_, GoesThroughTheSystemsProxy) {
    // The proxy of the environment, as the desktop passes it on: the request goes to the proxy
    // with the whole address.
    qputenv("http_proxy", QStringLiteral("http://127.0.0.1:%1/").arg(m_server.Port()).toUtf8());
    m_server.SetResponse(200, "Quilla,1.60,2007/10/01,through the proxy\n");
    const FetchRun run =
        Fetch(QStringLiteral("http://version.norvo.invalid/pictoquill/version.txt"));
    qunsetenv("http_proxy");
    EXPECT_EQ(run.outcome, Outcome::Received) << run.reason.toStdString();
    ASSERT_EQ(m_server.Requests().size(), 1);
    EXPECT_TRUE(m_server.Requests()[0].startsWith(
        "GET http://version.norvo.invalid/pictoquill/version.txt HTTP/1.1"))
        << m_server.Requests()[0].toStdString();
}

// HTTPS with a certificate made for the test: refused while nobody trusts it, received once the
// trusted certificates that OpenSSL's variable names include it.
TEST_F(VersionFetch_, HttpsWhenTheAddressSaysSo) {
    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                   "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key,
                   "-out", cert});
    ASSERT_TRUE(openssl.waitForFinished(60000));
    ASSERT_EQ(openssl.exitCode(), 0) << openssl.readAllStandardError().toStdString();

    CTestHttpServer tls;
    ASSERT_TRUE(tls.ListenTls(cert, key));
    tls.SetResponse(200, "Quilla,1.60,2007/10/01,over TLS\n");
    ASSERT_TRUE(tls.Url().startsWith(QStringLiteral("https://")));
    const FetchRun untrusted = Fetch(tls.Url());
    EXPECT_EQ(untrusted.outcome, Outcome::Failed);
    EXPECT_TRUE(tls.Requests().isEmpty());

    EXPECT_EQ(untrusted.reason, QStringLiteral("サーバーの証明書を確かめられませんでした"));

    qputenv("SSL_CERT_FILE", QFile::encodeName(cert));
    const FetchRun trusted = Fetch(tls.Url());
    qunsetenv("SSL_CERT_FILE");
    EXPECT_EQ(trusted.outcome, Outcome::Received) << trusted.reason.toStdString();
    EXPECT_EQ(trusted.body, QByteArray("Quilla,1.60,2007/10/01,over TLS\n"));
    ASSERT_EQ(tls.Requests().size(), 1);
    EXPECT_EQ(tls.LastHeader("User-Agent"), QByteArray("Mozilla/4.0*"));
}
