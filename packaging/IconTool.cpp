// quilla-icons FOLDER: writes the program's icon as FOLDER/<n>x<n>/apps/quilla.png at each of the
// desktop's usual sizes, for the hicolor icon theme. Run by the build; not installed.
#include "res/Icons.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: quilla-icons FOLDER\n", stderr);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (int size : Icons::kApplicationIconSizes) {
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        const QString file = root.filePath(folder + QStringLiteral("/quilla.png"));
        if (!root.mkpath(folder) || !Icons::ApplicationImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "quilla-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
