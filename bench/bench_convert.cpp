// Loads image files, converts them and saves them in one format, the way the batch conversion
// does, and prints the milliseconds per file.
//   bench_convert png|gif|jpeg|tiff OUTDIR FILE...     (tiff: LZW)
#include "imaging/ImageKit.h"
#include "imaging/ImageLibrary.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s png|gif|jpeg|tiff OUTDIR FILE...\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    LoadImageLibrary();
    const QString format = QString::fromLatin1(argv[1]);
    const QDir out(QString::fromLocal8Bit(argv[2]));
    int failed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 3; i < argc; ++i) {
        const QString src = QString::fromLocal8Bit(argv[i]);
        const QString base = out.filePath(QFileInfo(src).completeBaseName());
        CImageKit kit;
        bool ok = kit.Load(src, false);
        if (ok && format == QLatin1String("png"))
            ok = kit.SavePng(base + ".png", 0, 0, 0, 0, false);
        else if (ok && format == QLatin1String("gif"))
            ok = kit.ConvertColor(8, IK_PALETTE_OPTIMAL, IK_DITHER_ON, false) &&
                 kit.SaveGif(base + ".gif", 0, 0, 0, false);
        else if (ok && format == QLatin1String("tiff"))
            ok = kit.SaveTiff(base + ".tif", IK_TIFF_LZW, false);
        else if (ok)
            ok = kit.SaveJpeg(base + ".jpg", 85, 0, IK_JPEG_411, false);
        failed += ok ? 0 : 1;
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.1f\n", ms / (argc - 3));
    return failed ? 1 : 0;
}
