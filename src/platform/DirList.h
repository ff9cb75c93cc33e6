// Listing a folder's files with their size and last-write time, reading only the directory.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace DirList {

struct Entry {
    QString name;
    uint64_t size;
    int64_t mtime; // seconds since 1970
};

// Calls fn for every entry of the folder that is not a folder itself ("." and ".." included
// neither), hidden files included. Returns false when the folder cannot be read.
bool ForEachFile(const QString& folder, const std::function<void(const Entry&)>& fn);

} // namespace DirList
