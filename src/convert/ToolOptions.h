// The command line of quilla-convert, the command-line converter that runs the conversion command's
// routine on files named by a shell.
#pragma once

#include "convert/Convert.h"

#include <QString>
#include <QStringList>

namespace ConvertTool {

struct Settings {
    int format = -1; // Convert::Format
    int bits = 0;    // 0 = no colour conversion
    int width = 0;   // 0 = not given
    int height = 0;  // 0 = not given
    QString output;  // "" = the current directory
    int jobs = 0;    // 0 = one per core
    bool overwriteSource = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    Convert::Options overrides; // the save options given on the command line
    QStringList files;
};

// Parses the arguments after the program name. Returns "" on success, else the error to print.
QString Parse(const QStringList& args, Settings& out);

// The text of --help.
QString HelpText();

} // namespace ConvertTool
