#include "update/VersionFetch.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {

// What the network layer may hold for us at a time before we read it.
constexpr qint64 kReadBufferBytes = 64 * 1024;

// The system's proxy settings, asked for each request (for this manager only, not process-wide).
class SystemProxyFactory : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

} // namespace

CVersionFetch::CVersionFetch(QObject* parent)
    : QObject(parent), m_manager(std::make_unique<QNetworkAccessManager>()) {
    m_manager->setProxyFactory(new SystemProxyFactory); // the manager owns it
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m_connectTimer = new QTimer(this);
    m_connectTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        Stop(Outcome::Failed, QStringLiteral("no connection within %1 ms").arg(m_limits.connectMs));
    });
    m_totalTimer = new QTimer(this);
    m_totalTimer->setSingleShot(true);
    connect(m_totalTimer, &QTimer::timeout, this, [this] {
        Stop(Outcome::Failed, QStringLiteral("not finished within %1 ms").arg(m_limits.totalMs));
    });
}

CVersionFetch::~CVersionFetch() {
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
    }
}

std::optional<QUrl> CVersionFetch::SplitAddress(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return std::nullopt;
    return url;
}

void CVersionFetch::Start(const QString& address) {
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_body.clear();
    m_headBytes = -1;
    m_status = 0;
    m_reason.clear();
    m_outcome = Outcome::Running;

    const std::optional<QUrl> url = SplitAddress(address);
    if (!url) {
        m_outcome = Outcome::BadAddress;
        m_reason = QStringLiteral("the address cannot be split");
        QMetaObject::invokeMethod(this, &CVersionFetch::Finished, Qt::QueuedConnection);
        return;
    }

    QNetworkRequest request(*url);
    request.setRawHeader("Accept", "text/*");
    request.setRawHeader("User-Agent", "Mozilla/4.0*");
    // The body is counted as it comes; no compression that the network layer would expand.
    request.setRawHeader("Accept-Encoding", "identity");
    // Always from the server, never from a cache on the way.
    request.setRawHeader("Cache-Control", "no-cache");
    request.setRawHeader("Pragma", "no-cache");
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // One small file: plain HTTP/1.1, whose request going out ends the connection phase.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);

    m_reply = m_manager->get(request);
    m_reply->setReadBufferSize(kReadBufferBytes);
    connect(m_reply, &QNetworkReply::requestSent, m_connectTimer, &QTimer::stop);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &CVersionFetch::OnMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &CVersionFetch::OnReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &CVersionFetch::OnFinished);
    m_connectTimer->start(m_limits.connectMs);
    m_totalTimer->start(m_limits.totalMs);
}

void CVersionFetch::Cancel() {
    Stop(Outcome::Cancelled, QStringLiteral("cancelled"));
}

bool CVersionFetch::CheckHead() {
    if (m_headBytes >= 0)
        return true;
    // What came on the wire, near enough: "HTTP/1.1 200 OK", then "Name: value" lines, each line
    // ended by CR LF, and an empty line.
    constexpr qint64 kStatusLine = 17, kLineEnd = 2, kSeparator = 2;
    qint64 head =
        kStatusLine + kLineEnd +
        m_reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray().size();
    for (const QNetworkReply::RawHeaderPair& h : m_reply->rawHeaderPairs())
        head += h.first.size() + kSeparator + h.second.size() + kLineEnd;
    m_headBytes = head + kLineEnd;
    if (m_headBytes > m_limits.maxHeaderBytes) {
        Stop(Outcome::Failed, QStringLiteral("the headers are longer than %1 bytes (%2)")
                                  .arg(m_limits.maxHeaderBytes)
                                  .arg(m_headBytes));
        return false;
    }
    return true;
}

void CVersionFetch::OnMetaData() {
    m_connectTimer->stop();
    m_status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_status >= 300) {
        Stop(Outcome::Failed, QStringLiteral("HTTP status %1").arg(m_status));
        return;
    }
    if (!CheckHead())
        return;
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > m_limits.maxBytes)
        Stop(Outcome::Failed, QStringLiteral("the file is longer than %1 bytes (%2)")
                                  .arg(m_limits.maxBytes)
                                  .arg(length.toLongLong()));
}

void CVersionFetch::OnReadyRead() {
    m_connectTimer->stop();
    if (m_reply && !CheckHead())
        return;
    while (m_reply && m_reply->bytesAvailable() > 0) {
        // One byte past the limit is enough to know that the body is too long.
        const qint64 room = m_limits.maxBytes - m_body.size();
        m_body += m_reply->read(room + 1);
        if (m_body.size() > m_limits.maxBytes) {
            m_body.truncate(m_limits.maxBytes);
            Stop(Outcome::Failed,
                 QStringLiteral("the file is longer than %1 bytes").arg(m_limits.maxBytes));
            return;
        }
    }
}

void CVersionFetch::OnFinished() {
    if (!m_reply)
        return;
    m_status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_status >= 300) {
        Finish(Outcome::Failed, QStringLiteral("HTTP status %1").arg(m_status));
        return;
    }
    if (m_reply->error() != QNetworkReply::NoError) {
        Finish(Outcome::Failed, m_reply->errorString());
        return;
    }
    if (m_status == 0) {
        Finish(Outcome::Failed, QStringLiteral("no HTTP status"));
        return;
    }
    if (!CheckHead())
        return;
    OnReadyRead();
    if (m_reply)
        Finish(Outcome::Received, QString());
}

void CVersionFetch::Stop(Outcome outcome, const QString& reason) {
    if (!m_reply)
        return;
    disconnect(m_reply, nullptr, this, nullptr);
    m_reply->abort();
    Finish(outcome, reason);
}

void CVersionFetch::Finish(Outcome outcome, const QString& reason) {
    m_connectTimer->stop();
    m_totalTimer->stop();
    if (m_reply) {
        disconnect(m_reply, nullptr, this, nullptr);
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_outcome = outcome;
    m_reason = reason;
    emit Finished();
}
