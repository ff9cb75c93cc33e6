#include "platform/HelperPool.h"

#include <csignal>
#include <future>
#include <utility>

using HelperChannel::Process;
using HelperChannel::Wait;

CHelperPool::CHelperPool(const QString& program, int workers, int reserved)
    : m_strProgram(program), m_nFree(std::max(workers, 1)), m_nReservedFree(std::max(reserved, 0)) {
    m_spawner = std::thread([this] { SpawnLoop(); });
}

CHelperPool::~CHelperPool() {
    Shutdown();
    {
        std::lock_guard lock(m_spawnMutex);
        m_bSpawnStop = true;
    }
    m_spawnWake.notify_all();
    m_spawner.join();
    std::lock_guard lock(m_mutex);
    for (auto& p : m_idle)
        HelperChannel::Kill(*p);
    m_idle.clear();
}

void CHelperPool::SpawnLoop() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_spawnMutex);
            m_spawnWake.wait(lock, [this] { return m_bSpawnStop || !m_spawnJobs.empty(); });
            if (m_spawnJobs.empty())
                return;
            job = std::move(m_spawnJobs.front());
            m_spawnJobs.pop_front();
        }
        job();
    }
}

bool CHelperPool::Spawn(Process* out, QString* reason) {
    if (m_bShutDown)
        return false;
    std::packaged_task<bool()> task(
        [&] { return HelperChannel::Start(m_strProgram, out, reason); });
    std::future<bool> done = task.get_future();
    {
        std::lock_guard lock(m_spawnMutex);
        if (m_bSpawnStop)
            return false;
        m_spawnJobs.emplace_back([&task] { task(); });
    }
    m_spawnWake.notify_one();
    const bool ok = done.get();
    if (ok)
        ++m_nStarted;
    return ok;
}

void CHelperPool::Track(pid_t pid, bool busy) {
    if (pid <= 0)
        return;
    std::lock_guard lock(m_mutex);
    if (!busy) {
        m_busy.erase(pid);
        return;
    }
    m_busy.insert(pid);
    // A shutdown that came between the start and now still ends this helper.
    if (m_bShutDown)
        ::kill(pid, SIGKILL);
}

std::optional<CHelperPool::Lease> CHelperPool::Acquire(bool reserved,
                                                       const std::atomic<bool>* cancel) {
    std::unique_lock lock(m_mutex);
    int& free = reserved ? m_nReservedFree : m_nFree;
    for (;;) {
        if (m_bShutDown || (cancel && cancel->load()))
            return std::nullopt;
        if (free > 0)
            break;
        // The wait wakes now and then to look at the cancel flag.
        m_freed.wait_for(lock, std::chrono::milliseconds(cancel ? 20 : 200));
    }
    --free;
    std::unique_ptr<Process> process;
    if (!m_idle.empty()) {
        process = std::move(m_idle.back());
        m_idle.pop_back();
    }
    return Lease(this, reserved, std::move(process));
}

void CHelperPool::Release(bool reserved, std::unique_ptr<Process> process) {
    {
        std::lock_guard lock(m_mutex);
        ++(reserved ? m_nReservedFree : m_nFree);
        if (process && process->pid > 0 && !m_bShutDown) {
            m_idle.push_back(std::move(process));
            process.reset();
        }
    }
    if (process)
        HelperChannel::Kill(*process);
    m_freed.notify_all();
}

void CHelperPool::Shutdown() {
    std::vector<std::unique_ptr<Process>> idle;
    {
        std::lock_guard lock(m_mutex);
        m_bShutDown = true;
        idle.swap(m_idle);
        // The helpers at work are only signalled here; whoever holds one collects it.
        for (const pid_t pid : m_busy)
            ::kill(pid, SIGKILL);
    }
    for (auto& p : idle)
        HelperChannel::Kill(*p);
    m_freed.notify_all();
}

// ---- Lease ----

CHelperPool::Lease::Lease(CHelperPool* pool, bool reserved, std::unique_ptr<Process> process)
    : m_pool(pool), m_bReserved(reserved), m_process(std::move(process)) {}

