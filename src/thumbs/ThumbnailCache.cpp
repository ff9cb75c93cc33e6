#include "thumbs/ThumbnailCache.h"

#include "imaging/ImageKit.h"
#include "platform/FileNames.h"
#include "platform/Files.h"

#include <QCryptographicHash>
#include <QMutex>
#include <atomic>

namespace ThumbnailCache {

namespace {

struct SizeClass {
    int side;
    const char* folder;
};
constexpr SizeClass kClasses[] = {
    {128, "normal"}, {256, "large"}, {512, "x-large"}, {1024, "xx-large"}};

constexpr int kFolderMode = 0700;
constexpr int kEntryMode = 0600;

QMutex& BaseMutex() {
    static QMutex m;
    return m;
}
QString& Base() {
    static QString base;
    return base;
}
std::atomic<bool> g_enabled = true;

const char* FolderOf(int classSide) {
    for (const SizeClass& c : kClasses)
        if (c.side == classSide)
            return c.folder;
    return kClasses[std::size(kClasses) - 1].folder;
}

QByteArray UriOf(const QString& path) {
    return FileNames::ToFileUrl(path);
}

bool Inside(const QString& path, const QString& dir) {
    return path.startsWith(dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/'));
}

using TextKeys = std::vector<std::pair<QByteArray, QByteArray>>;

QByteArray Key(const TextKeys& keys, const char* name) {
    for (const auto& [k, v] : keys)
        if (k == name)
            return v;
    return QByteArray();
}

} // namespace

Stamp StampOf(const QString& path) {
    const std::optional<Files::Info> info = Files::Stat(path);
    return info ? Stamp{info->mtime, info->size} : Stamp{};
}

int ClassSide(QSize box) {
    const int side = std::max(box.width(), box.height());
    for (const SizeClass& c : kClasses)
        if (side <= c.side)
            return c.side;
    return kClasses[std::size(kClasses) - 1].side;
}

QString BaseDir() {
    QMutexLocker lock(&BaseMutex());
    if (Base().isEmpty()) {
        QString cache = QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME"));
        if (!cache.startsWith(QLatin1Char('/')))
            cache = QString::fromLocal8Bit(qgetenv("HOME")) + QStringLiteral("/.cache");
        return cache + QStringLiteral("/thumbnails");
    }
    return Base();
}

void SetEnabled(bool on) {
    g_enabled = on;
}

void SetBaseDir(const QString& dir) {
    QMutexLocker lock(&BaseMutex());
    Base() = dir;
}

QString EntryPath(const QString& path, int classSide) {
    const QByteArray md5 = QCryptographicHash::hash(UriOf(path), QCryptographicHash::Md5).toHex();
    return BaseDir() + QLatin1Char('/') + QLatin1String(FolderOf(classSide)) + QLatin1Char('/') +
           QString::fromLatin1(md5) + QStringLiteral(".png");
}

bool Read(const QString& path, const Stamp& stamp, int classSide, CImageKit& picture,
          QSize& original) {
    if (stamp.mtime < 0 || !g_enabled)
        return false;
    const QString entry = EntryPath(path, classSide);
    TextKeys keys;
    if (!picture.LoadPngWithText(entry, &keys))
        return false;
    const QSize size = picture.GetSize();
    bool ok = false;
    const int64_t mtime = Key(keys, "Thumb::MTime").trimmed().toLongLong(&ok);
    // The entry must be this file's, of this state, and a picture of its size class. The size is
    // optional; when it is there it must match too, so that an entry made while the file was still
    // being written (in the same second as its last write) is not taken for the whole file's.
    bool sized = false;
    const int64_t fileSize = Key(keys, "Thumb::Size").trimmed().toLongLong(&sized);
    if (Key(keys, "Thumb::URI") != UriOf(path) || !ok || mtime != stamp.mtime ||
        (sized && fileSize != stamp.size) || size.isEmpty() || size.width() > classSide ||
        size.height() > classSide) {
        picture.Free();
        return false;
    }
    int w = Key(keys, "Thumb::Image::Width").toInt(&ok);
    int h = ok ? Key(keys, "Thumb::Image::Height").toInt(&ok) : 0;
    if (!ok || w <= 0 || h <= 0) {
        original = size;
        return true;
    }
    // Some programs note the size as the file stores it while the picture is turned upright.
    if ((w > h) != (size.width() > size.height()) && w != h && size.width() != size.height())
        std::swap(w, h);
    original = QSize(w, h);
    return true;
}

bool Write(const QString& path, const Stamp& stamp, int classSide, const CImageKit& picture,
           QSize original) {
    if (stamp.mtime < 0 || !g_enabled || picture.IsEmpty() || Inside(path, BaseDir()))
        return false;
    const QString entry = EntryPath(path, classSide);
    if (!Files::MakeFolders(entry.left(entry.lastIndexOf(QLatin1Char('/'))), kFolderMode))
        return false;
    const TextKeys keys = {
        {"Thumb::URI", UriOf(path)},
        {"Thumb::MTime", QByteArray::number(qlonglong(stamp.mtime))},
        {"Thumb::Size", QByteArray::number(qlonglong(stamp.size))},
        {"Thumb::Image::Width", QByteArray::number(original.width())},
        {"Thumb::Image::Height", QByteArray::number(original.height())},
        {"Software", "Norvo Pictoquill"},
    };
    return picture.SavePngWithText(entry, keys, kEntryMode);
}

void Moved(const QString& from, const QString& to) {
    for (const SizeClass& c : kClasses) {
        const QString old = EntryPath(from, c.side);
        CImageKit picture;
        QSize original;
        const Stamp stamp = StampOf(to);
        // The entry keeps its picture under the new name, with the new file's address.
        TextKeys keys;
        if (picture.LoadPngWithText(old, &keys)) {
            bool ok = false;
            const int w = Key(keys, "Thumb::Image::Width").toInt(&ok);
            const int h = ok ? Key(keys, "Thumb::Image::Height").toInt(&ok) : 0;
            original = ok ? QSize(w, h) : picture.GetSize();
            if (Key(keys, "Thumb::URI") == UriOf(from))
                Write(to, stamp, c.side, picture, original);
        }
        Files::RemoveFile(old);
    }
}

void Removed(const QString& path) {
    for (const SizeClass& c : kClasses)
        Files::RemoveFile(EntryPath(path, c.side));
}

} // namespace ThumbnailCache
