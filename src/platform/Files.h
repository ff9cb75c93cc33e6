// Plain questions and changes about single files, by their exact names (see FileNames).
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
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
// True when the path names an existing file (links followed) that is not to be written over: this
// user may not write it, or it allows nobody to (a file marked read-only, also for root).
bool IsReadOnlyFile(const QString& path);
// True when both paths name one existing file or folder (links followed).
bool SameFile(const QString& a, const QString& b);

// The reason an error number stands for, as the user is told it.
QString ErrorText(int errnum);

// Renames without ever replacing an existing entry of the new name, also on file systems that
// cannot do that in one step. Returns 0, or the error number (EEXIST when the name is taken).
int RenameNoReplace(const QByteArray& from, const QByteArray& to);
// Removes a file, a link or a whole folder (links are removed, never followed). True when
// nothing of it is left.
bool RemoveTree(const QByteArray& path);
// Calls fn with the path, relative to the folder, of every entry below it that is not a folder
// (files, links, others), folders entered depth first; links to folders are not entered.
void ForEachBelow(const QByteArray& folder, const std::function<void(const QByteArray&)>& fn);

} // namespace Files
