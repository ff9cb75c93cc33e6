#include "thumbs/FileCommands.h"

#include "imaging/ImageKit.h"
#include "platform/FileNames.h"
#include "platform/MsgBox.h"
#include "platform/Shell.h"
#include "platform/WaitCursor.h"
#include "platform/Wallpaper.h"
#include "tree/Dialogs.h"

#include <QFile>

namespace {

// The text the user edits in place of a part of a name: the part itself when the text was left
// as it was shown, so that bytes which are not UTF-8 survive an unchanged part.
QString Edited(const QString& original, const QString& typed) {
    return typed == FileNames::Display(original) ? original : typed;
}

// "ファイル名を変更できません" with the reason below it.
void ShowRenameFailure(QWidget* owner, const QString& reason) {
    QuillaMessageBox(owner, QStringLiteral("ファイル名を変更できません\n%1").arg(reason),
                     MB_OK | MB_ICONEXCLAMATION);
}

} // namespace

std::optional<QString> RenameFileWithDialog(QWidget* owner, const QString& fullPath) {
    const qsizetype slash = fullPath.lastIndexOf(QLatin1Char('/'));
    const QString folder = fullPath.left(slash + 1);
    const QString name = fullPath.mid(slash + 1);
    if (name.isEmpty())
        return std::nullopt;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot >= 0 ? name.left(dot) : name;
    const QString ext = dot >= 0 ? name.mid(dot) : QString();

    CRenameDlg dlg(owner);
    dlg.m_strBefore = FileNames::Display(name);
    dlg.m_strName = FileNames::Display(stem);
    dlg.m_strExt = FileNames::Display(ext);
    if (dlg.exec() != QDialog::Accepted)
        return std::nullopt;
    QString newExt = Edited(ext, dlg.m_strExt);
    // An extension typed without its dot gets one; none stays none (no name ends in a lone dot).
    if (!newExt.isEmpty() && !newExt.startsWith(QLatin1Char('.')))
        newExt.prepend(QLatin1Char('.'));
    const QString newStem = Edited(stem, dlg.m_strName);
    const QString newName = newStem + newExt;
    if (newName == name)
        return std::nullopt;
    // The file keeps its name, and the user hears why. An empty name before the extension would
    // turn the file into a hidden one.
    QString reason = FileNames::NameProblem(newStem.isEmpty() ? newStem : newName);
    if (!reason.isEmpty()) {
        ShowRenameFailure(owner, reason);
        return std::nullopt;
    }
    const QString newPath = folder + newName;
    if (!Shell::Rename(fullPath, newPath, &reason)) {
        ShowRenameFailure(owner, reason);
        return std::nullopt;
    }
    return newPath;
}

bool SetWallpaperFromFile(QWidget* owner, const QString& path) {
    if (QuillaMessageBox(owner, QStringLiteral("壁紙にしますか？"),
                         MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return false;
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    QString picture = path;
    QString written; // the bitmap written for this background, if any
    if (name.mid(dot).compare(QLatin1String(".bmp"), Qt::CaseInsensitive) != 0) {
        CWaitCursor wait;
        CImageKit image;
        written = picture = Wallpaper::NewBmpPath();
        // A picture that cannot be written is not set: the desktop would show the last one.
        if (!image.Load(path, false) || !image.SaveBmp(picture, true)) {
            QFile::remove(written);
            QuillaMessageBox(owner, QStringLiteral("壁紙にする画像を用意できませんでした"),
                             MB_OK | MB_ICONEXCLAMATION);
            return false;
        }
    }
    QString reason;
    if (!Wallpaper::Set(picture, &reason)) {
        // The desktop keeps its background, and the bitmap behind it stays.
        if (!written.isEmpty())
            QFile::remove(written);
        QuillaMessageBox(owner, QStringLiteral("壁紙を設定できませんでした。\n%1").arg(reason),
                         MB_OK | MB_ICONEXCLAMATION);
        return false;
    }
    // The bitmaps of earlier backgrounds are no longer shown.
    Wallpaper::RemoveBmpsExcept(picture);
    return true;
}
