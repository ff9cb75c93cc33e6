// Decodes files through the import plug-ins of a folder in either of two ways and reduces each
// picture to a thumbnail box, printing the milliseconds per file:
//   helper  as the program does: through its plug-in helper processes (SusieHost), the picture
//           coming back in shared memory;
//   direct  the same plug-ins loaded into this process and called as a host in one process would
//           call them: IsSupported on the file's first 2,048 bytes, plug-in by plug-in in name
//           order until one takes the file, then GetPicture, the picture read into a QImage.
// Timed in pairs (bench/plugins.sh), the ratio is what the helpers cost a thumbnail.
//   bench_pluginpath helper|direct FOLDER BOX FILE...
#define SPI_HOST
#include "spi.h"

#include "imaging/Dib.h"
#include "imaging/SPIControl.h"
#include "imaging/SusieHost.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <vector>

namespace {

struct Plugin {
    SPI_IsSupported isSupported = nullptr;
    SPI_GetPicture getPicture = nullptr;
};

std::vector<Plugin> LoadDirect(const QString& folder) {
    std::vector<Plugin> plugins;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.spi")}, QDir::Files, QDir::Name)) {
        void* lib = dlopen(QFile::encodeName(dir.filePath(name)).constData(),
                           RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!lib)
            continue;
        Plugin p;
        p.isSupported = reinterpret_cast<SPI_IsSupported>(dlsym(lib, "IsSupported"));
        p.getPicture = reinterpret_cast<SPI_GetPicture>(dlsym(lib, "GetPicture"));
        if (p.isSupported && p.getPicture)
            plugins.push_back(p);
    }
    return plugins;
}

QImage DecodeDirect(const std::vector<Plugin>& plugins, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    QByteArray head = file.read(SPI_HEAD_SIZE);
    head.resize(SPI_HEAD_SIZE, '\0');
    const QByteArray name = QFile::encodeName(path);
    for (const Plugin& p : plugins) {
        if (!p.isSupported(name.constData(), reinterpret_cast<uintptr_t>(head.constData())))
            continue;
        HLOCAL hi = nullptr, hb = nullptr;
        if (p.getPicture(name.constData(), 0, SPI_INPUT_FILE, &hi, &hb, nullptr, 0) !=
            SPI_ALL_RIGHT)
            return QImage();
        const QImage img = DibToImage(LocalLock(hi), LocalSize(hi), LocalLock(hb), LocalSize(hb));
        LocalFree(hi);
        LocalFree(hb);
        return img;
    }
    return QImage();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s helper|direct FOLDER BOX FILE...\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const bool helper = std::strcmp(argv[1], "helper") == 0;
    const QString folder = QString::fromLocal8Bit(argv[2]);
    const int side = std::atoi(argv[3]);
    std::vector<Plugin> direct;
    if (helper)
        SusieHost::LoadFolder(folder);
    else
        direct = LoadDirect(folder);

    int failed = 0;
    QSize last;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 4; i < argc; ++i) {
        const QString path = QString::fromLocal8Bit(argv[i]);
        // The picture of a helper reads the shared memory `picture` holds: reduced while it lives.
        SpiPicture picture;
        QImage img;
        if (helper) {
            if (SusieHost::DecodeFile(path, &picture) == 0)
                img = picture.image;
        } else {
            img = DecodeDirect(direct, path);
        }
        if (img.isNull()) {
            ++failed;
            continue;
        }
        last = img.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation).size();
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.2f ms per file, last thumbnail %dx%d, %d failed\n", ms / (argc - 4),
                last.width(), last.height(), failed);
    return failed ? 1 : 0;
}
