// The conversion command: the conversion dialog, the output folder's checks, and the batch over
// the selected files with its progress window. The grid hands over what it shows and learns
// whether to list its folder again; nothing here knows the grid.
//
// Each file is converted on a worker thread while this thread keeps the window system going, so
// the progress window and its "中止" answer at once; the questions, messages and the order of the
// files stay on this thread. With "Cmd"/"Display" set, files are converted on this thread instead,
// with the imaging library's own progress window.
#pragma once

#include <QString>
#include <functional>
#include <vector>

class CStatusDlg;
class QWidget;

namespace ConvertBatch {

// One selected entry of the grid: its full path and its file name.
struct Source {
    QString path;
    QString name;
};

enum class Outcome {
    Done,    // nothing more to do
    Refresh, // the files were written into the folder shown: list it again, scroll to the anchor
};

// Runs the command. workingDir is the working directory when the command started (the folder
// shown); selection holds the selected entries in display order.
Outcome Run(QWidget* owner, const QString& workingDir, const std::vector<Source>& selection);

// True while a batch runs (a second command then only brings its progress window forward).
bool IsRunning();

// Tests: called for each file once the progress window shows it, before it is converted.
extern std::function<void(CStatusDlg&, int index)> s_onFile;

} // namespace ConvertBatch
