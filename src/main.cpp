#include "app/CommandLine.h"
#include "app/QuillaApp.h"
#include "platform/FileNames.h"
#include "platform/Signals.h"

#include <QCoreApplication>
#include <cstdio>

namespace {

void PrintError(const QString& text) {
    std::fprintf(stderr, "quilla: %s\n", FileNames::ToNative(text).constData());
}

} // namespace

int main(int argc, char** argv) {
    // --help and --version answer on standard output without opening a window, so they work
    // where there is no display at all.
    {
        CommandLine::Request request;
        CommandLine::Parse(CommandLine::Arguments(argc, argv), request);
        if (request.help || request.version) {
            QCoreApplication core(argc, argv);
            const QString text =
                request.help ? CommandLine::HelpText() : CommandLine::VersionText();
            std::fputs(text.toUtf8().constData(), stdout);
            return 0;
        }
    }

    // The application takes out the options that belong to Qt itself; the rest is ours.
    CQuillaApp app(argc, argv);
    CommandLine::Request request;
    const QString error = CommandLine::Parse(CommandLine::Arguments(argc, argv), request);
    if (!error.isEmpty()) {
        PrintError(error);
        std::fputs("Try 'quilla --help'.\n", stderr);
        return 2;
    }
    if (!request.warning.isEmpty())
        PrintError(request.warning);
    app.SetStartPath(request.folder, request.file);

    Signals::QuitOnTermination();
    if (!app.InitInstance())
        return 1;
    return app.exec();
}
