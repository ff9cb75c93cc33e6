#include "platform/FolderWatch.h"

#include "platform/FileNames.h"
#include "platform/Volumes.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// What is watched: names appearing, going and being written; the folder itself going. A file in
// the middle of being written is reported when it is created and again when it is closed, not at
// every write.
constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                           IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

int g_limitForTests = -1;

} // namespace

CFolderWatch::CFolderWatch(QObject* parent) : QObject(parent) {
    m_timer = std::make_unique<QTimer>();
    m_timer->setSingleShot(true);
    connect(m_timer.get(), &QTimer::timeout, this, &CFolderWatch::Report);
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &CFolderWatch::ReadEvents);
    }
}

CFolderWatch::~CFolderWatch() {
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void CFolderWatch::SetLimitForTests(int watches) {
    g_limitForTests = watches;
}

bool CFolderWatch::Watch(const QString& folder, QString* reason) {
    const auto fail = [reason](const QString& why) {
        if (reason)
            *reason = why;
        return false;
    };
    if (m_byFolder.count(folder))
        return true;
    if (m_fd < 0)
        return fail(QStringLiteral("inotify is not available"));
    // A network file system reports only what this machine does: the folder is looked at again
    // instead (when the window comes back to the front).
    if (Volumes::IsNetworkPath(folder))
        return fail(QStringLiteral("a network file system"));
    if (g_limitForTests >= 0 && int(m_watches.size()) >= g_limitForTests)
        return fail(QString::fromLocal8Bit(std::strerror(ENOSPC)));
    const int wd = ::inotify_add_watch(m_fd, FileNames::ToNative(folder).constData(), kMask);
    if (wd < 0)
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    // The same folder under another name (a link, a favourite inside the desktop) shares the
    // watch; its reports go to every name.
    Watched& w = m_watches[wd];
    w.folders << folder;
    m_byFolder[folder] = wd;
    return true;
}

void CFolderWatch::Unwatch(const QString& folder) {
    const auto it = m_byFolder.find(folder);
    if (it == m_byFolder.end())
        return;
    const int wd = it->second;
    m_byFolder.erase(it);
    const auto w = m_watches.find(wd);
    if (w == m_watches.end())
        return;
    w->second.folders.removeAll(folder);
    if (w->second.folders.isEmpty()) {
        ::inotify_rm_watch(m_fd, wd);
        m_watches.erase(w);
    }
}

void CFolderWatch::UnwatchAll() {
    for (const auto& [wd, w] : m_watches)
        ::inotify_rm_watch(m_fd, wd);
    m_watches.clear();
    m_byFolder.clear();
    m_movedFrom.clear();
}

bool CFolderWatch::IsWatching(const QString& folder) const {
    return m_byFolder.count(folder) != 0;
}

QStringList CFolderWatch::Folders() const {
    QStringList out;
    for (const auto& [folder, wd] : m_byFolder)
        out << folder;
    return out;
}

void CFolderWatch::Note(Watched& w, const QString& name) {
    w.any = true;
    if (!w.seen.contains(name)) {
        w.seen.insert(name);
        w.pending.touched << name;
    }
}

void CFolderWatch::Arm() {
    if (!m_timer->isActive())
        m_timer->start(m_nDelay);
}

void CFolderWatch::ReadEvents() {
    alignas(inotify_event) char buf[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* ev = reinterpret_cast<const inotify_event*>(buf + at);
            at += ssize_t(sizeof(inotify_event) + ev->len);
            if (ev->mask & IN_Q_OVERFLOW) {
                for (auto& [wd, w] : m_watches) {
                    w.pending.overflow = true;
                    w.any = true;
                }
                continue;
            }
            const auto it = m_watches.find(ev->wd);
            if (it == m_watches.end())
                continue; // a watch given up meanwhile
            Watched& w = it->second;
            if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT)) {
                w.pending.gone = true;
                w.any = true;
                continue;
            }
            if (ev->len == 0)
                continue;
            const QString name = FileNames::FromNative(ev->name);
            if (ev->mask & IN_MOVED_FROM) {
                m_movedFrom[ev->cookie] = {ev->wd, name};
            } else if (ev->mask & IN_MOVED_TO) {
                const auto from = m_movedFrom.find(ev->cookie);
                if (from != m_movedFrom.end() && from->second.first == ev->wd)
                    w.pending.renamed.emplace_back(from->second.second, name);
                if (from != m_movedFrom.end()) {
                    // Moved here from another watched folder: gone from there.
                    if (const auto src = m_watches.find(from->second.first); src != m_watches.end())
                        Note(src->second, from->second.second);
                    m_movedFrom.erase(from);
                }
            }
            Note(w, name);
        }
    }
    // A name moved away to an unwatched place is gone from its folder.
    for (const auto& [cookie, from] : m_movedFrom)
        if (const auto src = m_watches.find(from.first); src != m_watches.end())
            Note(src->second, from.second);
    m_movedFrom.clear();
    for (const auto& [wd, w] : m_watches)
        if (w.any) {
            Arm();
            break;
        }
}

void CFolderWatch::Report() {
    // The reports are taken out first: a receiver may watch or unwatch folders.
    std::vector<Changes> out;
    std::vector<int> ended;
    for (auto& [wd, w] : m_watches) {
        if (!w.any)
            continue;
        for (const QString& folder : w.folders) {
            Changes c = w.pending;
            c.folder = folder;
            out.push_back(std::move(c));
        }
        if (w.pending.gone)
            ended.push_back(wd);
        w.pending = Changes();
        w.seen.clear();
        w.any = false;
    }
    // A folder that went keeps no watch: watching it again (when it comes back) starts afresh.
    for (int wd : ended) {
        for (const QString& folder : m_watches[wd].folders)
            m_byFolder.erase(folder);
        ::inotify_rm_watch(m_fd, wd);
        m_watches.erase(wd);
    }
    for (const Changes& c : out)
        emit Changed(c);
}

CMountWatch::CMountWatch(QObject* parent) : QObject(parent) {
    // The kernel marks the mount table exceptional (POLLPRI) whenever it changes.
    m_fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Exception);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        // Reading the table again clears the mark.
        char buf[4096];
        ::lseek(m_fd, 0, SEEK_SET);
        while (::read(m_fd, buf, sizeof buf) > 0) {
        }
        emit Changed();
    });
}

CMountWatch::~CMountWatch() {
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}
