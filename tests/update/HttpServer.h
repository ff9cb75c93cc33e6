// A small HTTP server on 127.0.0.1 for the version check's tests, run by the test's own event
// loop: it answers every request the same way, as told, and keeps what it was asked.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <memory>
#include <utility>

class QTcpSocket;

class CTestHttpServer : public QObject {
    Q_OBJECT
public:
    enum class Mode {
        Respond,     // writes the response, then closes the connection
        Silent,      // accepts and reads, never answers
        Endless,     // a status of 200 without a length, then a body that never ends
        EndlessHead, // a status of 200, then header lines that never end
    };

    CTestHttpServer();
    ~CTestHttpServer() override;

    // Listens on 127.0.0.1 at a free port.
    bool Listen();
    // The same over TLS with the certificate and key (PEM files).
    bool ListenTls(const QString& certificateFile, const QString& keyFile);
    quint16 Port() const { return m_server->serverPort(); }
    // The address of a file on this server (https:// when it speaks TLS).
    QString Url(const QString& path = QStringLiteral("/version.txt")) const;
    // Connections accepted so far.
    int Connections() const { return m_connections; }

    // The complete response, bytes as they go on the wire.
    void SetRaw(const QByteArray& response);
    // A response with the status, "Content-Length", "Connection: close" and the extra headers.
    void SetResponse(int status, const QByteArray& body,
                     const QList<std::pair<QByteArray, QByteArray>>& headers = {});
    void SetMode(Mode mode) { m_mode = mode; }

    // The head of every request received (request line and headers), in order.
    const QList<QByteArray>& Requests() const { return m_requests; }
    // The value of a header of the last request ("" when absent; names are compared without
    // regard to case).
    QByteArray LastHeader(const QByteArray& name) const;
    // How many bytes of an endless body or head were written.
    qint64 EndlessBytesWritten() const { return m_endlessWritten; }
    // Connections that ended while the server was still writing an endless body or head: the
    // client went away.
    int ClientsGone() const { return m_clientsGone; }

private:
    void OnConnection();
    void OnReadable(QTcpSocket* socket);
    void FeedEndless(QTcpSocket* socket, bool head);

    std::unique_ptr<QTcpServer> m_server;
    bool m_tls = false;
    int m_connections = 0;
    Mode m_mode = Mode::Respond;
    QByteArray m_response;
    QList<QByteArray> m_requests;
    qint64 m_endlessWritten = 0;
    int m_clientsGone = 0;
};
