// Plain questions and changes about single files, by their exact names (see FileNames).
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace Files {

struct Info {
    int64_t size = 0;
    int64_t mtime = 0; // seconds since 1970
    bool isFolder = false;
    bool isRegular = false;
};

// What the path names (links followed), or nothing when it does not exist.
std::optional<Info> Stat(const QString& path);
// True when something of that name exists (a dangling link does not count).
bool Exists(const QString& path);
// Makes the folder and the missing folders above it, each with the given mode.
bool MakeFolders(const QString& path, int mode);
// Removes one file (not a folder); true when it is gone.
bool RemoveFile(const QString& path);

} // namespace Files
