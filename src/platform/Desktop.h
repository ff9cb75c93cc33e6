// Opening web pages and files with the desktop's own handler for them.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

namespace Desktop {

// Asks the desktop to open the address (a web page or a file:// URL). Returns false when the
// desktop reported that it could not; callers that ignore the result may.
bool OpenUrl(const QUrl& url);
// Opens a local file with the application associated with it.
bool OpenFile(const QString& path);

// Tests see every request instead of the desktop (an empty function restores the desktop).
using Opener = std::function<bool(const QUrl&)>;
Opener SetOpener(Opener opener);

} // namespace Desktop
