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

    // Sets the current folder and makes it the process's current directory as well, so that the
    // two are always equal while the path names a folder. Returns false (and changes nothing)
    // when the folder cannot be entered.
    bool SetFolder(const QString& path);

    // The full path of the current folder, or "" when none is selected.
    QString m_strFolder;
};
