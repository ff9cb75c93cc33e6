// Times one import plug-in called directly, as the thumbnail workers call it: the reduced picture
// for a box (GetPictureScaled), or the whole picture (GetPicture) with a box of 0. Prints the
// milliseconds per file and the size of the last picture.
//   bench_spi PLUGIN.spi BOX FILE...
#define SPI_HOST
#include "spi.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s PLUGIN.spi BOX FILE...\n", argv[0]);
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    const auto picture = reinterpret_cast<SPI_GetPicture>(dlsym(lib, "GetPicture"));
    const auto scaled = reinterpret_cast<SPI_GetPictureScaled>(dlsym(lib, "GetPictureScaled"));
    const int box = std::atoi(argv[2]);
    if (!picture || (box > 0 && !scaled)) {
        std::fprintf(stderr, "%s lacks the entry asked for\n", argv[1]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    int width = 0, height = 0;
    for (int i = 3; i < argc; ++i) {
        HLOCAL info = nullptr, bits = nullptr;
        const int r = box > 0
                          ? scaled(argv[i], 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0, box, box)
                          : picture(argv[i], 0, SPI_INPUT_FILE, &info, &bits, nullptr, 0);
        if (r != SPI_ALL_RIGHT) {
            std::fprintf(stderr, "%s: error %d\n", argv[i], r);
            return 1;
        }
        const auto* bi = static_cast<const BITMAPINFOHEADER*>(LocalLock(info));
        width = bi->biWidth;
        height = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
        LocalFree(info);
        LocalFree(bits);
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.1f ms per file, %d x %d\n", ms / (argc - 3), width, height);
    dlclose(lib);
    return 0;
}
