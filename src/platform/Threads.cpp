#include "platform/Threads.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Threads {

void LowerCurrentPriority() {
    // On Linux a thread's nice value is its own: this touches no other thread.
    constexpr int kWorkerNice = 10;
    const pid_t tid = pid_t(::syscall(SYS_gettid));
    if (::getpriority(PRIO_PROCESS, id_t(tid)) < kWorkerNice)
        ::setpriority(PRIO_PROCESS, id_t(tid), kWorkerNice);
}

} // namespace Threads
