#include "imaging/SPIControl.h"

#include "platform/DirList.h"
#include "platform/FileNames.h"
#include "platform/Files.h"
#include "platform/HelperPool.h"
#include "platform/Module.h"
#include "platform/SpiWire.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QThread>
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sys/stat.h>

#include "ik6.h"

using SpiWire::Reply;
using SpiWire::Request;
using Outcome = CHelperPool::Outcome;

namespace {

// The start of a picture preceded by a 128-byte header (MacBinary).
constexpr intptr_t kSecondOffset = 128;
// The buffer GetPluginInfo texts were asked into.
constexpr int kTextBuffer = 256;
// The version of the cache file's layout.
constexpr int kCacheVersion = 1;

int KindOf(const QByteArray& version) {
    if (version.size() < 4 || version[0] != '0' || version[1] != '0')
        return kSpiKindUnknown;
    struct Entry {
        char a, b;
        int kind;
    };
    static constexpr Entry table[] = {
        {'I', 'N', kSpiKindImport},    {'I', 'M', kSpiKindImportMulti},
        {'A', 'N', kSpiKindArchive},   {'A', 'M', kSpiKindArchiveMulti},
        {'X', 'N', kSpiKindExport},    {'X', 'M', kSpiKindExportMulti},
        {'C', 'N', kSpiKindConverter}, {'E', 'N', kSpiKindEditor},
    };
    for (const Entry& e : table)
        if (version[2] == e.a && version[3] == e.b)
            return e.kind;
    return kSpiKindUnknown;
}

// A plug-in's text: UTF-8 where it is valid UTF-8, else code page 932.
QString TextOf(const QByteArray& bytes) {
    return FileNames::Display(FileNames::FromNative(bytes));
}

// The file name of a path, without folder.
QString FileNameOf(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString DefaultHelper() {
    if (!QCoreApplication::instance())
        return QString();
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("quilla-spihost"));
}

// The request for a call of the plug-in at module on the file at path.
QByteArray Body(Request& req, const QByteArray& module, const QByteArray& path,
                const QByteArray& head = QByteArray()) {
    req.moduleLength = uint32_t(module.size());
    req.pathLength = uint32_t(path.size());
    req.headLength = uint32_t(head.size());
    return module + path + head;
}

// The reason a file fails when its plug-in's helper did not answer properly.
QString FailureReason(Outcome outcome, const QString& plugin) {
    switch (outcome) {
    case Outcome::kTimedOut:
        return QStringLiteral("プラグイン %1 が応答しません").arg(plugin);
    case Outcome::kEnded:
        return QStringLiteral("プラグイン %1 が異常終了しました").arg(plugin);
    case Outcome::kBadReply:
        return QStringLiteral("プラグイン %1 から正しくない結果が返されました").arg(plugin);
    case Outcome::kNoHelper:
        return QStringLiteral("プラグインを実行するプログラム quilla-spihost を起動できません");
    case Outcome::kCancelled:
    case Outcome::kShutDown:
        return QStringLiteral("中止しました");
    case Outcome::kDone:
        break;
    }
    return QString();
}

// The deadline of GetPicture for a file of that size.
// The error number of a call to a plug-in that did not end in an answer; *reason gets why.
int OutcomeError(Outcome outcome, const QString& plugin, QString* reason) {
    if (reason)
        *reason = FailureReason(outcome, plugin);
    if (outcome == Outcome::kCancelled || outcome == Outcome::kShutDown)
        return kSpiErrCancelled;
    if (outcome == Outcome::kNoHelper)
        return kSpiErrNoHelper;
    return kSpiErrPluginFailed;
}

int PictureDeadline(int64_t bytes) {
    const int64_t ms = kSpiPictureDeadlineMs + bytes * 1000 / kSpiPictureBytesPerSecond;
    return int(std::min<int64_t>(ms, kSpiPictureMaxDeadlineMs));
}

} // namespace

// ---- CSPICore ----

CSPICore::CSPICore() : m_health(std::make_unique<Health>()) {}

CSPICore::~CSPICore() = default;

CSPICore::CSPICore(CSPICore&& other) noexcept {
    *this = std::move(other);
}

CSPICore& CSPICore::operator=(CSPICore&& other) noexcept {
    if (this == &other)
        return *this;
    m_nReserved = other.m_nReserved;
    m_bEnable = other.m_bEnable;
    m_strPath = std::move(other.m_strPath);
    m_strFileName = std::move(other.m_strFileName);
    m_nKind = std::exchange(other.m_nKind, 0);
    m_nFormats = std::exchange(other.m_nFormats, 0);
    m_version = std::move(other.m_version);
    m_name = std::move(other.m_name);
    m_patterns = std::move(other.m_patterns);
    m_descriptions = std::move(other.m_descriptions);
    m_rawTexts = std::move(other.m_rawTexts);
    m_health = std::move(other.m_health);
    other.m_health = std::make_unique<Health>();
    return *this;
}

