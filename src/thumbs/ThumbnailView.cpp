#include "thumbs/ThumbnailView.h"

#include "app/QuillaDoc.h"
#include "app/Settings.h"
#include "res/resource.h"
#include "tree/DirView.h"

bool CThumbnailView::s_bFineMode = false;

namespace {

// The thumbnail size of each size command.
QSize SizeOfCommand(unsigned nID) {
    static const int sides[] = {32, 48, 64, 80, 96, 100, 128, 160, 0, 240, 280, 320};
    if (nID == ID_SIZE_160x120)
        return QSize(160, 120);
    const int side = sides[nID - ID_SIZE_FIRST];
    return QSize(side, side);
}

} // namespace

CThumbnailView::CThumbnailView(QWidget* parent) : QAbstractScrollArea(parent) {
    m_sizeThumb =
        QSize(Settings::Get(Settings::ThumbnailSizeX), Settings::Get(Settings::ThumbnailSizeY));
    s_bFineMode = Settings::Get(Settings::PureMode) != 0;
    m_nSortMode = Settings::Get(Settings::SortMode);
    m_bSortAscend = Settings::Get(Settings::SortAscend);
    m_nFocus = 0;
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);

    MapCommandRange(ID_SIZE_FIRST, ID_SIZE_LAST, [this](unsigned nID) {
        const QSize s = SizeOfCommand(nID);
        SetThumbnailSize(s.width(), s.height());
    });
    MapCommandRange(ID_SORT_NAME, ID_SORT_DATE,
                    [this](unsigned nID) { SetSortMode(int(nID - ID_SORT_NAME)); });
    MapCommand(ID_SORT_ASCEND, [this] { ToggleSortOrder(); });
    MapCommand(ID_VIEW_PUREMODE, [this] { ToggleFineMode(); });
    MapUpdate(ID_VIEW_PUREMODE, [](CCmdUI* pCmdUI) { pCmdUI->SetCheck(s_bFineMode ? 1 : 0); });
    MapCommand(ID_VIEW_REFRESH, [this] { FillList(); });
    for (unsigned id : {ID_DRIVE_CHANGE, ID_FOLDER_UP, ID_FOLDER_CREATE})
        MapCommandRange(id, id, [this](unsigned nID) { ForwardToTree(nID); });
}

CQuillaDoc* CThumbnailView::GetDocument() const {
    return static_cast<CQuillaDoc*>(CView::GetDocument());
}

void CThumbnailView::OnInitialUpdate() {
    FillList();
}

void CThumbnailView::OnUpdate(CView* pSender, long lHint, void* pHint) {
    if (pSender)
        FillList();
    CView::OnUpdate(pSender, lHint, pHint);
}

void CThumbnailView::FillList() {
    m_nFocus = 0;
    UpdateScrollLayout();
}

void CThumbnailView::SortList() {}

void CThumbnailView::PlaceTiles() {}

void CThumbnailView::UpdateScrollLayout() {
    m_sizeCell = QSize(m_sizeThumb.width() + 8, m_sizeThumb.height() + 8);
    const int w = viewport()->width();
    m_nColumns = m_sizeCell.width() > 0 ? std::max(1, w / m_sizeCell.width()) : 1;
}

bool CThumbnailView::LoadNextPicture() {
    return false;
}

void CThumbnailView::SetThumbnailSize(int cx, int cy) {
    m_sizeThumb = QSize(cx, cy);
    Settings::Write(Settings::ThumbnailSizeX, cx);
    Settings::Write(Settings::ThumbnailSizeY, cy);
    UpdateScrollLayout();
    FillList();
}

void CThumbnailView::SetSortMode(int nMode) {
    m_nSortMode = nMode;
    Settings::Write(Settings::SortMode, nMode);
    SortList();
    PlaceTiles();
}

void CThumbnailView::ToggleSortOrder() {
    m_bSortAscend = m_bSortAscend ? 0 : 1;
    Settings::Write(Settings::SortAscend, m_bSortAscend);
    SortList();
    PlaceTiles();
}

void CThumbnailView::ToggleFineMode() {
    s_bFineMode = !s_bFineMode;
    Settings::Write(Settings::PureMode, s_bFineMode ? 1 : 0);
    FillList();
}

void CThumbnailView::ForwardToTree(unsigned nID) {
    CQuillaDoc* doc = GetDocument();
    CDirView* tree = doc ? doc->GetDirView() : nullptr;
    if (!tree)
        return;
    tree->SendCommand(nID);
    if (nID == ID_FOLDER_CREATE)
        tree->setFocus(Qt::OtherFocusReason);
}
