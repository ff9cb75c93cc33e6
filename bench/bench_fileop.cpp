// Copies (or moves) folders or files into a folder through the shell file operation, as the
// copy-to command does, progress window included (headless), and prints the throughput.
//   bench_fileop copy|move DEST SOURCE...
#include "platform/FileNames.h"
#include "platform/Files.h"
#include "platform/MsgBox.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <sys/stat.h>

namespace {
int64_t BytesOf(const QString& path) {
    const QByteArray native = FileNames::ToNative(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0)
        return 0;
    if (!S_ISDIR(st.st_mode))
        return st.st_size;
    int64_t total = 0;
    Files::ForEachBelow(native, [&](const QByteArray& rel) {
        struct stat f {};
        if (::lstat((native + '/' + rel).constData(), &f) == 0 && S_ISREG(f.st_mode))
            total += f.st_size;
    });
    return total;
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_fileop copy|move DEST SOURCE...\n");
        return 2;
    }
    // Nobody is there to answer: errors are printed.
    SetMessageBoxResponder([](const MsgBoxRequest& r) {
        std::fprintf(stderr, "%s\n", r.text.toUtf8().constData());
        return IDOK;
    });
    Shell::FileOp op;
    op.func = QByteArray(argv[1]) == "move" ? Shell::FO_MOVE : Shell::FO_COPY;
    op.to = FileNames::FromNative(argv[2]);
    op.flags = Shell::FOF_ALLOWUNDO | Shell::FOF_RENAMEONCOLLISION;
    int64_t bytes = 0;
    for (int i = 3; i < argc; ++i) {
        op.from << FileNames::FromNative(argv[i]);
        bytes += BytesOf(op.from.back());
    }
    QElapsedTimer clock;
    clock.start();
    const int result = Shell::SHFileOperation(op);
    const double secs = double(clock.nsecsElapsed()) / 1e9;
    std::printf("%s %.0f MB in %.2f s: %.0f MB/s (result %d)\n", argv[1], double(bytes) / 1e6, secs,
                double(bytes) / 1e6 / secs, result);
    return result;
}
