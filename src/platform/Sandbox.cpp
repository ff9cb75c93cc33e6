#include "platform/Sandbox.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUILLA_SANITIZER_RUNTIME 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUILLA_SANITIZER_RUNTIME 1
#endif
#endif

#ifdef QUILLA_SANITIZER_RUNTIME
namespace {
// Set once the filter is in place.
bool g_filtered = false;
} // namespace

// LeakSanitizer's check at the end stops the process's threads from a tracer thread with ptrace,
// which the filter refuses: the check would end the helper with a fatal error of its own. The
// run-time asks this hook first; a filtered helper goes without the leak check (AddressSanitizer
// and UBSan still report as the faults happen). Release builds have neither the hook nor ptrace.
extern "C" int __lsan_is_turned_off() {
    return g_filtered ? 1 : 0;
}
#endif

namespace Sandbox {

namespace {

// The number the filter answers a refused call with.
constexpr int kRefused = EACCES;

// Frees the filter context whatever happens.
struct FilterContext {
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ALLOW);
    ~FilterContext() {
        if (ctx)
            seccomp_release(ctx);
    }
};

void SetLimit(int resource, rlim_t soft, rlim_t hard) {
    rlimit r{soft, hard};
    setrlimit(resource, &r);
}

} // namespace

bool FollowParent(long parentPid) {
    // The signal comes when the thread that started the helper ends; the program starts every
    // helper from one thread that lives as long as it does.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    return long(getppid()) == parentPid;
}

bool KeepsErrorOutput() {
    const char* keep = std::getenv(kKeepErrorOutputVariable);
    return keep && std::strcmp(keep, "1") == 0;
}

