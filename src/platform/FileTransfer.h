// Copying and moving files and folders into one destination folder: the slow work behind the
// shell file operation, done on a worker thread while the user-interface thread shows progress.
//
// Nothing is ever lost and nothing half-made is left behind:
// - a file or folder is copied under a temporary hidden name in the destination folder and
//   renamed to its final name only when it is complete (modification time and permissions
//   kept); a stopped or failed item leaves no trace in the destination;
// - a move within one file system is a rename; across file systems the item is copied, written
//   out to the disk, read back and compared, renamed into place, and only then is the source
//   removed: each source file only while its name still leads to the very file that was read
//   (another program may have saved a new version over it meanwhile, which is then kept);
// - the temporary names carry the process's ID, so that what a killed run left behind is known
//   as such: such leftovers are removed the next time a transfer writes into that folder;
// - a name that is taken gets "name - コピー.ext", "name - コピー (2).ext", … (unless the item was
//   cleared to replace an existing file);
// - a folder is never copied or moved into itself.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <vector>

class CFileTransfer {
public:
    enum class Mode { Copy, Move };
    // What to do when the destination already holds an entry of the item's name.
    enum class Collision { Rename, Replace };
    enum class Outcome { NotStarted, Done, Failed, Stopped };

    struct Item {
        QString source;
        Collision collision = Collision::Rename;
    };
    struct Result {
        QString source;
        QString target; // the final path (also when a move's source could not be removed)
        Outcome outcome = Outcome::NotStarted;
        QString reason; // why it failed, or why it was not started
    };
    struct Progress {
        QString current; // the name of the file in work, as shown
        int64_t bytesDone = 0;
        int64_t bytesTotal = 0; // 0 while the items are still being measured
    };
    // A path that changed: the entry moved from → to, or was removed (to is empty).
    struct Change {
        QString from;
        QString to;
    };

    CFileTransfer(Mode mode, std::vector<Item> items, const QString& destination);
    ~CFileTransfer(); // stops the work and waits for it
    CFileTransfer(const CFileTransfer&) = delete;
    CFileTransfer& operator=(const CFileTransfer&) = delete;

    // Starts the work on a worker thread.
    void Start();
    // Does the work on the calling thread.
    void Run();
    // Waits at most ms milliseconds; true once the work is finished.
    bool Wait(int ms);
    bool Finished() const { return m_finished.load(); }
    // Asks the work to stop (any thread): the item in work is undone, the rest are not started.
    void Stop() { m_stop.store(true); }
    bool StopRequested() const { return m_stop.load(); }

    Mode GetMode() const { return m_mode; }
    Progress CurrentProgress() const;
    // The changes of paths made so far and not taken yet (the files of a moved folder each).
    std::vector<Change> TakeChanges();
    // One result per item, in order; complete once the work is finished.
    const std::vector<Result>& Results() const { return m_results; }

    // Tests: called on the working thread after every piece of data copied.
    static std::function<void(CFileTransfer&)> s_onChunk;
    // Tests: called on the working thread with each source file (or link) of a move across file
    // systems just before it is checked and removed.
    static std::function<void(CFileTransfer&, const QByteArray& source)> s_beforeRemove;

private:
    struct Failure;
    struct Identity;
    struct Copied;
    void Work();
    void Measure();
    // Returns the error number of a failure (0 when none or when it carried no number).
    int DoItem(size_t i);
    bool CopyItem(const QByteArray& src, bool followLink, bool verify, Collision collision,
                  QByteArray& finalPath, Copied* copied, Failure& f);
    bool CopyTree(const QByteArray& src, const QByteArray& dst, Copied* copied,
                  const QByteArray& rel, bool verify, Failure& f);
    bool CopyFile(const QByteArray& src, int out, bool verify, Identity* read, Failure& f);
    // Removes the copied source files and folders of a move; false with the reason when some of
    // them stay.
    bool RemoveSource(const QByteArray& src, bool isFolder, const Copied& copied,
                      const QByteArray& finalPath, QString& reason);
    bool CopyData(int in, int out, int64_t& copied, Failure& f);
    bool Place(const QByteArray& from, const QByteArray& name, bool isFolder, Collision collision,
               QByteArray& finalPath, Failure& f);
    void AddChange(const QByteArray& from, const QByteArray& to);
    void SetCurrent(const QByteArray& path);

    const Mode m_mode;
    const std::vector<Item> m_items;
    const QByteArray m_dest;
    std::vector<Result> m_results;
    struct stat m_destStat {};
    std::vector<char> m_buffer; // the worker's copy and comparison buffers

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_finished{false};
    std::atomic<int64_t> m_bytesDone{0};
    std::atomic<int64_t> m_bytesTotal{0};
    mutable std::mutex m_mutex; // guards m_current, m_changes and the wait
    std::condition_variable m_done;
    QString m_current;
    std::vector<Change> m_changes;
    std::thread m_thread;
};

// The name an entry gets in a folder where its own name is taken: n = 0 is the name itself,
// n = 1 "name - コピー.ext", n ≥ 2 "name - コピー (n).ext". A folder's name is never split at a
// dot, nor is a leading dot taken for an extension.
QString CollisionName(const QString& name, int n, bool isFolder);
