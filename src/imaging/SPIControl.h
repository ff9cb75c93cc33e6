// The import plug-in host: one loaded plug-in (CSPICore) and the manager of all of them
// (CSPIControl), which loads a folder of plug-ins, lists their formats and decodes a file through
// the first plug-in that takes it.
//
// Threads: the manager may be used from several threads at once. A reader-writer lock guards the
// list of plug-ins (LoadFolder writes it; everything else reads it), and each plug-in has a lock
// of its own held around IsSupported, GetPicture and GetPictureInfo, so that no plug-in is ever
// entered by two threads at once while different plug-ins decode in parallel. GetPluginInfo is
// called without the plug-in's lock: it only copies constant texts, and the extension test of
// every listed file must not wait for a long decode.
#pragma once

#define SPI_HOST
#include "spi.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

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
inline constexpr int kSpiErrNoDecoder = 2;   // no plug-in decoded the file
inline constexpr int kSpiErrRead = 6;        // the file cannot be opened or read
inline constexpr int kSpiErrBadArgument = 8; // no path or no place for a handle

// The most formats counted for one plug-in (a plug-in that never ends its list stops here).
inline constexpr int kSpiMaxFormats = 1024;

// One plug-in: empty, or a loaded module with its texts and entry points.
class CSPICore {
public:
    CSPICore();
    virtual ~CSPICore();
    CSPICore(CSPICore&& other) noexcept;
    CSPICore& operator=(CSPICore&& other) noexcept;
    CSPICore(const CSPICore&) = delete;
    CSPICore& operator=(const CSPICore&) = delete;

    // Loads the module and reads its kind and formats; false (and empty) when the module cannot
    // be loaded or does not export GetPluginInfo, with the reason in *reason.
    bool Load(const QString& path, QString* reason = nullptr);
    // Returns to empty: the module is unloaded and every member cleared.
    void Unload();
    bool IsLoaded() const { return m_hModule != nullptr; }

    // The text GetPluginInfo gives for that number into a buffer of buflen bytes; *result gets
    // what the call returned.
    QString Info(int infono, int buflen, int* result = nullptr) const;
    // The number of formats the plug-in reports now, asked afresh (0 while disabled).
    int CountFormats() const;

    int m_nReserved = 0;
    bool m_bEnable = true; // set on creation; a disabled plug-in's formats are not counted
    void* m_hModule = nullptr;
    QString m_strPath;     // the module's full path as the loader reports it
    QString m_strFileName; // its file name with extension, without folder
    int m_nKind = kSpiKindUnknown;
    int m_nFormats = 0;
    QStringList m_patterns;     // extension patterns, exactly as the plug-in gives them
    QStringList m_descriptions; // the formats' names, parallel to the patterns

    SPI_GetPluginInfo m_pGetPluginInfo = nullptr;
    SPI_IsSupported m_pIsSupported = nullptr;
    SPI_GetPictureInfo m_pGetPictureInfo = nullptr;
    SPI_GetPicture m_pGetPicture = nullptr;
    SPI_GetPreview m_pGetPreview = nullptr;
    SPI_GetArchiveInfo m_pGetArchiveInfo = nullptr;
    SPI_GetFileInfo m_pGetFileInfo = nullptr;
    SPI_GetFile m_pGetFile = nullptr;
    SPI_ConfigurationDlg m_pConfigurationDlg = nullptr;

    // Held around every call that reads a picture.
    std::mutex& Lock() const { return *m_lock; }

private:
    std::unique_ptr<std::mutex> m_lock;
};

// The plug-in manager.
class CSPIControl {
public:
    CSPIControl();
    virtual ~CSPIControl();
    CSPIControl(const CSPIControl&) = delete;
    CSPIControl& operator=(const CSPIControl&) = delete;

    // Loads the import filters of the folder ("" is the current folder) that are not loaded yet
    // under the same file name. Returns the number added.
    int LoadFolder(const QString& folder);
    // The number of formats of the enabled plug-ins, asked afresh from each of them.
    int GetFormatCount() const;
    // True when "*" followed by the extension (with its dot), ignoring case, is one of the
    // extension patterns of a loaded plug-in.
    bool IsSupportedExtension(const QString& extension) const;
    // Decodes the file through the first plug-in that takes it. Returns 0 with the picture's two
    // local-memory blocks (and, when info is given, its information) handed to the caller, who
    // frees them with LocalFree; else kSpiErrBadArgument, kSpiErrRead or kSpiErrNoDecoder.
    int DecodeFile(const QString& path, HLOCAL* header, HLOCAL* bits, SPI_PICTUREINFO* info);

    // Called for each plug-in kept by LoadFolder, with its file name and index, once all are in
    // the list (the manager may be asked from here). Returns 1.
    virtual int OnPluginLoaded(const QString& fileName, const QString& text, int index);

    // The checker program run on each plug-in before it is loaded into this process ("" loads
    // without that check).
    void SetChecker(const QString& program) { m_strChecker = program; }
    QString Checker() const { return m_strChecker; }

    // The plug-ins loaded, in order (for the program's own inspection; not while loading).
    int GetSize() const;
    QString FileNameAt(int index) const;
    QStringList PatternsAt(int index) const;
    // The index of the plug-in that decoded last (-1 before any).
    int LastDecoder() const { return m_nLastDecoder.load(); }

private:
    std::vector<CSPICore> m_plugins;
    mutable std::shared_mutex m_lock;
    // The progress callback and its value passed to GetPicture: none.
    SPI_PROGRESS m_pProgress = nullptr;
    intptr_t m_lData = 0;
    QString m_strText;
    int m_nKindMask = kSpiImportFilters;
    std::atomic<int> m_nLastDecoder{-1};
    QString m_strChecker;
};
