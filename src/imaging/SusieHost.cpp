#include "imaging/SusieHost.h"

#include "imaging/SPIControl.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
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

thread_local QString t_lastError;

// The helper that runs the plug-ins, and the cache of their checks.
void Prepare(CSPIControl& control) {
    static std::once_flag once;
    std::call_once(once, [&control] {
        if (!QCoreApplication::instance())
            return;
        const QString helper =
            QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("quilla-spihost"));
        if (!QFileInfo(helper).isExecutable())
            qWarning("quilla: quilla-spihost not found; plug-ins cannot be used");
        control.SetHelper(helper);
        const QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (!cache.isEmpty())
            control.SetCacheFile(QDir(cache).filePath(QStringLiteral("plugins.json")));
    });
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
    Prepare(control);
    return control.LoadFolder(folder);
}

int LoadFolderInBackground(const QString& folder) {
    {
        std::lock_guard lock(FolderLock());
        Folder() = folder;
    }
    CSPIControl& control = Control();
    Prepare(control);
    return control.LoadFolderInBackground(folder);
}

void SetOnlineHandler(std::function<void()> handler) {
    Control().SetOnlineHandler(std::move(handler));
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

int DecodeFile(const QString& path, SpiPicture* picture, SpiPictureInfo* info, bool reserved,
               const std::atomic<bool>* cancel) {
    t_lastError.clear();
    return Control().DecodeFile(path, picture, info, &t_lastError, reserved, cancel);
}

int DecodeScaled(const QString& path, QSize box, SpiPicture* picture,
                 const std::atomic<bool>* cancel) {
    t_lastError.clear();
    return Control().DecodeFile(path, picture, nullptr, &t_lastError, false, cancel, box);
}

int FileInformation(const QString& path, SpiPictureInfo* info, bool reserved) {
    t_lastError.clear();
    return Control().FileInformation(path, info, &t_lastError, reserved);
}

QString LastError() {
    return t_lastError;
}

void ClearLastError() {
    t_lastError.clear();
}

QStringList Describe() {
    CSPIControl& control = Control();
    QStringList lines;
    for (int i = 0; i < control.GetSize(); ++i) {
        QString line = control.FileNameAt(i);
        if (control.IsSetAsideAt(i))
            line += QStringLiteral("（続けて失敗したため使用を停止しました）");
        lines << line;
    }
    for (const QString& refused : control.Refused())
        lines << refused;
    return lines;
}

void Shutdown() {
    CSPIControl& control = Control();
    control.Shutdown();
    // A check in the background sees the shutdown within a few milliseconds.
    control.WaitForBackground();
}

void Resume() {
    Control().Resume();
}

} // namespace SusieHost
