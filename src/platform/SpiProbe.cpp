// quilla-spiprobe MODULE: loads an import plug-in the way the program does and asks it for its
// texts, in a process of its own. The program runs it before loading a plug-in into itself, so a
// plug-in that cannot be loaded or crashes while it is asked for its texts is skipped instead of
// taking the program down. Exits with 0 when the plug-in answered, else prints why on stderr and
// exits with 1 (a crash ends the process by its signal).
#define SPI_HOST
#include "spi.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>

namespace {

// The most formats a plug-in may list; the program stops counting there too.
constexpr int kMaxFormats = 1024;
constexpr int kTextBuffer = 256;

int Ask(SPI_GetPluginInfo info, int n, int buflen) {
    char buf[kTextBuffer + 1] = {};
    return info(n, buf, buflen);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s MODULE\n", argv[0]);
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* err = dlerror();
        std::fprintf(stderr, "cannot be loaded: %s\n", err ? err : "unknown reason");
        return 1;
    }
    auto info = reinterpret_cast<SPI_GetPluginInfo>(dlsym(module, "GetPluginInfo"));
    if (!info) {
        std::fprintf(stderr, "does not export GetPluginInfo\n");
        return 1;
    }
    // The same questions as the program asks while loading and counting formats.
    Ask(info, 0, 9);
    Ask(info, 1, kTextBuffer);
    for (int k = 0; k < kMaxFormats && Ask(info, 2 * k + 2, kTextBuffer) != 0; ++k)
        Ask(info, 2 * k + 3, kTextBuffer);
    for (int k = 0; k < kMaxFormats && Ask(info, 2 * k + 3, kTextBuffer) > 0; ++k)
        Ask(info, 2 * k + 2, kTextBuffer);
    return 0;
}
