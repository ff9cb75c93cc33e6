#include "platform/Module.h"

#include "platform/FileNames.h"

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
    std::string why;
    Handle h = OpenNative(FileNames::ToNative(path).constData(), reason ? &why : nullptr);
    if (!h && reason)
        *reason = QString::fromStdString(why);
    return h;
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
QString ForeignReason(const QString& path) {
    return QString::fromStdString(ForeignReasonNative(FileNames::ToNative(path).constData()));
}
#else
QString ForeignReason(const QString&) {
    return QString();
}
#endif

} // namespace Module
