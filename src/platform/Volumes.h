// The volumes of the machine, which play the part of drives: "/" and the mount points of mounted
// volumes. Removable, network and optical volumes are not read until the user opens them.
#pragma once

#include <QString>
#include <vector>

namespace Volumes {

struct Volume {
    QString root; // the mount point, e.g. "/" or "/media/usb"
    bool lazy;    // removable, network or optical
};

// The mounted volumes, "/" first, then by mount point, read from the mount table alone: no
// volume is touched, so a dead network share or an empty drive costs nothing here.
std::vector<Volume> List();
// The longest volume root that is a prefix of the path ("/" for any absolute path).
QString RootOf(const QString& path);
// True when the volume with that root is removable, network or optical.
bool IsLazy(const QString& root);
// True when the path is not on a local volume: a network path ("//host/share") or a folder of a
// mounted network file system (nfs, cifs, smb3, sshfs, fuse.*, ...).
bool IsNetworkPath(const QString& path);
// True when the path names a place in the mounted file system tree, whatever volume holds it
// (local, removable, or a network file system mounted there: nfs, cifs, sshfs, FUSE); false for
// a share that no mount maps ("//host/share", "\\host\share") and for an address
// ("smb://host/share").
bool IsMountedPath(const QString& path);

// Tests read another mount table (an empty path restores the system's own).
void SetMountTable(const QByteArray& path);

} // namespace Volumes
