// Listing a folder's files with their size and last-write time, reading only the directory.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>

namespace DirList {

struct Entry {
    QString name; // as FileNames::FromNative gives it: the exact bytes survive
    uint64_t size;
    int64_t mtime; // seconds since 1970
    // False when only the name and kind were read (ForEachName): size and mtime are 0 then.
    bool stated = true;
};

// Calls fn for every regular file of the folder (symbolic links count as what they point to;
// hidden files included) whose name `accept` takes. Folders, devices, FIFOs and sockets are never
// listed. Names are tested before anything else, and only the accepted ones cost one stat each.
// Returns false when the folder cannot be read.
bool ForEachFile(const QString& folder, const std::function<bool(const QString&)>& accept,
                 const std::function<void(const Entry&)>& fn);

// As ForEachFile, from the folder alone where it tells the kind of each entry (most file systems
// do): a regular file comes without its size and date (stated false), and costs nothing beyond
// the directory read; only links and entries of unknown kind are looked at (one stat each). fn
// also gets the name's bytes as the folder holds them.
bool ForEachName(const QString& folder, const std::function<bool(const QString&)>& accept,
                 const std::function<void(const Entry&, const char* native)>& fn);

// One name of the folder looked at as ForEachFile would list it (one stat): its entry when it is a
// regular file (or a link to one) that `accept` takes, nothing when it is not or is not there.
std::optional<Entry> LookUp(const QString& folder, const QString& name,
                            const std::function<bool(const QString&)>& accept);

// How many entries the folder may hold, from its size as the file system tells it (ext4 gives
// some 34 bytes per entry, tmpfs 20): room reserved before a listing, never a limit. 0 when the
// folder cannot be looked at.
size_t EntriesHint(const QString& folder);

// True when the path is a folder (or a link to one).
bool IsFolder(const QString& path);

// What the listing has cost since the process started: folders read by ForEachFile, and files
// looked at one by one (by ForEachFile and LookUp). Tests tell a folder read again from a few
// names looked at.
struct Counters {
    uint64_t listings = 0;
    uint64_t stats = 0;
};
Counters Count();

// The names of the folder's subfolders (links to folders included, hidden ones too), appended to
// out. With firstOnly the reading stops at the first one. Returns false when the folder cannot be
// read.
bool SubFolders(const QString& folder, bool firstOnly, QStringList& out);

} // namespace DirList
