#include "thumbs/ThumbnailLoader.h"

#include "imaging/Fit.h"
#include "imaging/ImageKit.h"
#include "platform/Threads.h"
#include "preview/PreviewWnd.h"
#include "thumbs/ThumbnailCache.h"

#include <QCoreApplication>
#include <QThread>

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
    : QObject(parent), m_nextJob(std::move(nextJob)),
      m_generation(std::make_shared<std::atomic<uint64_t>>(1)) {
    qRegisterMetaType<ThumbnailResult>();
    // One worker per core; the user-interface thread keeps its share by the workers' lower
    // priority.
    m_pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
    m_pool.setExpiryTimeout(2000);
}

CThumbnailLoader::~CThumbnailLoader() {
    Cancel();
    m_pool.waitForDone();
}

void CThumbnailLoader::Cancel() {
    ++*m_generation;
}

namespace {

// A picture on its way to the user-interface thread: freed unless someone takes it.
struct PictureInTransit {
    IKHANDLE image = 0;
    ~PictureInTransit() { CImageKit::Release(image); }
};

} // namespace

void CThumbnailLoader::Pump() {
    if (m_bPumping)
        return; // the owner's NextJob may itself ask for a pump
    m_bPumping = true;
    while (m_running < m_pool.maxThreadCount()) {
        std::optional<ThumbnailJob> job = m_nextJob();
        if (!job)
            break;
        ++m_running;
        const uint64_t generation = *m_generation;
        m_pool.start([this, job = std::move(*job), generation, current = m_generation] {
            Threads::LowerCurrentPriority();
            if (JobHook())
                JobHook()(job);
            // A job whose listing has gone since it was started is not worth its decode.
            ThumbnailResult result;
            result.id = job.id;
            if (*current == generation)
                result = Make(job);
            auto transit = std::make_shared<PictureInTransit>();
            transit->image = std::exchange(result.image, 0);
            // The loader waits for its workers before it goes, so `this` is alive here; should
            // it be gone when the call comes due, the call is dropped and the picture freed.
            QMetaObject::invokeMethod(
                this,
                [this, result, transit, generation]() mutable {
                    result.image = std::exchange(transit->image, 0);
                    Deliver(result, generation);
                },
                Qt::QueuedConnection);
        });
    }
    m_bPumping = false;
}

void CThumbnailLoader::Deliver(ThumbnailResult result, uint64_t generation) {
    --m_running;
    if (generation != *m_generation) {
        CImageKit::Release(result.image);
    } else {
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
    const int classSide = ThumbnailCache::ClassSide(job.box);
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
        if (!picture.LoadForThumbnail(job.path, QSize(classSide, classSide), &original,
                                      &fromExif)) {
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
    r.sharpenFailed = !CPreviewWnd::Fit(picture, original, job.box, job.fine, palette);
    r.image = picture.Detach();
    return r;
}
