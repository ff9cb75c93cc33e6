#include "app/QuillaDoc.h"

#include "platform/FileNames.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

CThumbnailView* CQuillaDoc::GetThumbnailView() const {
    return FindView<CThumbnailView>();
}

CDirView* CQuillaDoc::GetDirView() const {
    return FindView<CDirView>();
}

bool CQuillaDoc::SetFolder(const QString& path) {
    if (path.isEmpty()) {
        m_strFolder.clear();
        return true;
    }
    if (!FileNames::SetCurrentDir(path))
        return false;
    m_strFolder = path;
    return true;
}
