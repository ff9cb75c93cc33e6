// One HTTP GET of the version file, bounded in time and size. The exchange runs in libcurl on a
// thread of its own while the caller's event loop turns; Finished() says, on the caller's thread,
// when it has ended, however it ended.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>
#include <thread>

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
        int connectMs = 15000;     // until the request can go out (connection, TLS included)
        int totalMs = 30000;       // the whole exchange
        qint64 maxBytes = 1 << 20; // the body; a longer one is not read on and fails
        // The status line and the headers, as they come on the wire; reading stops as soon as
        // they pass this, and the exchange fails.
        qint64 maxHeaderBytes = 64 << 10;
    };

    explicit CVersionFetch(QObject* parent = nullptr);
    // Ends a running exchange without a word (the worker stops at once: it is woken, never
    // waited out).
    ~CVersionFetch() override;

    void SetLimits(const Limits& limits) { m_limits = limits; }
    const Limits& GetLimits() const { return m_limits; }

    // An http:// or https:// address with a server, or nothing when it cannot be split.
    static std::optional<QUrl> SplitAddress(const QString& address);

    // Starts the GET: the proxy of the environment (http_proxy, https_proxy, no_proxy), the
    // system's trusted certificates (or those SSL_CERT_FILE and SSL_CERT_DIR name), never a
    // cache, the headers "Accept: text/*" and "User-Agent: Mozilla/4.0*", redirects not
    // followed. An address that cannot be split ends at once with BadAddress; Finished() is
    // emitted in every case, never from inside Start.
    void Start(const QString& address);
    // Ends the exchange as Cancelled (nothing when it has already ended).
    void Cancel();

    Outcome Result() const { return m_outcome; }
    bool IsRunning() const { return m_outcome == Outcome::Running && m_exchange != nullptr; }
    // The body received (also what had come before a failure).
    const QByteArray& Body() const { return m_body; }
    // The HTTP status, 0 when none was received.
    int Status() const { return m_status; }
    // Why the exchange failed, in Japanese; "" when it did not.
    const QString& Reason() const { return m_reason; }

    struct Exchange; // what the worker thread uses; defined in the source file

signals:
    void Finished();

private:
    // The worker has ended the exchange numbered `serial`.
    void OnWorkerDone(quint64 serial);
    // Wakes and joins a running worker and frees the exchange; its results stay unread.
    void EndWorker();
    void Finish(Outcome outcome, const QString& reason);

    Limits m_limits;
    std::unique_ptr<Exchange> m_exchange;
    std::thread m_worker;
    quint64 m_serial = 0; // counts the exchanges started, so that a late word of an old one is
                          // known
    Outcome m_outcome = Outcome::Running;
    QByteArray m_body;
    int m_status = 0;
    QString m_reason;
};
