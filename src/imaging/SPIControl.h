// The import plug-in host: one plug-in as the program knows it (CSPICore) and the manager of all of
// them (CSPIControl), which checks a folder of plug-ins, lists their formats and decodes a file
// through the first plug-in that takes it.
//
// No plug-in code runs in the program's own process. Every call into a plug-in is made by a
// helper process (quilla-spihost, see platform/HelperPool.h) that loaded it; the program keeps
// only the plug-in's texts, asked once when it was checked and cached with the file's size and
// modification time. Each call has a deadline; a plug-in whose helper misses it, crashes, exits
// or answers nonsense fails that file with a reason, and one that fails three files in a row is
// set aside for the rest of the session.
//
// Threads: the manager may be used from several threads at once, but never from the
// user-interface thread for a decode (that waits on a helper). A reader-writer lock guards the
// list of plug-ins; each helper serves one caller at a time, so no plug-in is ever entered by two
// threads of one process at once.
#pragma once

#define SPI_HOST
#include "spi.h"

#include "platform/HelperChannel.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

class CHelperPool;

// Interface kinds, from characters 3 and 4 of a plug-in's version text ("00IN" and so on).
enum SpiKind : int {
    kSpiKindUnknown = 0,
    kSpiKindImport = 1,         // "IN"
    kSpiKindImportMulti = 129,  // "IM"
    kSpiKindArchive = 2,        // "AN"
    kSpiKindArchiveMulti = 130, // "AM"
    kSpiKindExport = 4,         // "XN"
    kSpiKindExportMulti = 132,  // "XM"
    kSpiKindConverter = 16,     // "CN"
    kSpiKindEditor = 32,        // "EN"
};
// The kinds kept by the manager: those with bit 0 set, the import filters.
inline constexpr int kSpiImportFilters = 1;

// DecodeFile's results besides 0.
inline constexpr int kSpiErrNoDecoder = 2;    // no plug-in decoded the file
inline constexpr int kSpiErrRead = 6;         // the file cannot be opened or read
inline constexpr int kSpiErrBadArgument = 8;  // no path or no place for the picture
inline constexpr int kSpiErrPluginFailed = 9; // a plug-in hung, crashed, exited or lied
inline constexpr int kSpiErrCancelled = 10;   // the caller gave up, or the program is ending
inline constexpr int kSpiErrNoHelper = 11;    // the helper program cannot be started

// The most formats counted for one plug-in (a plug-in that never ends its list stops here).
inline constexpr int kSpiMaxFormats = 1024;
// A plug-in that fails this many files in a row is set aside for the session.
inline constexpr int kSpiFailuresToSetAside = 3;

// The deadlines of the calls, in milliseconds: the texts and the quick questions, and a picture
// (the base, one more second per this many bytes of file, and the most).
inline constexpr int kSpiCheckDeadlineMs = 5000;
inline constexpr int kSpiQuickDeadlineMs = 2000;
inline constexpr int kSpiPictureDeadlineMs = 5000;
inline constexpr int64_t kSpiPictureBytesPerSecond = 1 << 20;
inline constexpr int kSpiPictureMaxDeadlineMs = 30000;

// What GetPictureInfo told of a picture (its text block copied).
struct SpiPictureInfo {
    int left = 0, top = 0, width = 0, height = 0;
    int xDensity = 0, yDensity = 0, colorDepth = 0;
    QByteArray text;
};

// A decoded picture: the image reads the shared memory the helper filled, which lives as long as
// this object.
struct SpiPicture {
    QImage image;
    HelperChannel::SharedMap memory;
    // For a picture reduced for a thumbnail: the whole picture's size as the plug-in's
    // GetPictureInfo told it, turned like the image. Empty when the image is the whole picture
    // (or the plug-in did not tell).
    QSize whole;
};

