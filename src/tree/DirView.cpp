#include "tree/DirView.h"

#include "app/QuillaDoc.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"

#include <QDir>
#include <QHeaderView>

CDirView::CDirView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setFocusPolicy(Qt::StrongFocus);

    const auto forward = [this](unsigned nID) { ForwardToThumbnails(nID); };
    for (unsigned id : {ID_FILE_COPYTO, ID_FILE_MOVETO, ID_WALLPAPER, ID_SIZE_CUSTOM, ID_VIEW_FONT})
        MapCommandRange(id, id, forward);
    MapCommandRange(ID_SIZE_FIRST, ID_SIZE_LAST, forward);
    MapCommandRange(ID_SORT_NAME, ID_SORT_ASCEND, forward);
}

CQuillaDoc* CDirView::GetDocument() const {
    return static_cast<CQuillaDoc*>(CView::GetDocument());
}

void CDirView::OnInitialUpdate() {
    // The folder shown first is the one the program was started in.
    if (CQuillaDoc* doc = GetDocument())
        doc->SetFolder(QDir::currentPath());
}

void CDirView::ForwardToThumbnails(unsigned nID) {
    if (CQuillaDoc* doc = GetDocument())
        if (CThumbnailView* view = doc->GetThumbnailView())
            view->SendCommand(nID);
}
