// The pieces a helper process and the program share: descriptors that close themselves, shared
// memory (memfd) mapped and sealed, messages over a stream socket with an optional descriptor
// passed along, reads with a deadline, and starting and ending a helper process.
#pragma once

#include "platform/HelperIo.h"

#include <QByteArray>
#include <QString>
#include <sys/types.h>

namespace HelperChannel {

// Writes header and payload in one message, with the descriptor passFd (unless -1) attached.
// False when the other end is gone.
inline bool Send(int socket, const void* header, size_t headerSize, const QByteArray& payload,
                 int passFd = -1) {
    return Send(socket, header, headerSize, payload.constData(), size_t(payload.size()), passFd);
}

// A started helper: its process and the program's end of its socket pair.
struct Process {
    pid_t pid = -1;
    UniqueFd socket;
};
// Starts `program parent-pid` with its end of a new socket pair as descriptor 3 (and nothing else
// inherited that the program does not close itself). Safe while other threads run.
bool Start(const QString& program, Process* out, QString* reason);
// Kills the process at once and collects it.
void Kill(Process& process);
// Collects a process that ended; true with a description of how it ended in *how.
bool Ended(Process& process, QString* how);

} // namespace HelperChannel
