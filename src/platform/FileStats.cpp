#include "platform/FileStats.h"

#include "platform/FileNames.h"
#include "platform/Threads.h"

#include <QMetaObject>
#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void CFileStats::Names::Add(const char* native) {
    const size_t n = std::strlen(native) + 1;
    bytes.insert(bytes.end(), native, native + n);
    ++count;
}

CFileStats::CFileStats(QObject* parent) : QObject(parent) {
    m_thread = std::thread([this] { Run(); });
}

CFileStats::~CFileStats() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
        ++m_generation;
        m_job.reset();
    }
    m_wake.notify_all();
    m_thread.join();
}

void CFileStats::Start(const QString& folder, Names names) {
    Cancel();
    auto job = std::make_unique<Job>();
    job->folder = FileNames::ToNative(folder);
    job->names = std::move(names);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        job->generation = ++m_generation;
        m_job = std::move(job);
    }
    m_bBusy = true;
    m_wake.notify_all();
}

void CFileStats::Hold(bool on) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHold = on;
    }
    m_wake.notify_all();
}

void CFileStats::Cancel() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_generation;
    m_job.reset();
    m_bBusy = false;
}

void CFileStats::Deliver(uint64_t generation, size_t first, std::vector<Stat> stats, bool last) {
    // Queued to the user-interface thread; dropped there when a later Start or Cancel came first
    // (and by Qt when this object is gone).
    QMetaObject::invokeMethod(
        this,
        [this, generation, first, stats = std::move(stats), last] {
            if (generation != m_generation.load())
                return;
            if (last)
                m_bBusy = false;
            if (!stats.empty())
                emit Stated(first, stats);
            if (last && generation == m_generation.load())
                emit Finished();
        },
        Qt::QueuedConnection);
}

void CFileStats::Run() {
    // Behind the user-interface thread, as the picture workers are.
    Threads::LowerCurrentPriority();
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_bQuit || (m_job && !m_bHold); });
            if (m_bQuit)
                return;
            job = std::move(m_job);
        }
        // The folder is opened here, so that its descriptor never passes between threads. One
        // that cannot be opened (gone meanwhile) tells nothing: the sizes stay unknown.
        const int folder = ::open(job->folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0) {
            Deliver(job->generation, 0, {}, true);
            continue;
        }
        const char* name = job->names.bytes.data();
        std::vector<Stat> batch;
        batch.reserve(std::min(kBatch, job->names.count));
        size_t first = 0;
        bool cancelled = false;
        for (size_t i = 0; i < job->names.count; ++i) {
            if (m_generation.load() != job->generation) {
                cancelled = true;
                break;
            }
            struct stat st {};
            Stat s;
            // Links count as what they point to, as the listing takes them.
            if (::fstatat(folder, name, &st, 0) == 0 && S_ISREG(st.st_mode))
                s = Stat{uint64_t(st.st_size), int64_t(st.st_mtim.tv_sec), true};
            batch.push_back(s);
            name += std::strlen(name) + 1;
            if (batch.size() == kBatch) {
                Deliver(job->generation, first, std::move(batch), i + 1 == job->names.count);
                first = i + 1;
                batch = {};
                batch.reserve(kBatch);
            }
        }
        ::close(folder);
        if (!cancelled && (!batch.empty() || first < job->names.count || job->names.count == 0))
            Deliver(job->generation, first, std::move(batch), true);
    }
}
