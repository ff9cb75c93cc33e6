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

// The mounted volumes, "/" first, then by mount point.
std::vector<Volume> List();
// The longest volume root that is a prefix of the path ("/" for any absolute path).
QString RootOf(const QString& path);

} // namespace Volumes
