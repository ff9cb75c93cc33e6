// Fits image files into a thumbnail box the way the thumbnail view makes its pictures, and prints
// the milliseconds per image.
//   bench_thumbs BOX FILE...
// With QUILLA_PLUGINS=FOLDER the import plug-ins of that folder are loaded first.
#include "imaging/Fit.h"
#include "imaging/ImageKit.h"
#include "imaging/ImageLibrary.h"
#include "imaging/SusieHost.h"

#include <QGuiApplication>
#include <chrono>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s BOX FILE...\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    LoadImageLibrary();
    if (!qEnvironmentVariableIsEmpty("QUILLA_PLUGINS"))
        SusieHost::LoadFolder(qEnvironmentVariable("QUILLA_PLUGINS"));
    const int side = std::atoi(argv[1]);
    const QSize box(side, side);
    int failed = 0;
    QSize last;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 2; i < argc; ++i) {
        CImageKit kit;
        QSize original;
        if (!kit.LoadForThumbnail(QString::fromLocal8Bit(argv[i]), box, &original)) {
            ++failed;
            continue;
        }
        if (kit.GetBitCount() < 16)
            kit.ConvertColor(32, IK_PALETTE_OPTIMAL, IK_DITHER_ON, false);
        const QSize fitted = FittedSize(original, box);
        if (fitted != kit.GetSize())
            kit.Resize(fitted.width(), fitted.height(), false);
        last = kit.GetSize();
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const int n = argc - 2;
    std::printf("%.2f\n", ms / n);
    std::fprintf(stderr, "%d files, %d failed, last thumbnail %dx%d\n", n, failed, last.width(),
                 last.height());
    return failed ? 1 : 0;
}
