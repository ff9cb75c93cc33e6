// A small pool of plug-in helper processes (quilla-spihost). A thread that wants a plug-in called
// takes a helper for the length of its work (waiting while all are taken), sends its requests and
// waits for each answer until its deadline. A helper that misses a deadline, ends, or answers
// something that does not hold together is killed at once and a fresh one started for the next
// request. The user-interface thread never takes a helper.
//
// Helpers are started from one thread of the pool that lives as long as the pool, because a
// helper ends with the thread that started it (PR_SET_PDEATHSIG follows the thread).
#pragma once

#include "platform/HelperChannel.h"
#include "platform/SpiWire.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

class CHelperPool {
public:
    // What a call came to.
    enum class Outcome {
        kDone,      // an answer that holds together
        kTimedOut,  // no answer by the deadline: the helper was killed
        kEnded,     // the helper ended (crash, exit) before it answered
        kBadReply,  // the answer does not hold together: the helper was killed
        kCancelled, // the caller gave up: the helper was killed
        kNoHelper,  // no helper could be started
        kShutDown,  // the pool is shutting down
    };
    struct Answer {
        SpiWire::Reply reply;
        QByteArray payload;
        HelperChannel::UniqueFd memory; // a picture's shared memory, when one came
    };

    // workers helpers for any work and reserved more for the work that takes a reserved one.
    CHelperPool(const QString& program, int workers, int reserved);
    ~CHelperPool();
    CHelperPool(const CHelperPool&) = delete;
    CHelperPool& operator=(const CHelperPool&) = delete;

    // One helper, taken for a while.
    class Lease {
    public:
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&&) = delete;
        Lease(const Lease&) = delete;
        ~Lease();
        // Sends the request (its payload is body) and waits for the answer until timeoutMs have
        // passed, or *cancel becomes true. On anything but kDone the helper is gone and *detail
        // says how it ended.
        Outcome Call(SpiWire::Request request, const QByteArray& body, int timeoutMs,
                     const std::atomic<bool>* cancel, Answer* answer, QString* detail = nullptr);

    private:
        friend class CHelperPool;
        Lease(CHelperPool* pool, bool reserved, std::unique_ptr<HelperChannel::Process> process);
        void Drop();
        CHelperPool* m_pool;
        bool m_bReserved;
        std::unique_ptr<HelperChannel::Process> m_process;
    };

    // Takes a helper (a reserved one when reserved is set), waiting while all are taken; none
    // once the pool is shut down, or when *cancel becomes true.
    std::optional<Lease> Acquire(bool reserved, const std::atomic<bool>* cancel = nullptr);
    // Kills every helper, also those at work (their callers see kShutDown), and refuses new work.
    void Shutdown();
    bool IsShutDown() const { return m_bShutDown.load(); }
    QString Program() const { return m_strProgram; }
    // Helpers started so far (tests).
    int Started() const { return m_nStarted.load(); }

private:
    bool Spawn(HelperChannel::Process* out, QString* reason);
    void Release(bool reserved, std::unique_ptr<HelperChannel::Process> process);
    void Track(pid_t pid, bool busy);
    void SpawnLoop();

    const QString m_strProgram;
    std::atomic<bool> m_bShutDown{false};
    std::atomic<int> m_nStarted{0};
    std::atomic<uint64_t> m_serial{1};

    std::mutex m_mutex;
    std::condition_variable m_freed;
    int m_nFree;
    int m_nReservedFree;
    std::vector<std::unique_ptr<HelperChannel::Process>> m_idle;
    std::set<pid_t> m_busy; // helpers at work, killed by Shutdown

    std::mutex m_spawnMutex;
    std::condition_variable m_spawnWake;
    std::deque<std::function<void()>> m_spawnJobs;
    bool m_bSpawnStop = false;
    std::thread m_spawner;
};
