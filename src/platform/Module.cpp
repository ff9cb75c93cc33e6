#include "platform/Module.h"

#include "platform/FileNames.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>
#endif

namespace Module {

#ifdef _WIN32
Handle Open(const QString& path, QString* reason) {
    HMODULE h = LoadLibraryW(reinterpret_cast<LPCWSTR>(path.utf16()));
    if (!h && reason)
        *reason = QStringLiteral("LoadLibrary failed (%1)").arg(GetLastError());
    return h;
}
void* Symbol(Handle module, const char* name) {
    return module ? reinterpret_cast<void*>(GetProcAddress(HMODULE(module), name)) : nullptr;
}
QString PathOf(Handle module) {
    wchar_t buf[32768];
    const DWORD n = GetModuleFileNameW(HMODULE(module), buf, DWORD(std::size(buf)));
    return QString::fromWCharArray(buf, int(n));
}
void Close(Handle module) {
    if (module)
        FreeLibrary(HMODULE(module));
}
#else
Handle Open(const QString& path, QString* reason) {
#ifdef __SANITIZE_ADDRESS__
    // Under the leak checker a module stays mapped after it is closed: what its libraries keep
    // for the life of the process would otherwise be reported as lost, without symbols.
    constexpr int kKeep = RTLD_NODELETE;
#else
    constexpr int kKeep = 0;
#endif
    void* h = dlopen(FileNames::ToNative(path).constData(), RTLD_NOW | RTLD_LOCAL | kKeep);
    if (!h && reason) {
        const QString foreign = ForeignReason(path);
        if (!foreign.isEmpty()) {
            *reason = foreign;
            return h;
        }
        const char* err = dlerror();
        *reason = err ? QString::fromLocal8Bit(err) : QStringLiteral("cannot be loaded");
    }
    return h;
}
void* Symbol(Handle module, const char* name) {
    return module ? dlsym(module, name) : nullptr;
}
QString PathOf(Handle module) {
    struct link_map* map = nullptr;
    if (!module || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name)
        return QString();
    return FileNames::FromNative(map->l_name);
}
void Close(Handle module) {
    if (module)
        dlclose(module);
}
#endif

#ifndef _WIN32
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

QString ForeignReason(const QString& path) {
    const int fd = ::open(FileNames::ToNative(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return QString();
    unsigned char head[EI_NIDENT + 4] = {};
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    if (n != ssize_t(sizeof head) || std::memcmp(head, ELFMAG, SELFMAG) != 0)
        return QString();
    // e_machine follows e_type, in the file's own byte order.
    const int machine = head[EI_DATA] == ELFDATA2LSB
                            ? head[EI_NIDENT + 2] | head[EI_NIDENT + 3] << 8
                            : head[EI_NIDENT + 2] << 8 | head[EI_NIDENT + 3];
    if (head[EI_CLASS] != kOwnClass || head[EI_DATA] != kOwnOrder ||
        (kOwnMachine != EM_NONE && machine != kOwnMachine))
        return QStringLiteral("このシステム用のプラグインではありません");
    return QString();
}
#else
QString ForeignReason(const QString&) {
    return QString();
}
#endif

} // namespace Module
