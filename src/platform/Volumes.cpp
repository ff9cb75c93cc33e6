#include "platform/Volumes.h"

#include "platform/FileNames.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <mntent.h>
#include <sys/stat.h>

namespace Volumes {

namespace {

QByteArray& MountTable() {
    static QByteArray table("/proc/self/mounts");
    return table;
}

// File systems of the kernel and the system itself: no drives.
bool IsPseudoType(const QByteArray& type) {
    static const char* const pseudo[] = {"proc",
                                         "sysfs",
                                         "devtmpfs",
                                         "devpts",
                                         "cgroup",
                                         "cgroup2",
                                         "securityfs",
                                         "debugfs",
                                         "tracefs",
                                         "configfs",
                                         "fusectl",
                                         "mqueue",
                                         "hugetlbfs",
                                         "pstore",
                                         "bpf",
                                         "autofs",
                                         "efivarfs",
                                         "nsfs",
                                         "rpc_pipefs",
                                         "binfmt_misc",
                                         "selinuxfs",
                                         "ramfs",
                                         "overlayfs-internal"};
    return std::any_of(std::begin(pseudo), std::end(pseudo),
                       [&](const char* t) { return type == t; });
}

bool IsNetworkType(const QByteArray& type) {
    static const char* const network[] = {"nfs",       "nfs4",  "cifs", "smb3",  "smbfs",
                                          "sshfs",     "9p",    "afs",  "ceph",  "davfs",
                                          "glusterfs", "ncpfs", "coda", "lustre"};
    return std::any_of(std::begin(network), std::end(network),
                       [&](const char* t) { return type == t; }) ||
           type.startsWith("fuse.") || type == "fuse";
}

bool IsLazyType(const QByteArray& type) {
    static const char* const lazy[] = {"nfs",     "nfs4", "cifs", "smb3", "smbfs", "sshfs",    "9p",
                                       "iso9660", "udf",  "afs",  "ceph", "davfs", "glusterfs"};
    return std::any_of(std::begin(lazy), std::end(lazy),
                       [&](const char* t) { return type == t; }) ||
           type.startsWith("fuse.") || type == "fuse";
}

// Whether the block device is removable, from the kernel's own description of it (sysfs); the
// medium itself is not touched. A partition answers through its parent disk.
bool IsRemovableDevice(const QByteArray& device) {
    if (!device.startsWith("/dev/"))
        return false;
    const QString name = QString::fromLocal8Bit(device.mid(5));
    if (name.contains(QLatin1Char('/')))
        return false;
    const QString node = QFileInfo(QStringLiteral("/sys/class/block/") + name).canonicalFilePath();
    if (node.isEmpty())
        return false;
    for (const QString& candidate :
         {node + QStringLiteral("/removable"), node + QStringLiteral("/../removable")}) {
        QFile f(candidate);
        if (f.open(QIODevice::ReadOnly))
            return f.readAll().trimmed() == "1";
    }
    return false;
}

bool IsSystemPlace(const QString& root) {
    for (const char* prefix : {"/proc", "/sys", "/dev", "/run", "/snap"})
        if (root == QLatin1String(prefix) ||
            root.startsWith(QLatin1String(prefix) + QLatin1Char('/')))
            return true;
    return false;
}

} // namespace

void SetMountTable(const QByteArray& path) {
    MountTable() = path.isEmpty() ? QByteArray("/proc/self/mounts") : path;
}

std::vector<Volume> List() {
    std::vector<Volume> out;
    out.push_back(Volume{QStringLiteral("/"), false});
    // The mount table only: no volume is asked anything, so a dead network share costs nothing.
    FILE* f = ::setmntent(MountTable().constData(), "r");
    if (f) {
        while (const mntent* m = ::getmntent(f)) {
            const QString root = FileNames::FromNative(m->mnt_dir);
            const QByteArray type(m->mnt_type);
            if (root == QLatin1String("/") || !root.startsWith(QLatin1Char('/')) ||
                IsPseudoType(type) || IsSystemPlace(root))
                continue;
            if (std::any_of(out.begin(), out.end(),
                            [&](const Volume& v) { return v.root == root; }))
                continue;
            const bool lazy = IsLazyType(type) || IsRemovableDevice(m->mnt_fsname);
            // A file mounted over a file (as containers do for /etc/hosts) is no drive. Only
            // local, fixed volumes are asked, which answer at once.
            struct stat st {};
            if (!lazy && (::stat(m->mnt_dir, &st) != 0 || !S_ISDIR(st.st_mode)))
                continue;
            out.push_back(Volume{root, lazy});
        }
        ::endmntent(f);
    }
    std::sort(out.begin() + 1, out.end(),
              [](const Volume& a, const Volume& b) { return a.root < b.root; });
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

bool IsLazy(const QString& root) {
    for (const Volume& v : List())
        if (v.root == root)
            return v.lazy;
    return false;
}

bool IsNetworkPath(const QString& path) {
    if (path.startsWith(QLatin1String("//")) || path.startsWith(QLatin1String("\\\\")))
        return true;
    // The file system of the longest mount point that holds the path.
    QString best;
    QByteArray type;
    FILE* f = ::setmntent(MountTable().constData(), "r");
    if (!f)
        return false;
    while (const mntent* m = ::getmntent(f)) {
        const QString root = FileNames::FromNative(m->mnt_dir);
        const bool holds =
            root == QLatin1String("/") || path == root || path.startsWith(root + QLatin1Char('/'));
        if (holds && root.size() >= best.size()) {
            best = root;
            type = m->mnt_type;
        }
    }
    ::endmntent(f);
    return IsNetworkType(type);
}

bool IsMountedPath(const QString& path) {
    // "//host/share" and "\\host\share" name a share that no mount maps here; an address
    // ("smb://host/share") is no path at all.
    return path.startsWith(QLatin1Char('/')) && !path.startsWith(QLatin1String("//")) &&
           !path.contains(QLatin1String("://"));
}

} // namespace Volumes
