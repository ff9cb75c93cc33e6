#include "platform/ModuleNative.h"

#ifndef _WIN32
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <unistd.h>

namespace Module {

namespace {
#if defined(__x86_64__)
constexpr int kOwnMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr int kOwnMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr int kOwnMachine = EM_386;
#elif defined(__arm__)
constexpr int kOwnMachine = EM_ARM;
#elif defined(__riscv)
constexpr int kOwnMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr int kOwnMachine = EM_PPC64;
#elif defined(__s390x__)
constexpr int kOwnMachine = EM_S390;
#else
constexpr int kOwnMachine = EM_NONE; // not checked
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr int kOwnOrder = ELFDATA2LSB;
#else
constexpr int kOwnOrder = ELFDATA2MSB;
#endif
constexpr int kOwnClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
} // namespace

Handle OpenNative(const char* path, std::string* reason) {
#ifdef __SANITIZE_ADDRESS__
    // Under the leak checker a module stays mapped after it is closed: what its libraries keep
    // for the life of the process would otherwise be reported as lost, without symbols.
    constexpr int kKeep = RTLD_NODELETE;
#else
    constexpr int kKeep = 0;
#endif
    void* h = dlopen(path, RTLD_NOW | RTLD_LOCAL | kKeep);
    if (!h && reason) {
        const std::string foreign = ForeignReasonNative(path);
        if (!foreign.empty()) {
            *reason = foreign;
            return h;
        }
        const char* err = dlerror();
        *reason = err ? err : "cannot be loaded";
    }
    return h;
}

void* Symbol(Handle module, const char* name) {
    return module ? dlsym(module, name) : nullptr;
}

std::string ForeignReasonNative(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    unsigned char head[EI_NIDENT + 4] = {};
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    if (n != ssize_t(sizeof head) || std::memcmp(head, ELFMAG, SELFMAG) != 0)
        return std::string();
    // e_machine follows e_type, in the file's own byte order.
    const int machine = head[EI_DATA] == ELFDATA2LSB
                            ? head[EI_NIDENT + 2] | head[EI_NIDENT + 3] << 8
                            : head[EI_NIDENT + 2] << 8 | head[EI_NIDENT + 3];
    if (head[EI_CLASS] != kOwnClass || head[EI_DATA] != kOwnOrder ||
        (kOwnMachine != EM_NONE && machine != kOwnMachine))
        return "このシステム用のプラグインではありません";
    return std::string();
}

} // namespace Module
#endif