// One plug-in as the host knows it: its file, kind and texts, and how it has fared.
class CSPICore {
public:
    CSPICore();
    ~CSPICore();
    CSPICore(CSPICore&& other) noexcept;
    CSPICore& operator=(CSPICore&& other) noexcept;
    CSPICore(const CSPICore&) = delete;
    CSPICore& operator=(const CSPICore&) = delete;

    // Asks a helper of its own for the plug-in's kind and formats; false (and empty) when the
    // module cannot be loaded, does not export GetPluginInfo or does not answer in time, with the
    // reason in *reason. helper "" is the program's helper beside the executable.
    bool Load(const QString& path, QString* reason = nullptr, const QString& helper = QString());
    // Returns to empty.
    void Unload();
    bool IsLoaded() const { return !m_strPath.isEmpty(); }

    // The text GetPluginInfo gave for that number, cut to a buffer of buflen bytes; *result gets
    // its length (0 for a number past the last).
    QString Info(int infono, int buflen, int* result = nullptr) const;
    // The number of formats (0 while disabled or set aside).
    int CountFormats() const;
    // Set aside for the session after too many failures in a row.
    bool IsSetAside() const;
    // Counts a file the plug-in failed (true when this set it aside), or one it handled.
    bool CountFailure();
    void CountSuccess();

    int m_nReserved = 0;
    bool m_bEnable = true; // set on creation; a disabled plug-in's formats are not counted
    QString m_strPath;     // the module's full path
    QString m_strFileName; // its file name with extension, without folder
    int m_nKind = kSpiKindUnknown;
    int m_nFormats = 0;
    QByteArray m_version;         // text 0 as the plug-in gave it
    QByteArray m_name;            // text 1
    QStringList m_patterns;       // extension patterns, exactly as the plug-in gives them
    QStringList m_descriptions;   // the formats' names, parallel to the patterns
    QList<QByteArray> m_rawTexts; // texts 2 and on, as given

    // Fills kind and texts from a helper's answer to the texts request; false when it does not
    // hold together.
    bool TakeTexts(int versionResult, const QByteArray& payload);

private:
    struct Health {
        std::atomic<int> failures{0};
        std::atomic<bool> setAside{false};
    };
    std::unique_ptr<Health> m_health;
};

// The plug-in manager.
class CSPIControl {
public:
    CSPIControl();
    virtual ~CSPIControl();
    CSPIControl(const CSPIControl&) = delete;
    CSPIControl& operator=(const CSPIControl&) = delete;

    // Checks the import filters of the folder ("" is the current folder) that are not loaded yet
    // under the same file name, all at once in helpers of their own under one deadline, and adds
    // those that answered. Plug-ins whose file (path, size, modification time) is in the cache
    // are taken from there without a check. Returns the number added.
    int LoadFolder(const QString& folder);
    // The same in two steps: the plug-ins the cache knows are added before this returns, the
    // others are checked on a thread of the manager's and added when they have answered.
    int LoadFolderInBackground(const QString& folder);
    // Waits for a check started in the background (tests, and the end of the program).
    void WaitForBackground();
    // Called on the manager's thread when plug-ins checked in the background came on line.
    void SetOnlineHandler(std::function<void()> handler) { m_onOnline = std::move(handler); }

    // The number of formats of the enabled plug-ins that are not set aside.
    int GetFormatCount() const;
    // True when "*" followed by the extension (with its dot), ignoring case, is one of the
    // extension patterns of a plug-in in use.
    bool IsSupportedExtension(const QString& extension) const;
    // Decodes the file through the first plug-in that takes it. Returns 0 with the picture (and,
    // when info is given, its information); else an error number, with the reason for the
    // plug-in errors in *reason. reserved takes the helper kept for the preview and the
    // information; cancel (when given) gives up as soon as it becomes true. A box that is not
    // empty asks for a picture for a thumbnail: plug-ins that export GetPictureScaled are asked
    // for one at least as large as the whole picture fitted into the box (see picture->whole);
    // the others give the whole picture.
    int DecodeFile(const QString& path, SpiPicture* picture, SpiPictureInfo* info = nullptr,
                   QString* reason = nullptr, bool reserved = false,
                   const std::atomic<bool>* cancel = nullptr, QSize box = QSize());
    // The picture information of the file from the first plug-in that takes it (GetPictureInfo,
    // without decoding). 0 with the information; else an error number as DecodeFile's, with the
    // reason for the plug-in errors in *reason.
    int FileInformation(const QString& path, SpiPictureInfo* info, QString* reason = nullptr,
                        bool reserved = false, const std::atomic<bool>* cancel = nullptr);

