#include "platform/Volumes.h"

#include <QFile>
#include <QRegularExpression>
#include <QStorageInfo>
#include <algorithm>

namespace Volumes {

namespace {

bool IsRemovableDevice(const QByteArray& device) {
    // /dev/sdb1 → /sys/block/sdb/removable
    static const QRegularExpression re(QStringLiteral("^/dev/([a-z]+)[0-9]*$"));
    const QRegularExpressionMatch m = re.match(QString::fromLocal8Bit(device));
    if (!m.hasMatch())
        return false;
    QFile f(QStringLiteral("/sys/block/%1/removable").arg(m.captured(1)));
    return f.open(QIODevice::ReadOnly) && f.readAll().trimmed() == "1";
}

bool IsLazyType(const QByteArray& type) {
    static const char* const lazy[] = {"nfs",   "nfs4",  "cifs",    "smb3",
                                       "smbfs", "sshfs", "iso9660", "udf"};
    for (const char* t : lazy)
        if (type == t)
            return true;
    return type.startsWith("fuse.");
}

} // namespace

std::vector<Volume> List() {
    std::vector<Volume> out;
    bool haveRoot = false;
    for (const QStorageInfo& s : QStorageInfo::mountedVolumes()) {
        if (!s.isValid() || !s.isReady())
            continue;
        const QString root = s.rootPath();
        if (root == QLatin1String("/"))
            haveRoot = true;
        // Pseudo file systems of the system itself are no drives.
        if (root != QLatin1String("/") &&
            (root.startsWith(QLatin1String("/proc")) || root.startsWith(QLatin1String("/sys")) ||
             root.startsWith(QLatin1String("/dev")) || root.startsWith(QLatin1String("/run")) ||
             root.startsWith(QLatin1String("/snap"))))
            continue;
        if (std::any_of(out.begin(), out.end(), [&](const Volume& v) { return v.root == root; }))
            continue;
        out.push_back(
            Volume{root, IsLazyType(s.fileSystemType()) || IsRemovableDevice(s.device())});
    }
    if (!haveRoot)
        out.push_back(Volume{QStringLiteral("/"), false});
    std::sort(out.begin(), out.end(), [](const Volume& a, const Volume& b) {
        if (a.root == QLatin1String("/") || b.root == QLatin1String("/"))
            return a.root == QLatin1String("/") && b.root != QLatin1String("/");
        return a.root < b.root;
    });
    return out;
}

QString RootOf(const QString& path) {
    QString best = QStringLiteral("/");
    for (const Volume& v : List()) {
        const QString& r = v.root;
        if (r.size() > best.size() && (path == r || path.startsWith(r + QLatin1Char('/'))))
            best = r;
    }
    return best;
}

} // namespace Volumes
