// One HTTP GET of the version file, bounded in time and size. The exchange runs in Qt's network
// layer while the caller's event loop turns; Finished() says when it has ended, however it ended.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

class CVersionFetch : public QObject {
    Q_OBJECT
public:
    enum class Outcome {
        Running,    // not started, or not ended yet
        Received,   // a status up to 299 and the whole body, within the limits
        BadAddress, // the address cannot be split into service, server, path and port
        Failed,     // no connection, a status of 300 or more, an error, a time-out, too big a body
        Cancelled,  // Cancel() was called
    };

    // How long the exchange may take and how much it may read.
    struct Limits {
        int connectMs = 15000;     // until the request has gone out (connection, TLS included)
        int totalMs = 30000;       // the whole exchange
        qint64 maxBytes = 1 << 20; // the body; a longer one is not read on and fails
        qint64 maxHeaderBytes = 64 << 10; // the status line and the headers; more fails
    };

    explicit CVersionFetch(QObject* parent = nullptr);
    ~CVersionFetch() override;

    void SetLimits(const Limits& limits) { m_limits = limits; }
    const Limits& GetLimits() const { return m_limits; }

    // An http:// or https:// address with a server, or nothing when it cannot be split.
    static std::optional<QUrl> SplitAddress(const QString& address);

    // Starts the GET: the system's proxy settings, never a cache, the headers "Accept: text/*"
    // and "User-Agent: Mozilla/4.0*", redirects not followed. An address that cannot be split
    // ends at once with BadAddress; Finished() is emitted in every case, never from inside Start.
    void Start(const QString& address);
    // Ends the exchange as Cancelled (nothing when it has already ended).
    void Cancel();

    Outcome Result() const { return m_outcome; }
    bool IsRunning() const { return m_outcome == Outcome::Running && m_reply; }
    // The body received (also what had come before a failure).
    const QByteArray& Body() const { return m_body; }
    // The HTTP status, 0 when none was received.
    int Status() const { return m_status; }
    // Why the exchange failed, for the curious; "" when it did not.
    const QString& Reason() const { return m_reason; }

signals:
    void Finished();

private:
    void OnMetaData();
    void OnReadyRead();
    void OnFinished();
    // Counts the response's head (status line and headers) once it has come; false, after
    // ending the exchange, when it is over its limits.
    bool CheckHead();
    // Ends a running exchange with that outcome and reason.
    void Stop(Outcome outcome, const QString& reason);
    void Finish(Outcome outcome, const QString& reason);

    Limits m_limits;
    std::unique_ptr<QNetworkAccessManager> m_manager;
    QNetworkReply* m_reply = nullptr; // owned by the manager; deleted when the exchange ends
    QTimer* m_connectTimer = nullptr;
    QTimer* m_totalTimer = nullptr;
    Outcome m_outcome = Outcome::Running;
    QByteArray m_body;
    qint64 m_headBytes = -1; // the size of the response's head; -1 until it has come
    int m_status = 0;
    QString m_reason;
};
