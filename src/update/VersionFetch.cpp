#include "update/VersionFetch.h"

#include <QMetaObject>
#include <QPointer>
#include <atomic>
#include <curl/curl.h>
#include <mutex>

namespace {

// How long the worker sleeps in libcurl at most before it looks at the cancel flag again (a
// cancel also wakes it at once).
constexpr int kPollMs = 1000;
// libcurl's read buffer: a little more than the head limit may be read before the count stops
// the exchange.
constexpr long kReceiveBufferBytes = 16 * 1024;

void InitialiseCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

QString HeadTooLong(qint64 limit) {
    return QStringLiteral("応答のヘッダーが %1 バイトを超えています").arg(limit);
}

QString BodyTooLong(qint64 limit) {
    return QStringLiteral("バージョン情報のファイルが %1 バイトを超えています").arg(limit);
}

QString BadStatus(long status) {
    return QStringLiteral("サーバーが状態 %1 を返しました").arg(status);
}

} // namespace

// Everything the worker thread touches. The owner sets it up before the thread starts and reads
// the results only after it has joined the thread; `cancel` and libcurl's wake-up are the only
// things both use meanwhile.
struct CVersionFetch::Exchange {
    CVersionFetch::Limits limits;
    QByteArray url;
    CURL* easy = nullptr;
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    std::atomic<bool> cancel{false};

    // Results.
    CVersionFetch::Outcome outcome = CVersionFetch::Outcome::Failed;
    QByteArray body;
    long status = 0;
    QString reason; // set by a callback that stops the exchange; "" otherwise
    qint64 headBytes = 0;
    bool headEnded = false;

    ~Exchange() {
        if (multi && easy)
            curl_multi_remove_handle(multi, easy);
        if (easy)
            curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
        curl_slist_free_all(headers);
    }

    // Each line of the response's head, as it comes: counted against the limit, and at the
    // empty line that ends a final head, the status and the announced length are checked.
    static size_t OnHeader(char* data, size_t size, size_t count, void* self) {
        Exchange& x = *static_cast<Exchange*>(self);
        const size_t length = size * count;
        x.headBytes += qint64(length);
        if (x.headBytes > x.limits.maxHeaderBytes) {
            x.reason = HeadTooLong(x.limits.maxHeaderBytes);
            return 0; // anything but `length` ends the exchange
        }
        const bool emptyLine =
            (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
        if (!emptyLine)
            return length;
        long status = 0;
        curl_easy_getinfo(x.easy, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 100 && status < 200)
            return length; // "100 Continue" and the like: the real head follows
        x.status = status;
        x.headEnded = true;
        if (status >= 300) {
            x.reason = BadStatus(status);
            return 0;
        }
        curl_off_t announced = -1;
        curl_easy_getinfo(x.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced > x.limits.maxBytes) {
            x.reason = BodyTooLong(x.limits.maxBytes);
            return 0;
        }
        return length;
    }

    // The body, kept up to the limit; one byte more ends the exchange.
    static size_t OnBody(char* data, size_t size, size_t count, void* self) {
        Exchange& x = *static_cast<Exchange*>(self);
        const size_t length = size * count;
        const qint64 room = x.limits.maxBytes - x.body.size();
        if (qint64(length) > room) {
            x.body.append(data, room);
            x.reason = BodyTooLong(x.limits.maxBytes);
            return 0;
        }
        x.body.append(data, qsizetype(length));
        return length;
    }

    // Sets up the handles; false when libcurl refuses (no memory).
    bool Prepare() {
        easy = curl_easy_init();
        multi = curl_multi_init();
        if (!easy || !multi)
            return false;
        for (const char* h : {"Accept: text/*", "Accept-Encoding: identity",
                              "Cache-Control: no-cache", "Pragma: no-cache"})
            headers = curl_slist_append(headers, h);
        curl_easy_setopt(easy, CURLOPT_URL, url.constData());
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(easy, CURLOPT_USERAGENT, "Mozilla/4.0*");
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(limits.connectMs));
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(limits.totalMs));
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(limits.maxBytes));
        curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Exchange::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Exchange::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        // The certificates that OpenSSL's own variables name, as other programs of the system
        // take them; otherwise libcurl's default, the system's store.
        const QByteArray caFile = qgetenv("SSL_CERT_FILE");
        const QByteArray caDir = qgetenv("SSL_CERT_DIR");
        if (!caFile.isEmpty())
            curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.constData()); // copied by libcurl
        if (!caDir.isEmpty())
            curl_easy_setopt(easy, CURLOPT_CAPATH, caDir.constData());
        return curl_multi_add_handle(multi, easy) == CURLM_OK;
    }

    // The worker: drives libcurl until the exchange ends or the owner cancels it.
    void Run() {
        int running = 1;
        CURLcode code = CURLE_OK;
        while (!cancel.load()) {
            if (curl_multi_perform(multi, &running) != CURLM_OK) {
                code = CURLE_OUT_OF_MEMORY;
                break;
            }
            if (running == 0)
                break;
            curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
        }
        if (cancel.load())
            return;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left))
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy)
                code = message->data.result;
        Conclude(code);
    }

    // The outcome and its reason; the status is the one of a head received whole.
    void Conclude(CURLcode code) {
        if (!reason.isEmpty()) { // a callback stopped it
            outcome = CVersionFetch::Outcome::Failed;
            return;
        }
        outcome = CVersionFetch::Outcome::Failed;
        switch (code) {
        case CURLE_OK:
            if (this->status == 0)
                reason = QStringLiteral("サーバーが HTTP の状態を返しませんでした");
            else if (this->status >= 300)
                reason = BadStatus(this->status);
            else
                outcome = CVersionFetch::Outcome::Received;
            return;
        case CURLE_OPERATION_TIMEDOUT: {
            // Whether the request could go out tells which of the two limits ended it.
            curl_off_t ready = 0;
            curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &ready);
            reason =
                ready == 0
                    ? QStringLiteral("%1 ミリ秒以内にサーバーに接続できませんでした")
                          .arg(limits.connectMs)
                    : QStringLiteral("%1 ミリ秒以内に受信が終わりませんでした").arg(limits.totalMs);
            return;
        }
        case CURLE_FILESIZE_EXCEEDED:
            reason = BodyTooLong(limits.maxBytes);
            return;
        case CURLE_COULDNT_RESOLVE_HOST:
            reason = QStringLiteral("サーバーが見つかりません");
            return;
        case CURLE_COULDNT_RESOLVE_PROXY:
            reason = QStringLiteral("プロキシーが見つかりません");
            return;
        case CURLE_COULDNT_CONNECT:
            reason = QStringLiteral("サーバーに接続できませんでした");
            return;
        case CURLE_PEER_FAILED_VERIFICATION:
            reason = QStringLiteral("サーバーの証明書を確かめられませんでした");
            return;
        case CURLE_SSL_CONNECT_ERROR:
            reason = QStringLiteral("暗号化した接続を始められませんでした");
            return;
        case CURLE_OUT_OF_MEMORY:
            // libcurl's own limit on one header line (100 KiB) ends a head before our count
            // does when that line is the first to pass ours.
            reason = headEnded ? QStringLiteral("メモリーが足りません")
                               : HeadTooLong(limits.maxHeaderBytes);
            return;
        default:
            reason = QStringLiteral("通信に失敗しました（%1）")
                         .arg(QString::fromUtf8(curl_easy_strerror(code)));
            return;
        }
    }
};