void CloseInherited(int keepFd) {
    // The standard descriptors lead nowhere (but the error output when it is asked for, to see
    // what a plug-in or a sanitizer run-time says); everything else but the socket is closed.
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    const int lastNulled = KeepsErrorOutput() ? 1 : 2;
    for (int fd = 0; fd <= lastNulled; ++fd)
        if (null >= 0 && fd != keepFd)
            dup2(null, fd);
    if (null > 2 && null != keepFd)
        close(null);
    if (keepFd > 3)
        syscall(SYS_close_range, 3u, unsigned(keepFd - 1), 0u);
    syscall(SYS_close_range, unsigned(keepFd + 1), ~0u, 0u);
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool Enter(std::string* reason) {
    SetLimit(RLIMIT_CPU, kCpuLimitSeconds, kCpuLimitSeconds + 5);
    // No file size limit: it would also hold the shared memory a picture is handed back in.
    SetLimit(RLIMIT_CORE, 0, 0);
#ifndef QUILLA_SANITIZER_RUNTIME
    // The sanitizers' run-times reserve address space far beyond any limit that would still let a
    // plug-in decode a large picture.
    SetLimit(RLIMIT_DATA, kMemoryLimitBytes, kMemoryLimitBytes);
#endif

    FilterContext f;
    if (!f.ctx) {
        if (reason)
            *reason = "seccomp_init failed";
        return false;
    }
    // The filter runs on every system call the plug-in makes (a codec's threads make many): as a
    // binary tree of the call numbers rather than a list of comparisons.
    seccomp_attr_set(f.ctx, SCMP_FLTATR_CTL_OPTIMIZE, 2);
    int failed = 0;
    // A call this system does not have (a negative number) needs no rule.
    auto refuse = [&](int call) {
        if (call >= 0)
            failed |= seccomp_rule_add(f.ctx, SCMP_ACT_ERRNO(kRefused), call, 0) != 0;
    };
    auto refuseIf = [&](int call, scmp_arg_cmp cmp) {
        failed |= seccomp_rule_add(f.ctx, SCMP_ACT_ERRNO(kRefused), call, 1, cmp) != 0;
    };
    // Files are opened for reading only: any write access, creation or truncation is refused.
    for (const unsigned flag : {unsigned(O_WRONLY), unsigned(O_RDWR), unsigned(O_CREAT),
                                unsigned(O_TRUNC), unsigned(O_TMPFILE & ~O_DIRECTORY)}) {
        refuseIf(SCMP_SYS(open), SCMP_A1(SCMP_CMP_MASKED_EQ, flag, flag));
        refuseIf(SCMP_SYS(openat), SCMP_A2(SCMP_CMP_MASKED_EQ, flag, flag));
    }
    // openat2 passes its flags in memory the filter cannot see; the C library falls back.
    seccomp_rule_add(f.ctx, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0);
    // Nothing in the file system changes.
    for (const int call : {SCMP_SYS(creat),
                           SCMP_SYS(mkdir),
                           SCMP_SYS(mkdirat),
                           SCMP_SYS(rmdir),
                           SCMP_SYS(unlink),
                           SCMP_SYS(unlinkat),
                           SCMP_SYS(rename),
                           SCMP_SYS(renameat),
                           SCMP_SYS(renameat2),
                           SCMP_SYS(link),
                           SCMP_SYS(linkat),
                           SCMP_SYS(symlink),
                           SCMP_SYS(symlinkat),
                           SCMP_SYS(mknod),
                           SCMP_SYS(mknodat),
                           SCMP_SYS(chmod),
                           SCMP_SYS(fchmod),
                           SCMP_SYS(fchmodat),
                           SCMP_SYS(chown),
                           SCMP_SYS(fchown),
                           SCMP_SYS(lchown),
                           SCMP_SYS(fchownat),
                           SCMP_SYS(truncate),
                           SCMP_SYS(utime),
                           SCMP_SYS(utimes),
                           SCMP_SYS(utimensat),
                           SCMP_SYS(futimesat),
                           SCMP_SYS(setxattr),
                           SCMP_SYS(lsetxattr),
                           SCMP_SYS(fsetxattr),
                           SCMP_SYS(removexattr),
                           SCMP_SYS(lremovexattr),
                           SCMP_SYS(fremovexattr),
                           SCMP_SYS(mount),
                           SCMP_SYS(umount2),
                           SCMP_SYS(chroot),
                           SCMP_SYS(pivot_root),
                           SCMP_SYS(open_by_handle_at),
                           SCMP_SYS(name_to_handle_at),
                           SCMP_SYS(fanotify_init),
                           SCMP_SYS(inotify_init),
                           SCMP_SYS(inotify_init1)})
        refuse(call);
    // No network and no new sockets: the helper talks only over the socket it was given.
    for (const int call : {SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(connect),
                           SCMP_SYS(bind), SCMP_SYS(listen), SCMP_SYS(accept), SCMP_SYS(accept4)})
        refuse(call);
    // No other program, no tracing, no reaching into other processes, no ring that would bypass
    // this filter.
    for (const int call :
         {SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv),
          SCMP_SYS(process_vm_writev), SCMP_SYS(pidfd_getfd), SCMP_SYS(kcmp),
          SCMP_SYS(io_uring_setup), SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register),
          SCMP_SYS(bpf), SCMP_SYS(perf_event_open), SCMP_SYS(userfaultfd), SCMP_SYS(keyctl),
          SCMP_SYS(add_key), SCMP_SYS(request_key), SCMP_SYS(unshare), SCMP_SYS(setns),
          SCMP_SYS(seccomp)})
        refuse(call);
    // Signals go to the helper itself only; the limits cannot be raised again.
    const scmp_datum_t self = scmp_datum_t(getpid());
    refuseIf(SCMP_SYS(kill), SCMP_A0(SCMP_CMP_NE, self));
    refuseIf(SCMP_SYS(tgkill), SCMP_A0(SCMP_CMP_NE, self));
    refuse(SCMP_SYS(tkill));
    refuse(SCMP_SYS(setrlimit));
    refuseIf(SCMP_SYS(prlimit64), SCMP_A2(SCMP_CMP_NE, 0));
    refuseIf(SCMP_SYS(prctl), SCMP_A0(SCMP_CMP_EQ, PR_SET_PDEATHSIG));
    if (failed) {
        if (reason)
            *reason = "the system-call filter cannot be built";
        return false;
    }
    const int r = seccomp_load(f.ctx);
#ifdef QUILLA_SANITIZER_RUNTIME
    g_filtered = r == 0;
#endif
    if (r != 0) {
        if (reason)
            *reason = std::string("the system-call filter cannot be installed (") +
                      std::strerror(-r) + ")";
        return false;
    }
    return true;
}

} // namespace Sandbox