CHelperPool::Lease::Lease(Lease&& other) noexcept
    : m_pool(std::exchange(other.m_pool, nullptr)), m_bReserved(other.m_bReserved),
      m_process(std::move(other.m_process)) {}

CHelperPool::Lease::~Lease() {
    if (m_pool)
        m_pool->Release(m_bReserved, std::move(m_process));
}

void CHelperPool::Lease::Drop() {
    if (!m_process)
        return;
    m_pool->Track(m_process->pid, false);
    HelperChannel::Kill(*m_process);
    m_process.reset();
}

CHelperPool::Outcome CHelperPool::Lease::Call(SpiWire::Request request, const QByteArray& body,
                                              int timeoutMs, const std::atomic<bool>* cancel,
                                              Answer* answer, QString* detail) {
    auto say = [detail](const QString& text) {
        if (detail)
            *detail = text;
    };
    const auto deadline = HelperChannel::Clock::now() + std::chrono::milliseconds(timeoutMs);
    request.magic = SpiWire::kRequestMagic;
    request.serial = m_pool->m_serial++;
    // A helper that ended while idle (it retired, or was killed from outside) is replaced before
    // the request is sent; one that ends after the request has it on its conscience.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (m_pool->IsShutDown()) {
            Drop();
            return Outcome::kShutDown;
        }
        if (m_process && HelperChannel::Ended(*m_process, nullptr))
            m_process.reset();
        if (!m_process) {
            auto fresh = std::make_unique<Process>();
            QString why;
            if (!m_pool->Spawn(fresh.get(), &why)) {
                say(why);
                return m_pool->IsShutDown() ? Outcome::kShutDown : Outcome::kNoHelper;
            }
            m_process = std::move(fresh);
        }
        if (HelperChannel::Send(m_process->socket.Get(), &request, sizeof request, body))
            break;
        Drop();
        if (attempt == 1) {
            say(QStringLiteral("the helper does not take requests"));
            return Outcome::kNoHelper;
        }
    }
    m_pool->Track(m_process->pid, true);
    Answer got;
    auto fail = [&](Outcome outcome, const QString& why) {
        QString how;
        if (outcome == Outcome::kEnded) {
            // Give the ended process a moment to be collected with its signal or exit code.
            for (int i = 0; i < 50 && !HelperChannel::Ended(*m_process, &how); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        Drop();
        say(how.isEmpty() ? why : why + QStringLiteral(" (") + how + QLatin1Char(')'));
        return m_pool->IsShutDown() ? Outcome::kShutDown : outcome;
    };
    const int fd = m_process->socket.Get();
    const Wait w =
        HelperChannel::Receive(fd, &got.reply, sizeof got.reply, deadline, cancel, &got.memory);
    if (w == Wait::kTimedOut)
        return fail(Outcome::kTimedOut, QStringLiteral("no answer in %1 ms").arg(timeoutMs));
    if (w == Wait::kCancelled)
        return fail(Outcome::kCancelled, QStringLiteral("cancelled"));
    if (w == Wait::kClosed)
        return fail(Outcome::kEnded, QStringLiteral("the helper ended"));
    const SpiWire::Reply& r = got.reply;
    if (r.magic != SpiWire::kReplyMagic || r.call != request.call || r.serial != request.serial ||
        r.payloadLength > SpiWire::kMaxPayload)
        return fail(Outcome::kBadReply, QStringLiteral("an answer that does not fit the request"));
    if (r.payloadLength > 0) {
        got.payload.resize(qsizetype(r.payloadLength));
        const Wait b = HelperChannel::Receive(fd, got.payload.data(), r.payloadLength, deadline,
                                              cancel, &got.memory);
        if (b != Wait::kDone)
            return fail(b == Wait::kTimedOut    ? Outcome::kTimedOut
                        : b == Wait::kCancelled ? Outcome::kCancelled
                                                : Outcome::kEnded,
                        QStringLiteral("the answer broke off"));
    }
    m_pool->Track(m_process->pid, false);
    if (r.retiring) {
        // It used its processor time and ends by itself; the next request gets a fresh one.
        HelperChannel::Kill(*m_process);
        m_process.reset();
    }
    if (answer)
        *answer = std::move(got);
    return Outcome::kDone;
}