CVersionFetch::CVersionFetch(QObject* parent) : QObject(parent) {
    InitialiseCurlOnce();
}

CVersionFetch::~CVersionFetch() {
    EndWorker();
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
    EndWorker();
    ++m_serial;
    m_body.clear();
    m_status = 0;
    m_reason.clear();
    m_outcome = Outcome::Running;

    const std::optional<QUrl> url = SplitAddress(address);
    if (!url) {
        m_outcome = Outcome::BadAddress;
        m_reason = QStringLiteral("アドレスを解析できません");
        QMetaObject::invokeMethod(this, &CVersionFetch::Finished, Qt::QueuedConnection);
        return;
    }

    auto exchange = std::make_unique<Exchange>();
    exchange->limits = m_limits;
    exchange->url = url->toEncoded();
    if (!exchange->Prepare()) {
        m_outcome = Outcome::Failed;
        m_reason = QStringLiteral("通信の準備ができませんでした");
        QMetaObject::invokeMethod(this, &CVersionFetch::Finished, Qt::QueuedConnection);
        return;
    }
    m_exchange = std::move(exchange);
    const quint64 serial = m_serial;
    Exchange* x = m_exchange.get();
    // The owner joins the worker before it goes away, so `this` outlives the thread; the word
    // posted at the end is dropped with the owner's other events if it goes first.
    m_worker = std::thread([this, x, serial] {
        x->Run();
        if (!x->cancel.load())
            QMetaObject::invokeMethod(
                this, [this, serial] { OnWorkerDone(serial); }, Qt::QueuedConnection);
    });
}

void CVersionFetch::Cancel() {
    if (!IsRunning())
        return;
    EndWorker();
    Finish(Outcome::Cancelled, QStringLiteral("キャンセルされました"));
}

void CVersionFetch::EndWorker() {
    if (!m_exchange)
        return;
    m_exchange->cancel.store(true);
    curl_multi_wakeup(m_exchange->multi);
    if (m_worker.joinable())
        m_worker.join();
    m_exchange.reset();
}

void CVersionFetch::OnWorkerDone(quint64 serial) {
    if (serial != m_serial || !m_exchange || m_outcome != Outcome::Running)
        return;
    // The worker has posted its last word; joining it is immediate.
    m_worker.join();
    std::unique_ptr<Exchange> x = std::move(m_exchange);
    m_body = std::move(x->body);
    m_status = int(x->status);
    Finish(x->outcome, x->reason);
}

void CVersionFetch::Finish(Outcome outcome, const QString& reason) {
    m_outcome = outcome;
    m_reason = outcome == Outcome::Received ? QString() : reason;
    emit Finished();
}
