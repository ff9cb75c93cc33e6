// Watching folders for what any program does in them (inotify): the names created, removed,
// renamed or rewritten in each watched folder are gathered for a short while and reported together,
// one report per folder, so that the owner can look at those names alone instead of reading the
// folder again.
#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <utility>
#include <vector>

class QSocketNotifier;
class QTimer;

class CFolderWatch : public QObject {
    Q_OBJECT
public:
    // What happened in one watched folder since the last report.
    struct Changes {
        QString folder; // as it was given to Watch
        // Names renamed inside the folder, old name and new name, in the order they happened.
        std::vector<std::pair<QString, QString>> renamed;
        // Every name whose state may have changed (created, removed, written, its attributes
        // changed, moved in or out, either side of a rename), each once, in the order first seen.
        QStringList touched;
        bool overflow = false; // events were lost: only reading the folder again tells its state
        bool gone = false;     // the folder itself was removed, moved away or unmounted
    };

    explicit CFolderWatch(QObject* parent = nullptr);
    ~CFolderWatch() override;

    // Starts watching the folder (watching it again costs nothing). False, with the reason, when
    // it cannot be watched: the system's limit of watches is reached, the folder cannot be read,
    // or it lies on a network file system, whose other clients' changes are never reported.
    bool Watch(const QString& folder, QString* reason = nullptr);
    void Unwatch(const QString& folder);
    void UnwatchAll();
    bool IsWatching(const QString& folder) const;
    QStringList Folders() const;
    // How long events are gathered before they are reported (milliseconds, 200 by default).
    void SetDelay(int ms) { m_nDelay = ms; }
    int Delay() const { return m_nDelay; }

    // Tests: the most folders one watch may hold, as if the system's limit were that (-1: the
    // system's own).
    static void SetLimitForTests(int watches);

signals:
    // One report per folder with changes, on the thread that owns the watch.
    void Changed(const CFolderWatch::Changes& changes);

private:
    struct Watched {
        QStringList folders; // the paths this watch was asked for (one folder, maybe two names)
        QSet<QString> seen;  // touched names already noted for the next report
        Changes pending;
        bool any = false;
    };
    void ReadEvents();
    void Report();
    void Note(Watched& w, const QString& name);
    void Arm();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::unique_ptr<QTimer> m_timer;
    std::map<int, Watched> m_watches;                        // by watch descriptor
    std::map<QString, int> m_byFolder;                       // folder → watch descriptor
    std::map<uint32_t, std::pair<int, QString>> m_movedFrom; // cookie → (watch, name)
    int m_nDelay = 200;
};

// The mount table watched: Changed when a volume is mounted or unmounted.
class CMountWatch : public QObject {
    Q_OBJECT
public:
    explicit CMountWatch(QObject* parent = nullptr);
    ~CMountWatch() override;

signals:
    void Changed();

private:
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
