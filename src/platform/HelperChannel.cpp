#include "platform/HelperChannel.h"

#include "platform/FileNames.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace HelperChannel {

namespace {

// The descriptor a helper finds its socket at.
constexpr int kHelperSocketFd = 3;

} // namespace

bool Start(const QString& program, Process* out, QString* reason) {
    int pair[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        if (reason)
            *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    UniqueFd mine(pair[0]), theirs(pair[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The child's end becomes descriptor 3 (dup2 clears close-on-exec on the copy).
    posix_spawn_file_actions_adddup2(&actions, theirs.Get(), kHelperSocketFd);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The helper starts with the default signal dispositions and an empty mask, whatever the
    // starting thread had.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const QByteArray path = FileNames::ToNative(program);
    const QByteArray parent = QByteArray::number(qint64(::getpid()));
    char* argv[] = {const_cast<char*>(path.constData()), const_cast<char*>(parent.constData()),
                    nullptr};
    pid_t pid = -1;
    const int err = ::posix_spawn(&pid, path.constData(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        if (reason)
            *reason = QString::fromLocal8Bit(std::strerror(err));
        return false;
    }
    out->pid = pid;
    out->socket = std::move(mine);
    return true;
}

void Kill(Process& process) {
    process.socket.Reset();
    if (process.pid <= 0)
        return;
    ::kill(process.pid, SIGKILL);
    int status = 0;
    while (::waitpid(process.pid, &status, 0) < 0 && errno == EINTR) {
    }
    process.pid = -1;
}

bool Ended(Process& process, QString* how) {
    if (process.pid <= 0)
        return true;
    int status = 0;
    pid_t r;
    do
        r = ::waitpid(process.pid, &status, WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    process.pid = -1;
    process.socket.Reset();
    if (how) {
        if (r < 0)
            *how = QStringLiteral("gone");
        else if (WIFSIGNALED(status))
            *how = QStringLiteral("signal %1").arg(WTERMSIG(status));
        else
            *how = QStringLiteral("exit %1").arg(WEXITSTATUS(status));
    }
    return true;
}

} // namespace HelperChannel
