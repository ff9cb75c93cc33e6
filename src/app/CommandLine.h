// The command line of quilla:  quilla [--help] [--version] [FOLDER | FILE]
// A folder is shown at start instead of the one the settings choose; a file's folder is shown with
// the file selected and open in the preview. Neither is written to the settings.
#pragma once

#include <QString>
#include <QStringList>

namespace CommandLine {

struct Request {
    QString folder; // the folder to start in, absolute ("" to start as the settings say)
    QString file;   // the name of the file in it to select and show ("" for none)
    bool help = false;
    bool version = false;
    // Said on standard error when the named path does not exist (the program then starts as the
    // settings say).
    QString warning;
};

// The arguments, the program's name first, in the program's form of names: every byte of a name
// that is not UTF-8 is kept (see FileNames).
QStringList Arguments(int argc, char** argv);

// Parses the arguments (the program's name first) and resolves a path against the current
// directory. Returns "" or the usage error to print; help and version are set even then.
QString Parse(const QStringList& arguments, Request& out);

// The texts of --help and --version. The help text needs the application object.
QString HelpText();
QString VersionText();

} // namespace CommandLine
