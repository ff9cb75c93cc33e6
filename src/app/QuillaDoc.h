// The one document: the meeting point of the two views. It holds the path of the folder shown and
// nothing else; it is never modified, saved or loaded.
#pragma once

#include "platform/DocView.h"

#include <QString>

class CThumbnailView;
class CDirView;

class CQuillaDoc : public CDocument {
public:
    CQuillaDoc() = default;

    // The first view of the document that is a thumbnail view (or folder tree), or null.
    CThumbnailView* GetThumbnailView() const;
    CDirView* GetDirView() const;

    // The full path of the current folder, or "" when none is selected.
    const QString& Folder() const { return m_strFolder; }
    // The one way to change the current folder: the process's current directory follows, so the
    // two are always equal while the path names a folder. An empty path means no folder and
    // leaves the current directory as it is. Returns false (and changes nothing) when the folder
    // cannot be entered.
    bool SetFolder(const QString& path);

private:
    QString m_strFolder;
};