void CSPICore::Unload() {
    m_strPath.clear();
    m_strFileName.clear();
    m_version.clear();
    m_name.clear();
    m_patterns.clear();
    m_descriptions.clear();
    m_rawTexts.clear();
    m_nFormats = 0;
    m_nKind = kSpiKindUnknown;
}

bool CSPICore::TakeTexts(int versionResult, const QByteArray& payload) {
    QList<QByteArray> texts = payload.split('\0');
    // Every text ends with a NUL: the last piece is empty.
    if (texts.size() < 3 || !texts.last().isEmpty() || (texts.size() - 3) % 2 != 0 ||
        (texts.size() - 3) / 2 > kSpiMaxFormats)
        return false;
    texts.removeLast();
    for (const QByteArray& t : std::as_const(texts))
        if (t.size() > kTextBuffer)
            return false;
    m_version = texts[0];
    m_name = texts[1];
    m_nKind = versionResult >= 4 ? KindOf(m_version) : kSpiKindUnknown;
    m_rawTexts = texts.mid(2);
    m_nFormats = int(m_rawTexts.size() / 2);
    m_patterns.clear();
    m_descriptions.clear();
    for (int k = 0; k < m_nFormats; ++k) {
        m_patterns << TextOf(m_rawTexts[2 * k]);
        m_descriptions << TextOf(m_rawTexts[2 * k + 1]);
    }
    return true;
}

bool CSPICore::Load(const QString& path, QString* reason, const QString& helper) {
    Unload();
    const QString program = helper.isEmpty() ? DefaultHelper() : helper;
    CHelperPool pool(program, 1, 0);
    std::optional<CHelperPool::Lease> lease = pool.Acquire(false);
    if (!lease)
        return false;
    Request req;
    req.call = SpiWire::kCallPluginInfo;
    const QByteArray body = Body(req, FileNames::ToNative(path), QByteArray());
    CHelperPool::Answer answer;
    QString detail;
    const Outcome o = lease->Call(req, body, kSpiCheckDeadlineMs, nullptr, &answer, &detail);
    auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (o != Outcome::kDone)
        return fail(FailureReason(o, FileNameOf(path)) + QStringLiteral(": ") + detail);
    switch (answer.reply.status) {
    case SpiWire::kStatusOk:
        break;
    case SpiWire::kStatusNoEntry:
        return fail(QStringLiteral("GetPluginInfo がありません"));
    default:
        return fail(
            answer.reply.status == SpiWire::kStatusNotPlugin
                ? QString::fromUtf8(answer.payload)
                : QStringLiteral("読み込めません（%1）").arg(QString::fromUtf8(answer.payload)));
    }
    if (!TakeTexts(answer.reply.result, answer.payload))
        return fail(FailureReason(Outcome::kBadReply, FileNameOf(path)));
    m_strPath = QFileInfo(path).absoluteFilePath();
    m_strFileName = FileNameOf(path);
    return true;
}

QString CSPICore::Info(int infono, int buflen, int* result) const {
    QByteArray text;
    if (infono == 0)
        text = m_version;
    else if (infono == 1)
        text = m_name;
    else if (infono >= 2 && infono - 2 < m_rawTexts.size())
        text = m_rawTexts[infono - 2];
    text.truncate(std::max(0, std::min(buflen, kTextBuffer)));
    if (result)
        *result = int(text.size());
    return TextOf(text);
}

int CSPICore::CountFormats() const {
    return m_bEnable && !IsSetAside() ? m_nFormats : 0;
}

bool CSPICore::IsSetAside() const {
    return m_health->setAside.load();
}

bool CSPICore::CountFailure() {
    if (++m_health->failures < kSpiFailuresToSetAside)
        return false;
    return !m_health->setAside.exchange(true);
}

void CSPICore::CountSuccess() {
    m_health->failures = 0;
}

// ---- CSPIControl ----

struct CSPIControl::Candidate {
    QString path;
    int64_t size = 0;
    int64_t mtime = 0;  // nanoseconds
    bool known = false; // answered from the cache or the check
    bool ok = false;
    QString reason;
    int versionResult = 0;
    QByteArray texts;
};

struct CSPIControl::CacheEntry {
    QString path;
    int64_t size = 0;
    int64_t mtime = 0;
    bool ok = false;
    QString reason;
    int versionResult = 0;
    QByteArray texts;
};

CSPIControl::CSPIControl() = default;

