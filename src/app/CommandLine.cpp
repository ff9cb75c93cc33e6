#include "app/CommandLine.h"

#include "app/config.h"
#include "platform/FileNames.h"
#include "platform/Files.h"

#include <QCommandLineParser>
#include <QDir>

namespace CommandLine {

namespace {

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help;
    QCommandLineOption version;

    // Help and version options of our own: Qt's help option would add --help-all, which
    // speaks of Qt's options.
    Parser()
        : help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
               QStringLiteral("Displays this help.")),
          version({QStringLiteral("v"), QStringLiteral("version")},
                  QStringLiteral("Displays the version.")) {
        parser.addOption(help);
        parser.addOption(version);
        parser.setApplicationDescription(QStringLiteral(
            "Norvo Pictoquill: an image-file browser with a folder tree, thumbnails and a "
            "preview."));
        parser.addPositionalArgument(
            QStringLiteral("FOLDER | FILE"),
            QStringLiteral("A folder to start in, or a picture to select and show in the preview "
                           "(for this start only; the settings are not changed)."),
            QStringLiteral("[FOLDER | FILE]"));
    }
};

// The folder and file that a path names, or the reason it names nothing.
QString Resolve(const QString& argument, Request& out) {
    QString path = argument;
    if (!path.startsWith(QLatin1Char('/')))
        path = FileNames::CurrentDir() + QLatin1Char('/') + path;
    path = QDir::cleanPath(path);
    const std::optional<Files::Info> info = Files::Stat(path);
    if (!info)
        return QStringLiteral("no such file or folder");
    if (info->isFolder) {
        out.folder = path;
        return QString();
    }
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    out.folder = slash == 0 ? QStringLiteral("/") : path.left(slash);
    out.file = path.mid(slash + 1);
    return QString();
}

} // namespace

QStringList Arguments(int argc, char** argv) {
    QStringList out;
    for (int i = 0; i < argc; ++i)
        out << FileNames::FromNative(argv[i]);
    return out;
}

QString Parse(const QStringList& arguments, Request& out) {
    out = Request();
    Parser p;
    const bool parsed = p.parser.parse(arguments);
    out.help = p.parser.isSet(p.help);
    out.version = p.parser.isSet(p.version);
    if (!parsed)
        return p.parser.errorText();
    const QStringList paths = p.parser.positionalArguments();
    if (paths.size() > 1)
        return QStringLiteral("only one folder or file can be named");
    if (paths.size() == 1 && !paths[0].isEmpty()) {
        const QString why = Resolve(paths[0], out);
        if (!why.isEmpty()) {
            out.folder.clear();
            out.file.clear();
            out.warning = paths[0] + QStringLiteral(": ") + why;
        }
    }
    return QString();
}

QString HelpText() {
    Parser p;
    return p.parser.helpText();
}

QString VersionText() {
    return QStringLiteral("quilla %1\n").arg(QStringLiteral(QUILLA_VERSION));
}

} // namespace CommandLine
