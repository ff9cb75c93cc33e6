// Makes the thumbnails of image files one after the other, exactly as the grid's workers make them
// (the shared thumbnail cache off, so every file is decoded), and prints the milliseconds per
// image. With --ratio, for a screen of that device pixel ratio (the box stays in logical pixels).
//   bench_thumbs [--ratio R] BOX FILE...
#include "imaging/ImageKit.h"
#include "imaging/ImageLibrary.h"
#include "imaging/SusieHost.h"
#include "thumbs/ThumbnailCache.h"
#include "thumbs/ThumbnailLoader.h"

#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

int main(int argc, char** argv) {
    double ratio = 1;
    if (argc > 2 && std::strcmp(argv[1], "--ratio") == 0) {
        ratio = std::atof(argv[2]);
        argv[2] = argv[0];
        argv += 2;
        argc -= 2;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s [--ratio R] BOX FILE...\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    LoadImageLibrary();
    ThumbnailCache::SetEnabled(false);
    if (!qEnvironmentVariableIsEmpty("QUILLA_PLUGINS"))
        SusieHost::LoadFolder(qEnvironmentVariable("QUILLA_PLUGINS"));
    const int side = std::atoi(argv[1]);
    int failed = 0;
    QSize last;
    double ms = 0;
    // On one worker thread, as the grid runs them.
    std::thread worker([&] {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 2; i < argc; ++i) {
            const ThumbnailJob job{uint64_t(i), QString::fromLocal8Bit(argv[i]), QSize(side, side),
                                   false, ratio};
            const ThumbnailResult r = CThumbnailLoader::Make(job);
            if (!r.image) {
                ++failed;
                continue;
            }
            CImageKit kit;
            kit.Attach(r.image);
            last = kit.GetSize();
        }
        ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                 .count();
    });
    worker.join();
    const int n = argc - 2;
    std::printf("%.2f\n", ms / n);
    std::fprintf(stderr, "%d files, %d failed, last thumbnail %dx%d\n", n, failed, last.width(),
                 last.height());
    return failed ? 1 : 0;
}