CSPIControl::~CSPIControl() {
    Shutdown();
    WaitForBackground();
}

int CSPIControl::OnPluginLoaded(const QString&, const QString&, int) {
    return 1;
}

QString CSPIControl::Helper() const {
    return m_strHelper.isEmpty() ? DefaultHelper() : m_strHelper;
}

CHelperPool& CSPIControl::Pool() {
    std::lock_guard lock(m_poolMutex);
    if (!m_pool) {
        const int count = m_nHelpers > 0 ? m_nHelpers : std::max(1, QThread::idealThreadCount());
        m_pool = std::make_unique<CHelperPool>(Helper(), count, 1);
        if (m_bShutDown)
            m_pool->Shutdown();
    }
    return *m_pool;
}

int CSPIControl::HelpersStarted() const {
    std::lock_guard lock(const_cast<std::mutex&>(m_poolMutex));
    return m_pool ? m_pool->Started() : 0;
}

void CSPIControl::Shutdown() {
    m_bShutDown = true;
    std::lock_guard lock(m_poolMutex);
    if (m_pool)
        m_pool->Shutdown();
}

void CSPIControl::Resume() {
    std::lock_guard lock(m_poolMutex);
    if (!m_bShutDown)
        return;
    if (m_pool)
        m_retired.push_back(std::move(m_pool));
    m_bShutDown = false;
}

void CSPIControl::ReadCache() {
    if (m_bCacheRead)
        return;
    m_bCacheRead = true;
    if (m_strCache.isEmpty())
        return;
    QFile f(m_strCache);
    if (!f.open(QIODevice::ReadOnly))
        return;
    const QJsonObject root = QJsonDocument::fromJson(f.readAll()).object();
    if (root.value(QStringLiteral("version")).toInt() != kCacheVersion)
        return;
    for (const QJsonValue& v : root.value(QStringLiteral("plugins")).toArray()) {
        const QJsonObject o = v.toObject();
        CacheEntry e;
        e.path = FileNames::FromNative(
            QByteArray::fromBase64(o.value(QStringLiteral("path")).toString().toLatin1()));
        e.size = o.value(QStringLiteral("size")).toString().toLongLong();
        e.mtime = o.value(QStringLiteral("mtime")).toString().toLongLong();
        e.ok = o.value(QStringLiteral("ok")).toBool();
        e.reason = o.value(QStringLiteral("reason")).toString();
        e.versionResult = o.value(QStringLiteral("result")).toInt();
        e.texts = QByteArray::fromBase64(o.value(QStringLiteral("texts")).toString().toLatin1());
        if (!e.path.isEmpty())
            m_cache.push_back(std::move(e));
    }
}

void CSPIControl::WriteCache() {
    if (m_strCache.isEmpty())
        return;
    QJsonArray list;
    for (const CacheEntry& e : m_cache) {
        QJsonObject o;
        o.insert(QStringLiteral("path"),
                 QString::fromLatin1(FileNames::ToNative(e.path).toBase64()));
        o.insert(QStringLiteral("size"), QString::number(e.size));
        o.insert(QStringLiteral("mtime"), QString::number(e.mtime));
        o.insert(QStringLiteral("ok"), e.ok);
        o.insert(QStringLiteral("reason"), e.reason);
        o.insert(QStringLiteral("result"), e.versionResult);
        o.insert(QStringLiteral("texts"), QString::fromLatin1(e.texts.toBase64()));
        list.append(o);
    }
    QJsonObject root;
    root.insert(QStringLiteral("version"), kCacheVersion);
    root.insert(QStringLiteral("plugins"), list);
    QDir().mkpath(QFileInfo(m_strCache).absolutePath());
    QSaveFile f(m_strCache);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(QJsonDocument(root).toJson(QJsonDocument::Compact));
        f.commit();
    }
}

