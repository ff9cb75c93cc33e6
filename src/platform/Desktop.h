// Opening web pages and files with the desktop's own handler for them.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace Desktop {

// Asks the desktop to open the address (a web page or a file:// URL). When the desktop reports
// that it cannot (no browser, no application for the file), says so in a message box over owner
// and returns false: a command is never silent.
bool OpenUrl(QWidget* owner, const QUrl& url);
// Opens a local file with the application associated with it, as OpenUrl does.
bool OpenFile(QWidget* owner, const QString& path);

// Tests see every request instead of the desktop (an empty function restores the desktop).
using Opener = std::function<bool(const QUrl&)>;
Opener SetOpener(Opener opener);

} // namespace Desktop
