// The thumbnail engine: pictures are made on a pool of worker threads (one per core), never on the
// user-interface thread. The loader does not choose what to make: whenever a worker is free it
// asks its owner (the grid) for the next job, so the owner's order of work always applies and
// nothing stale waits in a queue. Each job reads the shared thumbnail cache or decodes the file,
// fits the picture to its box and hands it back on the user-interface thread.
#pragma once

#include "ik6.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QSocketNotifier;

struct ThumbnailJob {
    uint64_t id = 0; // the owner's name for the picture
    QString path;
    QSize box;         // the picture window's client area, in logical pixels
    bool fine = false; // fine mode: 32 bits and sharpened
    double ratio = 1;  // the device pixel ratio of the screen it is shown on
};

// What a job made. The image belongs to whoever receives it.
struct ThumbnailResult {
    uint64_t id = 0;
    IKHANDLE image = 0; // 0 when the file could not be read
    QSize original;     // the picture's own size, turned upright
    QSize shown;        // the logical size it is shown at (its pixels: that at the job's ratio)
    bool sharpenFailed = false;
    bool fromCache = false;
};

class CThumbnailLoader : public QObject {
    Q_OBJECT
public:
    using NextJobFn = std::function<std::optional<ThumbnailJob>()>;
    explicit CThumbnailLoader(NextJobFn nextJob, QObject* parent = nullptr);
    // Stops the workers (each finishes the picture at hand) and throws their pictures away.
    ~CThumbnailLoader() override;

    // Starts jobs while workers are free and the owner has work.
    void Pump();
    // Pictures of the jobs started so far will not be delivered (the listing changed).
    void Cancel();
    // True while a job is at work or its picture waits to be delivered.
    bool IsBusy() const { return m_running > 0; }
    int ThreadCount() const { return m_nThreads; }
    // How many jobs may be at work at once (at most the number of workers started).
    void SetThreadCount(int n);

    // Makes one thumbnail on the calling thread: the cache when it holds a valid entry, else the
    // file itself (whose cache entry is written then). What every job runs.
    static ThumbnailResult Make(const ThumbnailJob& job);

    // Tests: called on the worker at the start of every job.
    static void SetJobHook(std::function<void(const ThumbnailJob&)> hook);

signals:
    // On the user-interface thread, for jobs not cancelled. The receiver owns result.image.
    void Loaded(const ThumbnailResult& result);

private:
    struct Task {
        ThumbnailJob job;
        uint64_t generation;
    };
    void Work();
    void Drain();

    NextJobFn m_nextJob;
    int m_nThreads = 1;
    int m_running = 0; // jobs handed out and not yet delivered (user-interface thread only)
    bool m_bPumping = false;
    std::atomic<uint64_t> m_generation{1};

    // Jobs go to the workers and pictures come back through these, under one mutex each; the
    // user-interface thread is woken through a pipe, which carries no data.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Task> m_tasks;
    bool m_bStop = false;
    std::mutex m_doneMutex;
    std::deque<std::pair<ThumbnailResult, uint64_t>> m_done;
    int m_pipe[2] = {-1, -1};
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::vector<std::thread> m_workers;
};

Q_DECLARE_METATYPE(ThumbnailResult)