std::vector<CSPIControl::Candidate> CSPIControl::FindCandidates(const QString& folder) {
    QString dir = folder;
    if (dir.size() > 1 && !dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    // Every plug-in is named by its full path: a bare name would be searched for on the loader's
    // own path instead of in the folder.
    if (dir.isEmpty() || QDir::isRelativePath(dir)) {
        QString current = FileNames::CurrentDir();
        if (!current.endsWith(QLatin1Char('/')))
            current += QLatin1Char('/');
        dir = current + dir;
    }
    QStringList found;
    DirList::ForEachFile(
        dir,
        [](const QString& name) {
            return name.endsWith(QLatin1String(".spi"), Qt::CaseInsensitive);
        },
        [&](const DirList::Entry& e) { found << dir + e.name; });
    // A plug-in already loaded under the same file name is not loaded again.
    QStringList known;
    {
        std::shared_lock lock(m_lock);
        for (const CSPICore& p : m_plugins)
            known << p.m_strFileName;
    }
    std::vector<Candidate> candidates;
    std::lock_guard cache(m_cacheMutex);
    ReadCache();
    for (const QString& path : std::as_const(found)) {
        if (path.isEmpty() || known.contains(FileNameOf(path), Qt::CaseInsensitive))
            continue;
        Candidate c;
        c.path = path;
        struct stat st {};
        if (::stat(FileNames::ToNative(path).constData(), &st) == 0) {
            c.size = int64_t(st.st_size);
            c.mtime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        }
        for (const CacheEntry& e : m_cache) {
            if (e.path == path && e.size == c.size && e.mtime == c.mtime) {
                c.known = true;
                c.ok = e.ok;
                c.reason = e.reason;
                c.versionResult = e.versionResult;
                c.texts = e.texts;
                break;
            }
        }
        candidates.push_back(std::move(c));
    }
    return candidates;
}

void CSPIControl::CheckCandidates(std::vector<Candidate>& candidates,
                                  const std::atomic<bool>* cancel) {
    // Every plug-in the cache does not know is asked in a helper of its own, all at once, and
    // every answer is waited for until one deadline: plug-ins that hang cost that time once.
    struct Check {
        Candidate* candidate;
        HelperChannel::Process process;
        Request request;
    };
    std::vector<Check> checks;
    const QString program = Helper();
    for (Candidate& c : candidates) {
        if (c.known)
            continue;
        const QString foreign = Module::ForeignReason(c.path);
        if (!foreign.isEmpty()) {
            c.known = true;
            c.reason = foreign;
            continue;
        }
        Check check{&c, {}, {}};
        QString why;
        if (!HelperChannel::Start(program, &check.process, &why)) {
            c.reason = FailureReason(Outcome::kNoHelper, QString()) + QStringLiteral(": ") + why;
            continue; // not cached: the next start tries again
        }
        check.request.call = SpiWire::kCallPluginInfo;
        check.request.serial = 1;
        const QByteArray body = Body(check.request, FileNames::ToNative(c.path), QByteArray());
        HelperChannel::Send(check.process.socket.Get(), &check.request, sizeof check.request, body);
        checks.push_back(std::move(check));
    }
    const auto deadline =
        HelperChannel::Clock::now() + std::chrono::milliseconds(kSpiCheckDeadlineMs);
    for (Check& check : checks) {
        Candidate& c = *check.candidate;
        Reply reply;
        const int fd = check.process.socket.Get();
        HelperChannel::Wait w = HelperChannel::Receive(fd, &reply, sizeof reply, deadline, cancel);
        QByteArray payload;
        if (w == HelperChannel::Wait::kDone &&
            (reply.magic != SpiWire::kReplyMagic || reply.serial != 1 ||
             reply.payloadLength > SpiWire::kMaxPayload))
            w = HelperChannel::Wait::kClosed;
        if (w == HelperChannel::Wait::kDone && reply.payloadLength > 0) {
            payload.resize(qsizetype(reply.payloadLength));
            w = HelperChannel::Receive(fd, payload.data(), reply.payloadLength, deadline, cancel);
        }
        HelperChannel::Kill(check.process);
        if (w == HelperChannel::Wait::kCancelled)
            continue; // not known: checked again next time
        c.known = true;
        if (w == HelperChannel::Wait::kTimedOut) {
            c.reason = QStringLiteral("応答がありません");
        } else if (w != HelperChannel::Wait::kDone) {
            c.reason = QStringLiteral("読み込み中に異常終了しました");
        } else if (reply.status == SpiWire::kStatusNoEntry) {
            c.reason = QStringLiteral("GetPluginInfo がありません");
        } else if (reply.status != SpiWire::kStatusOk) {
            c.reason = reply.status == SpiWire::kStatusNotPlugin
                           ? QString::fromUtf8(payload)
                           : QStringLiteral("読み込めません（%1）").arg(QString::fromUtf8(payload));
        } else {
            CSPICore probe;
            if (probe.TakeTexts(reply.result, payload)) {
                c.ok = true;
                c.versionResult = reply.result;
                c.texts = payload;
            } else {
                c.reason = QStringLiteral("プラグインの情報が正しくありません");
            }
        }
    }
    // What was learnt goes into the cache, replacing what it knew of the same paths.
    std::lock_guard cache(m_cacheMutex);
    bool changed = false;
    for (const Candidate& c : candidates) {
        if (!c.known)
            continue;
        auto it = std::find_if(m_cache.begin(), m_cache.end(),
                               [&c](const CacheEntry& e) { return e.path == c.path; });
        if (it != m_cache.end() && it->size == c.size && it->mtime == c.mtime)
            continue;
        if (it == m_cache.end())
            it = m_cache.insert(m_cache.end(), CacheEntry{});
        it->path = c.path;
        it->size = c.size;
        it->mtime = c.mtime;
        it->ok = c.ok;
        it->reason = c.reason;
        it->versionResult = c.versionResult;
        it->texts = c.texts;
        changed = true;
    }
    if (changed)
        WriteCache();
}

int CSPIControl::AddCandidates(std::vector<Candidate>& candidates) {
    std::unique_lock lock(m_lock);
    std::vector<std::pair<QString, int>> added;
    const size_t before = m_plugins.size();
    int kept = 0;
    for (Candidate& c : candidates) {
        if (!c.known)
            continue;
        if (!c.ok) {
            std::fprintf(stderr, "quilla: plug-in %s skipped: %s\n", qPrintable(c.path),
                         qPrintable(c.reason));
            m_refused
                << QStringLiteral("%1（使用できません: %2）").arg(FileNameOf(c.path), c.reason);
            continue;
        }
        CSPICore core;
        if (!core.TakeTexts(c.versionResult, c.texts))
            continue;
        if ((core.m_nKind & m_nKindMask) == 0)
            continue; // not an import filter
        core.m_strPath = QFileInfo(c.path).absoluteFilePath();
        core.m_strFileName = FileNameOf(c.path);
        bool twice = false;
        for (size_t k = 0; k < m_plugins.size() && !twice; ++k)
            twice =
                m_plugins[k].m_strFileName.compare(core.m_strFileName, Qt::CaseInsensitive) == 0;
        if (twice)
            continue;
        added.emplace_back(core.m_strFileName, int(m_plugins.size()));
        m_plugins.push_back(std::move(core));
        ++kept;
    }
    (void)before;
    lock.unlock();
    // The notifications come once the list is complete, so that they may ask the manager.
    for (const auto& [name, index] : added)
        OnPluginLoaded(name, m_strText, index);
    return kept;
}

int CSPIControl::LoadFolder(const QString& folder) {
    WaitForBackground();
    std::vector<Candidate> candidates = FindCandidates(folder);
    if (candidates.empty())
        return 0;
    CheckCandidates(candidates, &m_bShutDown);
    return AddCandidates(candidates);
}

int CSPIControl::LoadFolderInBackground(const QString& folder) {
    // An earlier check still at work is waited for (it has a deadline).
    WaitForBackground();
    std::vector<Candidate> candidates = FindCandidates(folder);
    std::vector<Candidate> unknown;
    for (Candidate& c : candidates)
        if (!c.known)
            unknown.push_back(std::move(c));
    const int added = AddCandidates(candidates);
    if (!unknown.empty()) {
        std::lock_guard lock(m_backgroundMutex);
        m_background = std::thread([this, unknown = std::move(unknown)]() mutable {
            CheckCandidates(unknown, &m_bShutDown);
            if (AddCandidates(unknown) > 0 && m_onOnline)
                m_onOnline();
        });
    }
    return added;
}

void CSPIControl::WaitForBackground() {
    std::thread t;
    {
        std::lock_guard lock(m_backgroundMutex);
        t = std::move(m_background);
    }
    if (t.joinable())
        t.join();
}

int CSPIControl::GetFormatCount() const {
    std::shared_lock lock(m_lock);
    int total = 0;
    for (const CSPICore& p : m_plugins)
        total += p.CountFormats();
    return total;
}

bool CSPIControl::IsSupportedExtension(const QString& extension) const {
    const QString pattern = QLatin1Char('*') + extension;
    std::shared_lock lock(m_lock);
    for (const CSPICore& p : m_plugins) {
        if (!p.m_bEnable || p.IsSetAside())
            continue;
        for (const QString& q : p.m_patterns)
            if (q.compare(pattern, Qt::CaseInsensitive) == 0)
                return true;
    }
    return false;
}

void CSPIControl::CountFault(const Order::Entry& e, const QString& detail,
                             const QByteArray& native) {
    std::fprintf(stderr, "quilla: plug-in %s failed on %s: %s\n", qPrintable(e.name),
                 native.constData(), qPrintable(detail));
    std::shared_lock lock(m_lock);
    if (size_t(e.index) < m_plugins.size() && m_plugins[size_t(e.index)].CountFailure())
        std::fprintf(stderr, "quilla: plug-in %s set aside after %d failures in a row\n",
                     qPrintable(e.name), kSpiFailuresToSetAside);
}

void CSPIControl::CountSuccess(int index) {
    std::shared_lock lock(m_lock);
    if (size_t(index) < m_plugins.size())
        m_plugins[size_t(index)].CountSuccess();
}

int CSPIControl::PrepareOrder(const QString& path, Order* order) {
    // The first 2,048 bytes (the helper pads a shorter file with zeros).
    order->native = FileNames::ToNative(path);
    {
        std::FILE* fp = std::fopen(order->native.constData(), "rb");
        if (!fp)
            return kSpiErrRead;
        QByteArray& head = order->head;
        head.resize(SPI_HEAD_SIZE);
        size_t got = 0;
        while (got < size_t(head.size())) {
            const size_t n = std::fread(head.data() + got, 1, size_t(head.size()) - got, fp);
            if (n == 0)
                break;
            got += n;
        }
        const bool failed = std::ferror(fp) != 0;
        struct stat st {};
        if (::fstat(fileno(fp), &st) == 0)
            order->fileSize = int64_t(st.st_size);
        std::fclose(fp);
        if (failed)
            return kSpiErrRead;
        head.truncate(qsizetype(got));
    }

    // The plug-ins to try, in order, with what is needed to ask them (the list may grow
    // meanwhile; its entries never move out of their places while a reader holds the lock).
    {
        std::shared_lock lock(m_lock);
        for (size_t i = 0; i < m_plugins.size(); ++i)
            if (m_plugins[i].m_bEnable && !m_plugins[i].IsSetAside())
                order->entries.push_back({int(i), FileNames::ToNative(m_plugins[i].m_strPath),
                                          m_plugins[i].m_strFileName});
    }
    if (order->entries.empty())
        return kSpiErrNoDecoder;
    if (m_bShutDown)
        return kSpiErrCancelled;
    return 0;
}

int CSPIControl::DecodeFile(const QString& path, SpiPicture* picture, SpiPictureInfo* info,
                            QString* reason, bool reserved, const std::atomic<bool>* cancel,
                            QSize box) {
    if (path.isNull() || !picture)
        return kSpiErrBadArgument;
    *picture = SpiPicture{};
    Order prepared;
    if (const int r = PrepareOrder(path, &prepared))
        return r;
    const QByteArray& native = prepared.native;
    const QByteArray& head = prepared.head;
    const int64_t fileSize = prepared.fileSize;
    using Entry = Order::Entry;
    const std::vector<Entry>& order = prepared.entries;
    std::optional<CHelperPool::Lease> lease = Pool().Acquire(reserved, cancel);
    if (!lease)
        return kSpiErrCancelled;

    auto fault = [&](const Entry& e, Outcome o, const QString& detail) {
        const int error = OutcomeError(o, e.name, reason);
        if (error == kSpiErrPluginFailed)
            CountFault(e, detail, native);
        return error;
    };
    auto succeeded = [&](const Entry& e) { CountSuccess(e.index); };
    // Why the last plug-in that could not be loaded (gone or replaced since the list was made)
    // could not: the reason when no other plug-in reads the file.
    QString unloaded;

    for (const Entry& e : order) {
        Request req;
        CHelperPool::Answer answer;
        QString detail;
        req.call = SpiWire::kCallIsSupported;
        QByteArray body = Body(req, e.module, native, head);
        Outcome o = lease->Call(req, body, kSpiQuickDeadlineMs, cancel, &answer, &detail);
        if (o != Outcome::kDone)
            return fault(e, o, detail);
        if (answer.reply.status == SpiWire::kStatusNotLoaded ||
            answer.reply.status == SpiWire::kStatusNotPlugin)
            unloaded = QStringLiteral("プラグイン %1 を読み込めません（%2）")
                           .arg(e.name, QString::fromUtf8(answer.payload));
        if (answer.reply.status != SpiWire::kStatusOk || answer.reply.result != 1) {
            succeeded(e);
            continue;
        }
        // The picture, at offset 0 and, unless the plug-in was stopped, once more at 128.
        auto picture_at = [&](int64_t offset, CHelperPool::Answer* got) {
            Request r;
            r.call = SpiWire::kCallPicture;
            r.offset = offset;
            if (box.width() > 0 && box.height() > 0) {
                r.call = SpiWire::kCallPictureScaled;
                r.width = box.width();
                r.height = box.height();
            }
            const QByteArray b = Body(r, e.module, native);
            return lease->Call(r, b, PictureDeadline(fileSize), cancel, got, &detail);
        };
        o = picture_at(0, &answer);
        if (o == Outcome::kDone && answer.reply.status == SpiWire::kStatusOk &&
            answer.reply.result != SPI_ALL_RIGHT && answer.reply.result != SPI_ABORT)
            o = picture_at(kSecondOffset, &answer);
        if (o != Outcome::kDone)
            return fault(e, o, detail);
        const Reply& r = answer.reply;
        if (r.status == SpiWire::kStatusUnreadable) {
            // A picture the host cannot take still counts as decoded; it holds no image.
            succeeded(e);
            m_nLastDecoder = e.index;
            return 0;
        }
        if (r.status != SpiWire::kStatusOk || r.result != SPI_ALL_RIGHT) {
            // No picture from this one (or one that does not hold together, which the next
            // plug-in may do better).
            succeeded(e);
            continue;
        }
        // The picture: every size is checked against the others before the memory is read.
        const auto format = QImage::Format(r.format);
        const bool known = format == QImage::Format_Mono || format == QImage::Format_Indexed8 ||
                           format == QImage::Format_RGB888 || format == QImage::Format_RGB555 ||
                           format == QImage::Format_RGB16 || format == QImage::Format_RGB32 ||
                           format == QImage::Format_ARGB32;
        const bool indexed = format == QImage::Format_Mono || format == QImage::Format_Indexed8;
        const int depth = known ? QImage::toPixelFormat(format).bitsPerPixel() : 0;
        const int64_t minLine = (int64_t(r.pictureWidth) * depth + 7) / 8;
        const bool holds = known && r.pictureWidth > 0 && r.pictureHeight > 0 &&
                           r.pictureWidth <= IK_MAX_SIDE && r.pictureHeight <= IK_MAX_SIDE &&
                           int64_t(r.pictureWidth) * r.pictureHeight <= IK_MAX_PIXELS &&
                           r.bytesPerLine >= minLine && r.bytesPerLine % 4 == 0 &&
                           r.pictureBytes >= uint64_t(r.bytesPerLine) * uint64_t(r.pictureHeight) &&
                           r.colours >= 0 && r.colours <= SpiWire::kMaxColours &&
                           (indexed || r.colours == 0) &&
                           uint64_t(answer.payload.size()) == uint64_t(r.colours) * sizeof(QRgb);
        HelperChannel::SharedMap map;
        if (holds)
            map = HelperChannel::SharedMap::MapSealed(answer.memory.Get(), size_t(r.pictureBytes));
        if (!map.Valid()) {
            lease.reset(); // the helper goes back; the failure is the plug-in's
            return fault(e, Outcome::kBadReply,
                         QStringLiteral("the picture does not hold together"));
        }
        QImage image(map.Data(), r.pictureWidth, r.pictureHeight, r.bytesPerLine, format);
        if (indexed) {
            QList<QRgb> table(r.colours);
            std::memcpy(table.data(), answer.payload.constData(), size_t(answer.payload.size()));
            table.resize(format == QImage::Format_Mono ? 2 : 256, qRgb(0, 0, 0));
            image.setColorTable(table);
        }
        picture->image = std::move(image);
        picture->memory = std::move(map);
        if (r.call == SpiWire::kCallPictureScaled && r.width > 0 && r.height > 0 &&
            r.width <= IK_MAX_SIDE && r.height <= IK_MAX_SIDE) {
            // The whole size as told, turned as the picture stands (a plug-in may tell the size
            // as stored and hand the picture turned by the file's orientation).
            QSize whole(r.width, r.height);
            const bool across = r.pictureWidth > r.pictureHeight;
            const bool wholeAcross = whole.width() > whole.height();
            if (r.pictureWidth != r.pictureHeight && whole.width() != whole.height() &&
                across != wholeAcross)
                whole.transpose();
            picture->whole = whole;
        }
        succeeded(e);

        if (info) {
            *info = SpiPictureInfo{};
            auto info_at = [&](int64_t offset, CHelperPool::Answer* got) {
                Request q;
                q.call = SpiWire::kCallPictureInfo;
                q.offset = offset;
                const QByteArray b = Body(q, e.module, native);
                return lease->Call(q, b, kSpiQuickDeadlineMs, cancel, got, &detail);
            };
            CHelperPool::Answer got;
            o = info_at(0, &got);
            if (o == Outcome::kDone && got.reply.status == SpiWire::kStatusOk &&
                got.reply.result != SPI_ALL_RIGHT)
                o = info_at(kSecondOffset, &got);
            if (o != Outcome::kDone) {
                *picture = SpiPicture{};
                return fault(e, o, detail);
            }
            if (got.reply.status == SpiWire::kStatusOk && got.reply.result == SPI_ALL_RIGHT) {
                info->left = got.reply.left;
                info->top = got.reply.top;
                info->width = got.reply.width;
                info->height = got.reply.height;
                info->xDensity = got.reply.xDensity;
                info->yDensity = got.reply.yDensity;
                info->colorDepth = got.reply.colorDepth;
                info->text = got.payload;
            }
        }
        m_nLastDecoder = e.index;
        return 0;
    }
    if (reason && !unloaded.isEmpty())
        *reason = unloaded;
    return kSpiErrNoDecoder;
}

int CSPIControl::FileInformation(const QString& path, SpiPictureInfo* info, QString* reason,
                                 bool reserved, const std::atomic<bool>* cancel) {
    if (path.isNull() || !info)
        return kSpiErrBadArgument;
    *info = SpiPictureInfo{};
    Order prepared;
    if (const int r = PrepareOrder(path, &prepared))
        return r;
    std::optional<CHelperPool::Lease> lease = Pool().Acquire(reserved, cancel);
    if (!lease)
        return kSpiErrCancelled;
    for (const Order::Entry& e : prepared.entries) {
        QString detail;
        auto fault = [&](Outcome o) {
            const int error = OutcomeError(o, e.name, reason);
            if (error == kSpiErrPluginFailed)
                CountFault(e, detail, prepared.native);
            return error;
        };
        Request req;
        req.call = SpiWire::kCallIsSupported;
        const QByteArray body = Body(req, e.module, prepared.native, prepared.head);
        CHelperPool::Answer answer;
        Outcome o = lease->Call(req, body, kSpiQuickDeadlineMs, cancel, &answer, &detail);
        if (o != Outcome::kDone)
            return fault(o);
        if (answer.reply.status != SpiWire::kStatusOk || answer.reply.result != 1) {
            CountSuccess(e.index);
            continue;
        }
        // At offset 0 and, unless the plug-in was stopped, once more at 128, as the picture.
        auto info_at = [&](int64_t offset) {
            Request q;
            q.call = SpiWire::kCallPictureInfo;
            q.offset = offset;
            const QByteArray b = Body(q, e.module, prepared.native);
            return lease->Call(q, b, kSpiQuickDeadlineMs, cancel, &answer, &detail);
        };
        o = info_at(0);
        if (o == Outcome::kDone && answer.reply.status == SpiWire::kStatusOk &&
            answer.reply.result != SPI_ALL_RIGHT && answer.reply.result != SPI_ABORT)
            o = info_at(kSecondOffset);
        if (o != Outcome::kDone)
            return fault(o);
        CountSuccess(e.index);
        const Reply& r = answer.reply;
        // A size the library could never hold is no information.
        if (r.status != SpiWire::kStatusOk || r.result != SPI_ALL_RIGHT || r.width <= 0 ||
            r.height <= 0 || r.width > IK_MAX_SIDE || r.height > IK_MAX_SIDE)
            continue;
        info->left = r.left;
        info->top = r.top;
        info->width = r.width;
        info->height = r.height;
        info->xDensity = r.xDensity;
        info->yDensity = r.yDensity;
        info->colorDepth = r.colorDepth;
        info->text = answer.payload;
        m_nLastDecoder = e.index;
        return 0;
    }
    return kSpiErrNoDecoder;
}

int CSPIControl::GetSize() const {
    std::shared_lock lock(m_lock);
    return int(m_plugins.size());
}

QString CSPIControl::FileNameAt(int index) const {
    std::shared_lock lock(m_lock);
    return index >= 0 && size_t(index) < m_plugins.size() ? m_plugins[size_t(index)].m_strFileName
                                                          : QString();
}

QStringList CSPIControl::PatternsAt(int index) const {
    std::shared_lock lock(m_lock);
    return index >= 0 && size_t(index) < m_plugins.size() ? m_plugins[size_t(index)].m_patterns
                                                          : QStringList();
}

bool CSPIControl::IsSetAsideAt(int index) const {
    std::shared_lock lock(m_lock);
    return index >= 0 && size_t(index) < m_plugins.size() && m_plugins[size_t(index)].IsSetAside();
}

QStringList CSPIControl::Refused() const {
    std::shared_lock lock(m_lock);
    return m_refused;
}

QByteArray CSPIControl::AskText(int index, int infono) {
    QByteArray module;
    {
        std::shared_lock lock(m_lock);
        if (index < 0 || size_t(index) >= m_plugins.size())
            return QByteArray();
        module = FileNames::ToNative(m_plugins[size_t(index)].m_strPath);
    }
    std::optional<CHelperPool::Lease> lease = Pool().Acquire(false);
    if (!lease)
        return QByteArray();
    Request req;
    req.call = SpiWire::kCallPluginText;
    req.offset = infono;
    const QByteArray body = Body(req, module, QByteArray());
    CHelperPool::Answer answer;
    if (lease->Call(req, body, kSpiQuickDeadlineMs, nullptr, &answer) != Outcome::kDone ||
        answer.reply.status != SpiWire::kStatusOk)
        return QByteArray();
    return answer.payload;
}
