#include "HttpServer.h"

#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>

namespace {

constexpr qint64 kEndlessChunk = 64 * 1024;

QByteArray ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

CTestHttpServer::CTestHttpServer() = default;

CTestHttpServer::~CTestHttpServer() {
    if (m_server)
        m_server->close();
}

bool CTestHttpServer::Listen() {
    m_server = std::make_unique<QTcpServer>();
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &CTestHttpServer::OnConnection);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

bool CTestHttpServer::ListenTls(const QString& certificateFile, const QString& keyFile) {
    QFile cert(certificateFile), key(keyFile);
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return false;
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(QSslCertificate(&cert, QSsl::Pem));
    config.setPrivateKey(QSslKey(&key, QSsl::Rsa, QSsl::Pem));
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(config);
    m_server = std::move(server);
    m_tls = true;
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &CTestHttpServer::OnConnection);
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QString CTestHttpServer::Url(const QString& path) const {
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(Port())
        .arg(path);
}

void CTestHttpServer::SetRaw(const QByteArray& response) {
    m_response = response;
    m_mode = Mode::Respond;
}

void CTestHttpServer::SetResponse(int status, const QByteArray& body,
                                  const QList<std::pair<QByteArray, QByteArray>>& headers) {
    QByteArray r = "HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonPhrase(status) + "\r\n";
    r += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    r += "Connection: close\r\n";
    for (const auto& [name, value] : headers)
        r += name + ": " + value + "\r\n";
    r += "\r\n";
    // A reply to a request that cannot have a body has none.
    if (status != 304)
        r += body;
    SetRaw(r);
}

QByteArray CTestHttpServer::LastHeader(const QByteArray& name) const {
    if (m_requests.isEmpty())
        return QByteArray();
    const QList<QByteArray> lines = m_requests.last().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return QByteArray();
}

void CTestHttpServer::OnConnection() {
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        ++m_connections;
        socket->setParent(this);
        socket->setProperty("head", QByteArray());
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { OnReadable(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void CTestHttpServer::OnReadable(QTcpSocket* socket) {
    QByteArray head = socket->property("head").toByteArray() + socket->readAll();
    socket->setProperty("head", head);
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0 || socket->property("answered").toBool())
        return;
    socket->setProperty("answered", true);
    m_requests.append(head.left(end));
    switch (m_mode) {
    case Mode::Respond:
        socket->write(m_response);
        socket->disconnectFromHost(); // after everything written has gone out
        break;
    case Mode::Silent:
        break;
    case Mode::Endless:
    case Mode::EndlessHead: {
        const bool head = m_mode == Mode::EndlessHead;
        socket->write(head ? "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                           : "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\n");
        connect(socket, &QTcpSocket::bytesWritten, this,
                [this, socket, head] { FeedEndless(socket, head); });
        connect(socket, &QTcpSocket::disconnected, this, [this] { ++m_clientsGone; });
        FeedEndless(socket, head);
        break;
    }
    }
}

void CTestHttpServer::FeedEndless(QTcpSocket* socket, bool head) {
    // Keeps a chunk queued while the peer reads; stops when it goes away.
    if (socket->state() != QAbstractSocket::ConnectedState ||
        socket->bytesToWrite() > kEndlessChunk)
        return;
    QByteArray chunk(kEndlessChunk, 'x');
    for (qsizetype i = 99; i < chunk.size(); i += 100) {
        if (head) // "X-Filler: xxx…" lines ending in CR LF
            chunk.replace(i - 99, 10, "X-Filler: ").replace(i - 1, 1, "\r");
        chunk[i] = '\n';
    }
    socket->write(chunk);
    m_endlessWritten += chunk.size();
}
