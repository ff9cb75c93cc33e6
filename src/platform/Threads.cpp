#include "platform/Threads.h"

#include <algorithm>
#include <sched.h>
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

int UsableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, int(::sysconf(_SC_NPROCESSORS_ONLN)));
}

} // namespace Threads
