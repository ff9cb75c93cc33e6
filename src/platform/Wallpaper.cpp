#include "platform/Wallpaper.h"

#include "platform/FileNames.h"
#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <algorithm>

namespace Wallpaper {

namespace {

constexpr int kCommandTimeoutMs = 15000;
constexpr int kPrivateFolder = 0700;
const QString kXfceChannel = QStringLiteral("xfce4-desktop");
const QString kXfceDefaultImage =
    QStringLiteral("/backdrop/screen0/monitor0/workspace0/last-image");

// The bitmaps written for the background: "Norvo Quilla <n>.bmp" (and the single "Norvo
// Quilla.bmp" of earlier versions).
const QString kBmpStem = QStringLiteral("Norvo Quilla");
// Numbers beyond this are not ours (and would leave no room to count on).
constexpr int kMaxBmpNumber = 1000000000;

QStringList BmpPattern() {
    return {kBmpStem + QStringLiteral("*.bmp")};
}

// n of "Norvo Quilla <n>.bmp"; 0 for any other name.
int BmpNumber(const QString& name) {
    const QString prefix = kBmpStem + QLatin1Char(' ');
    if (!name.startsWith(prefix) || !name.endsWith(QLatin1String(".bmp")))
        return 0;
    bool ok = false;
    const int n = name.mid(prefix.size(), name.size() - prefix.size() - 4).toInt(&ok, 10);
    return ok && n > 0 && n < kMaxBmpNumber ? n : 0;
}

QString DataFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.local/share/Norvo/Quilla");
    Files::MakeFolders(folder, kPrivateFolder);
    return folder;
}

int RunProcess(const QString& program, const QStringList& args, QByteArray* out) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(program, args);
    if (!p.waitForStarted())
        return -1;
    p.closeWriteChannel();
    if (!p.waitForFinished(kCommandTimeoutMs)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

Runner& Hook() {
    static Runner r;
    return r;
}

int Run(const QString& program, const QStringList& args, QByteArray* out = nullptr) {
    return Hook() ? Hook()(program, args, out) : RunProcess(program, args, out);
}

// A GVariant text string: single quotes, with quotes and backslashes escaped.
QString GVariantString(const QString& text) {
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

bool Gsettings(const QString& schema, const QString& key, const QString& value) {
    return Run(QStringLiteral("gsettings"),
               {QStringLiteral("set"), schema, key, GVariantString(value)}) == 0;
}

// The script Plasma runs for every desktop: the image plug-in showing the file.
QString PlasmaScript(const QString& url) {
    return QStringLiteral("var all = desktops();\n"
                          "for (var i = 0; i < all.length; i++) {\n"
                          "    var d = all[i];\n"
                          "    d.wallpaperPlugin = \"org.kde.image\";\n"
                          "    d.currentConfigGroup = Array(\"Wallpaper\", \"org.kde.image\", "
                          "\"General\");\n"
                          "    d.writeConfig(\"Image\", \"%1\");\n"
                          "}\n")
        .arg(url);
}

bool SetXfce(const QString& path) {
    QByteArray listing;
    if (Run(QStringLiteral("xfconf-query"),
            {QStringLiteral("-c"), kXfceChannel, QStringLiteral("-l")}, &listing) != 0)
        return false;
    QStringList images;
    for (const QByteArray& line : listing.split('\n'))
        if (line.trimmed().endsWith("/last-image"))
            images << QString::fromUtf8(line.trimmed());
    if (images.isEmpty())
        return Run(QStringLiteral("xfconf-query"),
                   {QStringLiteral("-c"), kXfceChannel, QStringLiteral("-p"), kXfceDefaultImage,
                    QStringLiteral("-n"), QStringLiteral("-t"), QStringLiteral("string"),
                    QStringLiteral("-s"), path}) == 0;
    bool ok = true;
    for (const QString& prop : images)
        ok = Run(QStringLiteral("xfconf-query"),
                 {QStringLiteral("-c"), kXfceChannel, QStringLiteral("-p"), prop,
                  QStringLiteral("-s"), path}) == 0 &&
             ok;
    return ok;
}

} // namespace

Runner SetRunner(Runner runner) {
    Runner old = std::move(Hook());
    Hook() = std::move(runner);
    return old;
}

DesktopKind FromName(const QString& desktops) {
    for (const QString& part : desktops.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString d = part.trimmed().toUpper();
        if (d == QLatin1String("GNOME") || d == QLatin1String("UNITY") ||
            d == QLatin1String("BUDGIE") || d == QLatin1String("GNOME-FLASHBACK") ||
            d == QLatin1String("GNOME-CLASSIC"))
            return DesktopKind::Gnome;
        if (d == QLatin1String("X-CINNAMON") || d == QLatin1String("CINNAMON"))
            return DesktopKind::Cinnamon;
        if (d == QLatin1String("MATE"))
            return DesktopKind::Mate;
        if (d == QLatin1String("KDE") || d == QLatin1String("PLASMA"))
            return DesktopKind::Kde;
        if (d == QLatin1String("XFCE") || d == QLatin1String("XFCE4"))
            return DesktopKind::Xfce;
        if (d == QLatin1String("LXQT"))
            return DesktopKind::Lxqt;
        if (d == QLatin1String("LXDE"))
            return DesktopKind::Lxde;
    }
    return DesktopKind::Unknown;
}

DesktopKind Detect() {
    const DesktopKind kind = FromName(qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    return kind != DesktopKind::Unknown ? kind : FromName(qEnvironmentVariable("DESKTOP_SESSION"));
}

bool Set(const QString& path, QString* reason) {
    const DesktopKind kind = Detect();
    const QString url = QString::fromLatin1(FileNames::ToFileUrl(path));
    // The settings that take a file name hold text: a name that is not UTF-8 cannot go there.
    const bool needsPlainName = kind == DesktopKind::Mate || kind == DesktopKind::Xfce ||
                                kind == DesktopKind::Lxqt || kind == DesktopKind::Lxde;
    if (needsPlainName && FileNames::HasRawBytes(path)) {
        if (reason)
            *reason = QStringLiteral("このファイル名は壁紙の設定に使えません");
        return false;
    }
    bool ok = false;
    QString program;
    switch (kind) {
    case DesktopKind::Gnome:
        program = QStringLiteral("gsettings");
        ok = Gsettings(QStringLiteral("org.gnome.desktop.background"),
                       QStringLiteral("picture-uri"), url);
        // The dark style's picture (GNOME 42 and later; older ones have no such key).
        if (ok)
            Gsettings(QStringLiteral("org.gnome.desktop.background"),
                      QStringLiteral("picture-uri-dark"), url);
        break;
    case DesktopKind::Cinnamon:
        program = QStringLiteral("gsettings");
        ok = Gsettings(QStringLiteral("org.cinnamon.desktop.background"),
                       QStringLiteral("picture-uri"), url);
        break;
    case DesktopKind::Mate:
        program = QStringLiteral("gsettings");
        ok = Gsettings(QStringLiteral("org.mate.background"), QStringLiteral("picture-filename"),
                       path);
        break;
    case DesktopKind::Kde:
        program = QStringLiteral("dbus-send");
        ok =
            Run(program, {QStringLiteral("--session"), QStringLiteral("--dest=org.kde.plasmashell"),
                          QStringLiteral("--type=method_call"), QStringLiteral("--print-reply"),
                          QStringLiteral("/PlasmaShell"),
                          QStringLiteral("org.kde.PlasmaShell.evaluateScript"),
                          QStringLiteral("string:") + PlasmaScript(url)}) == 0;
        break;
    case DesktopKind::Xfce:
        program = QStringLiteral("xfconf-query");
        ok = SetXfce(path);
        break;
    case DesktopKind::Lxqt:
    case DesktopKind::Lxde:
        // A mode with the picture: a desktop whose saved mode is "none" would stay black.
        program =
            kind == DesktopKind::Lxqt ? QStringLiteral("pcmanfm-qt") : QStringLiteral("pcmanfm");
        ok = Run(program, {QStringLiteral("--set-wallpaper=") + path,
                           QStringLiteral("--wallpaper-mode=") + QLatin1String(kPcmanfmMode)}) == 0;
        break;
    case DesktopKind::Unknown: {
        if (reason) {
            const QString name = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
            *reason = QStringLiteral("このデスクトップ（%1）の壁紙は設定できません")
                          .arg(name.isEmpty() ? QStringLiteral("不明") : name);
        }
        return false;
    }
    }
    if (!ok && reason)
        *reason =
            QStringLiteral("デスクトップが壁紙の設定を受け付けませんでした（%1）").arg(program);
    return ok;
}

QString NewBmpPath() {
    const QString folder = DataFolder();
    int highest = 0;
    for (const QString& name : QDir(folder).entryList(BmpPattern(), QDir::Files | QDir::System))
        highest = std::max(highest, BmpNumber(name));
    for (int n = highest + 1;; ++n) {
        const QString path = folder + QStringLiteral("/%1 %2.bmp").arg(kBmpStem).arg(n);
        if (!Files::Exists(path))
            return path;
    }
}

void RemoveBmpsExcept(const QString& keep) {
    const QDir folder(DataFolder());
    for (const QString& name : folder.entryList(BmpPattern(), QDir::Files | QDir::System)) {
        const QString path = folder.filePath(name);
        if (path != keep && (name == kBmpStem + QStringLiteral(".bmp") || BmpNumber(name) > 0))
            QFile::remove(path);
    }
}

} // namespace Wallpaper
