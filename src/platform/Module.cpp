#include "platform/Module.h"

#include "platform/FileNames.h"

#include <QProcess>
#include <memory>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
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

std::vector<QString> CheckInChild(const QString& checker, const QStringList& modules,
                                  int timeoutMs) {
    constexpr qsizetype kAtOnce = 8;
    std::vector<QString> results(size_t(modules.size()));
    for (qsizetype first = 0; first < modules.size(); first += kAtOnce) {
        const qsizetype last = std::min(modules.size(), first + kAtOnce);
        std::vector<std::unique_ptr<QProcess>> running;
        for (qsizetype i = first; i < last; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::SeparateChannels);
            p->setStandardOutputFile(QProcess::nullDevice());
            p->start(checker, {modules[i]});
            running.push_back(std::move(p));
        }
        for (qsizetype i = first; i < last; ++i) {
            QProcess& p = *running[size_t(i - first)];
            QString& result = results[size_t(i)];
            if (!p.waitForStarted(timeoutMs)) {
                result = QStringLiteral("the checker %1 cannot be started").arg(checker);
                continue;
            }
            if (!p.waitForFinished(timeoutMs)) {
                p.kill();
                p.waitForFinished(1000);
                result = QStringLiteral("no answer within %1 ms").arg(timeoutMs);
                continue;
            }
            if (p.exitStatus() == QProcess::CrashExit) {
                result = QStringLiteral("the checker crashed while loading it");
                continue;
            }
            if (p.exitCode() != 0) {
                const QByteArray err = p.readAllStandardError().trimmed();
                result = err.isEmpty() ? QStringLiteral("refused (exit code %1)").arg(p.exitCode())
                                       : QString::fromLocal8Bit(err.split('\n').first());
            }
        }
    }
    return results;
}

} // namespace Module