    // Called for each plug-in kept by LoadFolder, with its file name and index, once all of one
    // check are in the list (the manager may be asked from here). Returns 1. May come on the
    // manager's thread when the check runs in the background.
    virtual int OnPluginLoaded(const QString& fileName, const QString& text, int index);

    // The helper program ("" is quilla-spihost beside the executable), and how many helpers may
    // work at once besides the one kept for the preview and the information.
    void SetHelper(const QString& program) { m_strHelper = program; }
    QString Helper() const;
    void SetHelperCount(int count) { m_nHelpers = count; }
    // The cache file of the checks ("" keeps no cache).
    void SetCacheFile(const QString& path) { m_strCache = path; }
    // Kills every helper and stops every call and check at once; the manager decodes nothing
    // afterwards. For the end of the program.
    void Shutdown();
    // Takes calls again after a shutdown, with fresh helpers.
    void Resume();

    // The plug-ins loaded, in order (for the program's own inspection).
    int GetSize() const;
    QString FileNameAt(int index) const;
    QStringList PatternsAt(int index) const;
    bool IsSetAsideAt(int index) const;
    // The plug-ins that were refused when checked, with why ("name: reason").
    QStringList Refused() const;
    // The index of the plug-in that decoded last (-1 before any).
    int LastDecoder() const { return m_nLastDecoder.load(); }
    // Asks plug-in index for its text of that number afresh through a helper (tests).
    QByteArray AskText(int index, int infono);
    // Helpers started so far (tests).
    int HelpersStarted() const;

private:
    struct Candidate;
    std::vector<Candidate> FindCandidates(const QString& folder);
    void CheckCandidates(std::vector<Candidate>& candidates, const std::atomic<bool>* cancel);
    int AddCandidates(std::vector<Candidate>& candidates);
    CHelperPool& Pool();
    // Shared by DecodeFile and FileInformation: the file's head and size, and the plug-ins to
    // ask, in order (0, or an error number).
    struct Order {
        struct Entry {
            int index;
            QByteArray module;
            QString name;
        };
        QByteArray native; // the file's path
        QByteArray head;   // its first bytes
        int64_t fileSize = 0;
        std::vector<Entry> entries;
    };
    int PrepareOrder(const QString& path, Order* order);
    // Counts a failure of the plug-in and says so on the standard error.
    void CountFault(const Order::Entry& e, const QString& detail, const QByteArray& native);
    void CountSuccess(int index);
    void ReadCache();
    void WriteCache();

    std::vector<CSPICore> m_plugins;
    mutable std::shared_mutex m_lock;
    QString m_strText;
    int m_nKindMask = kSpiImportFilters;
    std::atomic<int> m_nLastDecoder{-1};
    QString m_strHelper;
    int m_nHelpers = 0;
    QString m_strCache;
    QStringList m_refused;

    std::mutex m_poolMutex;
    std::unique_ptr<CHelperPool> m_pool;
    // Pools of earlier sessions: a caller may still hold one of their helpers.
    std::vector<std::unique_ptr<CHelperPool>> m_retired;
    std::atomic<bool> m_bShutDown{false};

    // The check cache, by path: size, modification time and the answer.
    struct CacheEntry;
    std::mutex m_cacheMutex;
    std::vector<CacheEntry> m_cache;
    bool m_bCacheRead = false;

    std::function<void()> m_onOnline;
    std::mutex m_backgroundMutex;
    std::thread m_background;
};
