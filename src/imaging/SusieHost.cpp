#include "imaging/SusieHost.h"

#include "imaging/SPIControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <mutex>

namespace {

std::mutex& FolderLock() {
    static std::mutex lock;
    return lock;
}

QString& Folder() {
    static QString folder;
    return folder;
}

// The program that loads a plug-in in a child process first: next to the executable.
QString CheckerPath() {
    if (!QCoreApplication::instance())
        return QString();
    const QString path =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("quilla-spiprobe"));
    return QFileInfo(path).isExecutable() ? path : QString();
}

} // namespace

namespace SusieHost {

CSPIControl& Control() {
    static CSPIControl control;
    return control;
}

int LoadFolder(const QString& folder) {
    {
        std::lock_guard lock(FolderLock());
        Folder() = folder;
    }
    CSPIControl& control = Control();
    if (control.Checker().isEmpty()) {
        const QString checker = CheckerPath();
        if (checker.isEmpty())
            qWarning("quilla: quilla-spiprobe not found; plug-ins are loaded without a check");
        control.SetChecker(checker);
    }
    return control.LoadFolder(folder);
}

QString PluginFolder() {
    std::lock_guard lock(FolderLock());
    return Folder();
}

int GetFormatCount() {
    return Control().GetFormatCount();
}

bool IsSupportedExtension(const QString& extension) {
    return Control().IsSupportedExtension(extension);
}

int DecodeFile(const QString& path, HLOCAL* header, HLOCAL* bits, SPI_PICTUREINFO* info) {
    return Control().DecodeFile(path, header, bits, info);
}

} // namespace SusieHost
