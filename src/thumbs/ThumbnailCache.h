// The thumbnail cache that the desktop's programs share (the freedesktop.org Thumbnail Managing
// Standard): $XDG_CACHE_HOME/thumbnails/{normal,large,x-large,xx-large}/<MD5 of the file's
// URI>.png, pictures of at most 128, 256, 512 or 1024 pixels a side whose text keys name the file
// (Thumb::URI), its modification time (Thumb::MTime) and size (Thumb::Size) and the picture's own
// width and height (Thumb::Image::Width, Thumb::Image::Height). An entry written by any program is
// read when it is valid; a stale one (another time) is ignored and replaced.
#pragma once

#include <QSize>
#include <QString>
#include <cstdint>

class CImageKit;

namespace ThumbnailCache {

// What identifies the state of a file: its modification time and its size.
struct Stamp {
    int64_t mtime = -1; // seconds; -1 when the file cannot be looked at
    int64_t size = 0;
};
Stamp StampOf(const QString& path);

// The side of the smallest size class whose pictures are not smaller than the box.
int ClassSide(QSize box);

// The folder of the cache ($XDG_CACHE_HOME/thumbnails, ~/.cache/thumbnails); tests set another.
QString BaseDir();
void SetBaseDir(const QString& dir);
// With the cache off nothing is read or written (benchmarks measure decoding with it).
void SetEnabled(bool on);
// The entry's file for a file and a size class.
QString EntryPath(const QString& path, int classSide);

// Reads a valid entry: *picture gets its picture, *original the file's picture size (from the
// entry's keys, else the entry's own size). False when there is none, it is stale or unreadable.
bool Read(const QString& path, const Stamp& stamp, int classSide, CImageKit& picture,
          QSize& original);
// Writes the entry (atomically, mode 0600, in folders of mode 0700). Nothing is written for files
// inside the cache itself. Failures are silent: the cache is only a help.
bool Write(const QString& path, const Stamp& stamp, int classSide, const CImageKit& picture,
           QSize original);

// A file was renamed or moved (its entries follow it) or deleted (its entries go).
void Moved(const QString& from, const QString& to);
void Removed(const QString& path);

} // namespace ThumbnailCache
