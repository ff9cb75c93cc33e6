#include "thumbs/ThumbnailLoader.h"

#include "imaging/DevicePixels.h"
#include "imaging/Fit.h"
#include "imaging/ImageKit.h"
#include "platform/Threads.h"
#include "preview/PreviewWnd.h"
#include "thumbs/ThumbnailCache.h"

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <QSocketNotifier>
#include <QThread>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::function<void(const ThumbnailJob&)>& JobHook() {
    static std::function<void(const ThumbnailJob&)> hook;
    return hook;
}

} // namespace

void CThumbnailLoader::SetJobHook(std::function<void(const ThumbnailJob&)> hook) {
    JobHook() = std::move(hook);
}

CThumbnailLoader::CThumbnailLoader(NextJobFn nextJob, QObject* parent)
    : QObject(parent), m_nextJob(std::move(nextJob)) {
    qRegisterMetaType<ThumbnailResult>();
    // One worker per core the process may use; the user-interface thread keeps its share by the
    // workers' lower priority.
    m_nThreads = std::max(1, Threads::UsableCores());
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &CThumbnailLoader::Drain);
    }
    for (int i = 0; i < m_nThreads; ++i)
        m_workers.emplace_back([this] { Work(); });
}

CThumbnailLoader::~CThumbnailLoader() {
    Cancel();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
        m_tasks.clear();
    }
    m_wake.notify_all();
    for (std::thread& t : m_workers)
        t.join();
    for (auto& done : m_done)
        CImageKit::Release(done.first.image);
    m_notifier.reset();
    for (int fd : m_pipe)
        if (fd >= 0)
            ::close(fd);
}

void CThumbnailLoader::SetThreadCount(int n) {
    m_nThreads = std::clamp(n, 1, int(m_workers.size()));
}

void CThumbnailLoader::Cancel() {
    ++m_generation;
}

void CThumbnailLoader::Pump() {
    if (m_bPumping)
        return; // the owner's NextJob may itself ask for a pump
    const QScopedValueRollback<bool> pumping(m_bPumping, true);
    while (m_running < m_nThreads) {
        std::optional<ThumbnailJob> job = m_nextJob();
        if (!job)
            break;
        // The worker gets a path of its own: the grid's copy is renamed, dropped and read on this
        // thread while the job runs, and a shared string would tie the two threads together
        // through its reference count alone.
        job->path = QString(job->path.constData(), job->path.size());
        ++m_running;
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_tasks.push_back(Task{std::move(*job), m_generation});
        }
        m_wake.notify_one();
    }
}

void CThumbnailLoader::Work() {
    Threads::LowerCurrentPriority();
    for (;;) {
        Task task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bStop || !m_tasks.empty(); });
            if (m_bStop)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        if (JobHook())
            JobHook()(task.job);
        // A job whose listing has gone since it was handed out is not worth its decode.
        ThumbnailResult result;
        result.id = task.job.id;
        if (task.generation == m_generation)
            result = Make(task.job);
        {
            const std::lock_guard<std::mutex> lock(m_doneMutex);
            m_done.emplace_back(result, task.generation);
        }
        // Wakes the user-interface thread; the picture itself went through the mutex above.
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_pipe[1], &byte, 1);
    }
}

void CThumbnailLoader::Drain() {
    char buf[64];
    while (::read(m_pipe[0], buf, sizeof buf) > 0) {
    }
    std::deque<std::pair<ThumbnailResult, uint64_t>> done;
    {
        const std::lock_guard<std::mutex> lock(m_doneMutex);
        done.swap(m_done);
    }
    for (auto& [result, generation] : done) {
        --m_running;
        if (generation != m_generation)
            CImageKit::Release(result.image);
        else
            emit Loaded(result);
    }
    Pump();
}

ThumbnailResult CThumbnailLoader::Make(const ThumbnailJob& job) {
    // Decoding never happens on the user-interface thread.
    Q_ASSERT(!QCoreApplication::instance() ||
             QThread::currentThread() != QCoreApplication::instance()->thread());
    ThumbnailResult r;
    r.id = job.id;
    CImageKit picture;
    QSize original;
    const ThumbnailCache::Stamp stamp = ThumbnailCache::StampOf(job.path);
    // The cache's size class is chosen by the device pixels the picture will have.
    const QSize device = DevicePixels::Size(job.box, job.ratio);
    const int classSide = ThumbnailCache::ClassSide(device);
    bool palette = false;
    if (ThumbnailCache::Read(job.path, stamp, classSide, picture, original)) {
        // Entries hold true colour whatever the file had; thumbnails are 32-bit like those of
        // palette pictures.
        r.fromCache = true;
        palette = true;
    } else {
        // Decoded no smaller than the cache's size class needs, so the entry written from it
        // serves the next visit.
        bool fromExif = false;
        // A screen of more device pixels than the logical box takes the embedded thumbnail only
        // when it has the pixels to fill the box.
        const int exifAtLeast = job.ratio > 1 ? std::max(device.width(), device.height()) : 0;
        if (!picture.LoadForThumbnail(job.path, QSize(classSide, classSide), &original, &fromExif,
                                      exifAtLeast)) {
            r.image = 0;
            return r;
        }
        palette = picture.GetBitCount() < 16;
        // A picture's own Exif thumbnail is as quick to read as a cache entry.
        if (!fromExif && (original.width() > classSide || original.height() > classSide)) {
            const QSize cls = FittedSize(original, QSize(classSide, classSide));
            if (picture.GetSize() != cls)
                picture.Resize(cls.width(), cls.height(), false);
            ThumbnailCache::Write(job.path, stamp, classSide, picture, original);
        }
    }
    r.original = original;
    r.shown = DevicePixels::Fit(original, job.box, job.ratio).shown;
    r.sharpenFailed = !CPreviewWnd::Fit(picture, original, job.box, job.fine, palette, job.ratio);
    // In the screen's colours, converted once the picture is at its tile's size (cache entries
    // are sRGB; a decoded picture may carry its file's profile).
    picture.ConvertToDisplay();
    r.image = picture.Detach();
    return r;
}
