// Sizes and dates of the files a listing named, looked up on a worker thread after the listing
// has been shown: a folder of a million files costs a million stat calls, which the first screen
// does not need. Results come back on the user-interface thread in batches, in the order the
// names were given.
#pragma once

#include "platform/HugePages.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class CFileStats : public QObject {
    Q_OBJECT
public:
    // What one name turned out to be.
    struct Stat {
        uint64_t size = 0;
        int64_t mtime = 0;    // seconds since 1970
        bool regular = false; // false: gone, or no longer a regular file (or a link to one)
    };
    // The names of one folder, each one's bytes as the folder holds them followed by a NUL.
    struct Names {
        std::vector<char, HugePages::Allocator<char>> bytes;
        size_t count = 0;
        void Add(const char* native);
    };

    explicit CFileStats(QObject* parent = nullptr);
    // Stops the worker (it finishes the stat at hand).
    ~CFileStats() override;

    // Looks at the names of the folder in order; what an earlier Start had left to do is dropped,
    // and its results are no longer delivered. A folder that cannot be opened delivers nothing but
    // Finished.
    void Start(const QString& folder, Names names);
    // Results not yet delivered are dropped.
    void Cancel();
    // True from Start until the last batch has been delivered.
    bool IsBusy() const { return m_bBusy; }
    // Tests: while held, the worker starts no new job (what another program does meanwhile can
    // then come between a listing and its lookup).
    void Hold(bool on);
    // How many names a batch holds at most.
    static constexpr size_t kBatch = 4096;

signals:
    // stats[k] is the result for name first + k of the last Start.
    void Stated(size_t first, const std::vector<CFileStats::Stat>& stats);
    // Every name of the last Start has been delivered.
    void Finished();

private:
    struct Job {
        uint64_t generation = 0;
        QByteArray folder; // as the file system names it
        Names names;
    };
    void Run();
    void Deliver(uint64_t generation, size_t first, std::vector<Stat> stats, bool last);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::unique_ptr<Job> m_job; // waiting for the worker
    bool m_bQuit = false;
    bool m_bHold = false;
    std::atomic<uint64_t> m_generation{0};
    bool m_bBusy = false; // user-interface thread only
};
