#include "thumbs/ThumbnailView.h"

#include "convert/ConvertBatch.h"
#include "imaging/ImageKit.h"
#include "platform/Desktop.h"
#include "platform/DirList.h"
#include "platform/FileNames.h"
#include "platform/PaneSite.h"
#include "platform/Settings.h"
#include "res/Menus.h"
#include "res/resource.h"
#include "thumbs/Layout.h"
#include "thumbs/ThumbnailSizeDlg.h"

#include <QDir>
#include <QFileInfo>
#include <QFontDialog>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

namespace {

// Drawing objects shared by every tile.
const QColor kFrame(0, 0, 0), kHighlight(255, 255, 255), kShadow(128, 128, 128),
    kBackground(191, 191, 191), kSelection(0, 0, 255);

} // namespace

QSize CThumbnailView::SizeOfCommand(unsigned nID) {
    static const int sides[] = {32, 48, 64, 80, 96, 100, 128, 160, 0, 240, 280, 320};
    if (nID == ID_SIZE_160x120)
        return QSize(160, 120);
    const int side = sides[nID - ID_SIZE_FIRST];
    return QSize(side, side);
}

CThumbnailView::CThumbnailView(QWidget* parent) : QAbstractScrollArea(parent) {
    m_sizeThumb =
        QSize(Settings::Get(Settings::ThumbnailSizeX), Settings::Get(Settings::ThumbnailSizeY));
    CPreviewWnd::s_bFineMode = Settings::Get(Settings::PureMode) != 0;
    m_nSortMode = Settings::Get(Settings::SortMode);
    m_bSortAscend = Settings::Get(Settings::SortAscend);
    m_nFocus = 0;
    m_font = MakeFont();
    CalcCellSize();
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(true);
    QPalette pal = viewport()->palette();
    pal.setColor(QPalette::Window, Qt::white);
    viewport()->setPalette(pal);
    viewport()->setBackgroundRole(QPalette::Window);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    MapCommandRange(ID_SIZE_FIRST, ID_SIZE_LAST, [this](unsigned nID) {
        const QSize s = SizeOfCommand(nID);
        SetThumbnailSize(s.width(), s.height());
    });
    MapCommand(ID_SIZE_CUSTOM, [this] { OnCustomSize(); });
    MapCommand(ID_VIEW_FONT, [this] { OnFont(); });
    MapCommandRange(ID_SORT_NAME, ID_SORT_DATE,
                    [this](unsigned nID) { SetSortMode(int(nID - ID_SORT_NAME)); });
    MapCommand(ID_SORT_ASCEND, [this] { ToggleSortOrder(); });
    MapCommand(ID_VIEW_PUREMODE, [this] { ToggleFineMode(); });
    MapUpdate(ID_VIEW_PUREMODE, [](CCmdUI* pCmdUI) { pCmdUI->SetCheck(FineMode() ? 1 : 0); });
    MapCommand(ID_VIEW_REFRESH, [this] { FillList(); });
    MapCommand(ID_FILE_OPEN_IMAGE, [this] { OpenFocusInPreview(); });
    MapCommand(ID_FILE_OPEN_APP, [this] { OpenWithApplication(); });
    MapCommand(ID_TOOL_CONVERT, [this] { OnConvert(); });
    // The tree renamed the current folder: every entry now lies in the current directory.
    MapCommand(ID_FOLDER_RENAMED, [this] {
        const QString dir = CurrentDirWithSlash();
        for (const auto& t : m_tiles) {
            const QString& old = t->m_wndImage.m_strPath;
            t->m_wndImage.m_strPath = dir + old.mid(old.lastIndexOf(QLatin1Char('/')) + 1);
        }
    });
    for (unsigned id : {ID_DRIVE_CHANGE, ID_FOLDER_UP, ID_FOLDER_CREATE})
        MapCommandRange(id, id, [this](unsigned nID) { ForwardToTree(nID); });
}

CThumbnailView::~CThumbnailView() {
    DestroyTiles();
}

QString CThumbnailView::Folder() const {
    return Site() ? Site()->Folder() : QString();
}

QFont CThumbnailView::MakeFont() const {
    QFont f(Settings::Get(Settings::FontFaceName));
    // A negative size is the character height in pixels; a positive one the cell height, which
    // is close enough to it here.
    const int size = Settings::Get(Settings::FontSize);
    f.setPixelSize(std::max(1, std::abs(size)));
    f.setWeight(QFont::Weight(std::clamp(Settings::Get(Settings::FontWeight), 1, 1000)));
    f.setItalic(Settings::Get(Settings::FontItalic) != 0);
    f.setUnderline(Settings::Get(Settings::FontUnderline) != 0);
    return f;
}

void CThumbnailView::OnInitialUpdate() {
    FillList();
}

void CThumbnailView::OnUpdate(CView* pSender, long lHint, void* pHint) {
    if (pSender)
        FillList();
    CView::OnUpdate(pSender, lHint, pHint);
    viewport()->update();
}

void CThumbnailView::DestroyTiles() {
    m_tiles.clear();
    m_nIdleCursor = 0;
}

QString CThumbnailView::CurrentDirWithSlash() const {
    QString dir = FileNames::CurrentDir();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

std::unique_ptr<CImageTile> CThumbnailView::NewTile(const QString& dir, const QString& name,
                                                    uint64_t size, int64_t mtime) {
    auto tile = std::make_unique<CImageTile>();
    tile->SetPath(dir + name);
    tile->m_nSize = uint32_t(size);
    tile->m_time = mtime;
    return tile;
}

void CThumbnailView::CreateTileWindow(CImageTile& tile) {
    // The picture window's place is fixed when the tile is created, from the cell and font then.
    const int cw = m_sizeCell.width() - 2, ch = m_sizeCell.height() - 2;
    tile.m_wndImage.m_rcWindow = Layout::ImageWindowRect(cw, ch, m_t);
    tile.m_t = int16_t(m_t);
    tile.m_bCreated = true;
}

void CThumbnailView::FillList() {
    DestroyTiles();
    // Every listing starts at the first entry, an empty one too.
    m_nFocus = 0;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    if (Folder().isEmpty()) {
        viewport()->update();
        return;
    }
    const QString dir = CurrentDirWithSlash();
    DirList::ForEachFile(
        dir, [](const QString& name) { return IsImageFile(name); },
        [&](const DirList::Entry& e) { m_tiles.push_back(NewTile(dir, e.name, e.size, e.mtime)); });
    SortList();
    for (const auto& t : m_tiles)
        CreateTileWindow(*t);
    UpdateScrollLayout();
    viewport()->update();
}

void CThumbnailView::RefreshList() {
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    const QString dir = CurrentDirWithSlash();
    m_nFocus = 0;
    // The first entry of each name, as a linear search finds it, in one pass for the refresh.
    QHash<QString, size_t> byName;
    byName.reserve(qsizetype(m_tiles.size()));
    for (size_t i = m_tiles.size(); i-- > 0;)
        byName.insert(m_tiles[i]->m_strName, i);
    std::vector<bool> listed(m_tiles.size(), false);
    TileList added;
    DirList::ForEachFile(
        dir, [](const QString& name) { return IsImageFile(name); },
        [&](const DirList::Entry& e) {
            const auto it = byName.constFind(e.name);
            if (it == byName.constEnd()) {
                added.push_back(NewTile(dir, e.name, e.size, e.mtime));
                return;
            }
            listed[*it] = true;
            CImageTile& t = *m_tiles[*it];
            if (e.mtime > t.m_time) {
                // A newer file keeps its picture until the next full listing.
                t.SetPath(dir + e.name);
                t.m_nSize = uint32_t(e.size);
                t.m_time = e.mtime;
            }
        });
    // The entries the new listing no longer holds are gone: removed in one pass.
    size_t kept = 0;
    for (size_t i = 0; i < m_tiles.size(); ++i)
        if (listed[i])
            m_tiles[kept++] = std::move(m_tiles[i]);
    m_tiles.resize(kept);
    for (auto& t : added)
        m_tiles.push_back(std::move(t));
    SortList();
    for (const auto& t : m_tiles)
        if (!t->m_bCreated)
            CreateTileWindow(*t);
    PlaceTiles();
    UpdateScrollLayout();
    viewport()->update();
}

void CThumbnailView::SortList() {
    SortTiles(m_tiles, m_nSortMode, m_bSortAscend != 0);
    m_nIdleCursor = 0;
}

void CThumbnailView::PlaceTiles() {
    // Tiles take their cells from their indices when painted; the scroll position stays.
    viewport()->update();
}

void CThumbnailView::CalcCellSize() {
    m_t = QFontMetrics(m_font).height();
    m_sizeCell = Layout::CellSize(m_sizeThumb, m_t);
}

void CThumbnailView::UpdateScrollLayout() {
    CalcCellSize();
    const QSize client = viewport()->size();
    m_nColumns = Layout::Columns(client.width(), m_sizeCell.width());
    const Layout::ScrollSizes v = Layout::VerticalSizes(int(m_tiles.size()), m_nColumns,
                                                        m_sizeCell.height(), client.height());
    QScrollBar* vs = verticalScrollBar();
    vs->setRange(0, std::max(0, v.totalHeight - client.height()));
    vs->setPageStep(std::max(1, v.pageHeight));
    vs->setSingleStep(std::max(1, v.lineHeight));
    QScrollBar* hs = horizontalScrollBar();
    hs->setRange(0, std::max(0, Layout::kTotalWidth - client.width()));
    hs->setPageStep(10);
    hs->setSingleStep(10);
}

QRect CThumbnailView::GetCellRect(int i) const {
    return Layout::CellRect(i, m_sizeCell, m_nColumns);
}

int CThumbnailView::TileAt(QPoint pos) const {
    const int n = int(m_tiles.size());
    const QPoint p = pos + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
    if (p.x() < 0 || p.y() < 0 || m_sizeCell.width() <= 0 || m_sizeCell.height() <= 0)
        return n;
    const int col = p.x() / m_sizeCell.width(), row = p.y() / m_sizeCell.height();
    if (col >= m_nColumns)
        return n;
    const int64_t i = int64_t(row) * m_nColumns + col;
    return i < n ? int(i) : n;
}

void CThumbnailView::EnsureVisible(int i) {
    if (i < 0 || i >= int(m_tiles.size()))
        return;
    const QRect r = GetCellRect(i).translated(0, -verticalScrollBar()->value());
    int pos = verticalScrollBar()->value();
    if (r.top() < 0)
        pos += r.top();
    else if (r.bottom() + 1 > viewport()->height())
        pos += r.bottom() + 1 - viewport()->height();
    verticalScrollBar()->setValue(pos);
}

void CThumbnailView::InvalidateTile(int i) {
    viewport()->update(
        GetCellRect(i).translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value()));
}

void CThumbnailView::SetSelected(int i, bool on) {
    if (i < 0 || i >= int(m_tiles.size()))
        return;
    CImageTile* t = m_tiles[size_t(i)].get();
    if (t->m_bSelected == on)
        return;
    t->m_bSelected = on;
    InvalidateTile(i);
}

void CThumbnailView::SelectAt(int i, bool bCtrl, bool bShift) {
    const int n = int(m_tiles.size());
    bool anySelected = false;
    for (const auto& t : m_tiles)
        anySelected = anySelected || t->m_bSelected;
    // Shift on empty space acts as a plain click there: the range would end past the entries.
    if (bShift && i >= n)
        bShift = false;
    if (bShift && anySelected) {
        const int lo = std::min(m_nFocus, i), hi = std::max(m_nFocus, i);
        m_nFocus = i;
        for (int k = 0; k < n; ++k)
            SetSelected(k, k >= lo && k <= hi);
        return;
    }
    if (bShift) {
        SetSelected(i, true);
        m_nFocus = i;
        return;
    }
    for (int k = 0; k < n; ++k) {
        if (k != i) {
            if (m_tiles[size_t(k)]->m_bSelected && !bCtrl)
                SetSelected(k, false);
        } else {
            if (!m_tiles[size_t(k)]->m_bSelected)
                SetSelected(k, true);
            else if (bCtrl)
                SetSelected(k, false);
            m_nFocus = i;
        }
    }
}

int CThumbnailView::FindTileByName(const QString& name) const {
    for (size_t i = 0; i < m_tiles.size(); ++i)
        if (m_tiles[i]->m_strName == name)
            return int(i);
    return -1;
}

int CThumbnailView::GetSelectedIndices(std::vector<int>& indices) const {
    for (size_t i = 0; i < m_tiles.size(); ++i)
        if (m_tiles[i]->m_bSelected)
            indices.push_back(int(i));
    return int(indices.size());
}

bool CThumbnailView::LoadNextPicture() {
    for (size_t i = m_nIdleCursor; i < m_tiles.size(); ++i) {
        CImageTile* t = m_tiles[i].get();
        if (t->m_wndImage.m_image.GetHandle() != 0 || t->m_bFailed)
            continue;
        // A file that cannot be decoded is remembered, so that loading moves on.
        if (!t->m_wndImage.LoadFitted(t->m_wndImage.m_strPath))
            t->m_bFailed = true;
        m_nIdleCursor = i + 1;
        InvalidateTile(int(i));
        return true;
    }
    m_nIdleCursor = m_tiles.size();
    return false;
}

void CThumbnailView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    if (m_tiles.empty() || m_sizeCell.height() <= 0)
        return;
    const QRect area =
        event->rect().translated(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const int firstRow = std::max(0, area.top() / m_sizeCell.height());
    const int lastRow = area.bottom() / m_sizeCell.height();
    for (int row = firstRow; row <= lastRow; ++row) {
        for (int col = 0; col < m_nColumns; ++col) {
            const int64_t i = int64_t(row) * m_nColumns + col;
            if (i >= int64_t(m_tiles.size()))
                return;
            if (GetCellRect(int(i)).intersects(area))
                PaintTile(p, int(i));
        }
    }
}

void CThumbnailView::PaintTile(QPainter& p, int i) {
    CImageTile* tile = m_tiles[size_t(i)].get();
    const QRect cell =
        GetCellRect(i).translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    p.save();
    p.setClipRect(cell);
    // The tile's 1-pixel border, then its client area of (W - 2) × (H - 2).
    p.setPen(kFrame);
    p.setBrush(Qt::NoBrush);
    p.drawRect(cell.adjusted(0, 0, -1, -1));
    p.translate(cell.topLeft() + QPoint(1, 1));
    const int cw = cell.width() - 2, ch = cell.height() - 2;
    QRect r(0, 0, cw, ch);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.setPen(kHighlight);
    r.adjust(1, 1, -1, -1);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    r.adjust(1, 1, -1, -1);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    // Shadow lines, each without its end point.
    p.setPen(kShadow);
    p.drawLine(1, ch - 1, cw - 2, ch - 1);
    p.drawLine(2, ch - 2, cw - 2, ch - 2);
    p.drawLine(cw - 1, 2, cw - 1, ch - 2);
    p.drawLine(cw - 2, 3, cw - 2, ch - 2);
    r.adjust(1, 1, -1, -1);
    p.fillRect(r, tile->m_bSelected ? kSelection : kBackground);

    // The picture: loaded now when it has none, then centred in the picture window.
    CPreviewWnd& wnd = tile->m_wndImage;
    p.setPen(kFrame);
    p.drawRect(wnd.m_rcWindow.adjusted(0, 0, -1, -1)); // the picture window's border
    if (wnd.m_image.GetHandle() == 0 && !tile->m_bFailed) {
        if (!wnd.LoadFitted(wnd.m_strPath))
            tile->m_bFailed = true;
    }
    wnd.DrawCentered(&p, wnd.m_rcWindow.topLeft() + QPoint(1, 1));

    // The name, left-aligned when it is too wide for the caption, else centred; clipped.
    const QRect caption =
        Layout::CaptionRect(cw, ch, tile->m_t).translated(cell.topLeft() + QPoint(1, 1));
    p.resetTransform();
    p.setClipRect(caption.intersected(cell), Qt::ReplaceClip);
    p.setFont(m_font);
    p.setPen(Qt::black);
    const int width = QFontMetrics(m_font).horizontalAdvance(tile->m_strCaption);
    const int align = (width > caption.width() ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignTop;
    p.drawText(caption, align | Qt::TextSingleLine, tile->m_strCaption);
    p.restore();
}

void CThumbnailView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollLayout();
    PlaceTiles();
}

void CThumbnailView::scrollContentsBy(int dx, int dy) {
    viewport()->scroll(dx, dy);
}

void CThumbnailView::mousePressEvent(QMouseEvent* event) {
    const int i = TileAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton) {
        SelectAt(i, event->modifiers() & Qt::ControlModifier,
                 event->modifiers() & Qt::ShiftModifier);
        if (m_preview.HasWindow())
            OpenFocusInPreview();
    } else if (event->button() == Qt::RightButton) {
        // The selection stays as it is; the menu's commands act on it.
        ShowContextMenu(event->globalPosition().toPoint());
    }
    event->accept();
}

void CThumbnailView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_tiles.empty())
        return;
    // Read at every double click, so a change in the settings applies at once.
    const int mode = Settings::Get(Settings::DblClkMode);
    if (mode == 0)
        OpenFocusInPreview();
    else if (mode == 1)
        OpenWithApplication();
}

void CThumbnailView::MoveFocus(int to, bool deselectOld) {
    if (deselectOld)
        SetSelected(m_nFocus, false);
    m_nFocus = to;
    SetSelected(to, true);
    EnsureVisible(to);
    if (m_preview.HasWindow())
        OpenFocusInPreview();
}

void CThumbnailView::keyPressEvent(QKeyEvent* event) {
    const int n = int(m_tiles.size()), k = m_nColumns, f = m_nFocus;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    // The arrow keys move the focus between entries that exist; with none they do nothing.
    if (n == 0 || f < 0 || f >= n) {
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            return;
        default:
            break;
        }
    }
    QScrollBar* vs = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (n > 0)
            OpenFocusInPreview();
        break;
    case Qt::Key_Left:
        if (f > 0)
            MoveFocus(f - 1, !shift);
        break;
    case Qt::Key_Right:
        if (f < n - 1)
            MoveFocus(f + 1, !shift);
        break;
    case Qt::Key_Up:
        if (f >= k)
            MoveFocus(f - k, true);
        break;
    case Qt::Key_Down:
        if (f + k < n)
            MoveFocus(f + k, true);
        break;
    // The page and end keys scroll the grid; the focus and selection stay as they are.
    case Qt::Key_PageUp:
        vs->triggerAction(QAbstractSlider::SliderPageStepSub);
        break;
    case Qt::Key_PageDown:
        vs->triggerAction(QAbstractSlider::SliderPageStepAdd);
        break;
    case Qt::Key_Home:
        vs->triggerAction(QAbstractSlider::SliderToMinimum);
        break;
    case Qt::Key_End:
        vs->triggerAction(QAbstractSlider::SliderToMaximum);
        break;
    default:
        event->ignore();
        return;
    }
    event->accept();
}

void CThumbnailView::ShowContextMenu(QPoint globalPos) {
    if (!m_popup) {
        // The view owns this menu: its items are all enabled and carry no check marks.
        m_popup.reset(Menus::Build(
            Menus::ThumbnailPopup(), nullptr, [this](const MenuItem& item, QMenu* menu) {
                auto* a = new QAction(item.text, menu);
                SetCommandId(a, item.id);
                const unsigned id = item.id;
                connect(a, &QAction::triggered, this, [this, id] { SendCommand(id); });
                return a;
            }));
    }
    m_popup->popup(globalPos);
}

void CThumbnailView::OpenFocusInPreview() {
    if (m_nFocus < 0 || m_nFocus >= int(m_tiles.size()))
        return;
    m_preview.Open(m_tiles[size_t(m_nFocus)]->m_wndImage.m_strPath);
}

void CThumbnailView::OpenWithApplication() {
    if (m_nFocus < 0 || m_nFocus >= int(m_tiles.size()))
        return;
    Desktop::OpenFile(m_tiles[size_t(m_nFocus)]->m_wndImage.m_strPath);
}

QString CThumbnailView::RememberAnchor() const {
    // The entry after the last selected one; when that is the last entry, the nearest unselected
    // entry before the selected run at the end (or the first entry).
    int last = -1;
    for (int i = int(m_tiles.size()) - 1; i >= 0 && last < 0; --i)
        if (m_tiles[size_t(i)]->m_bSelected)
            last = i;
    if (last <= 0)
        return QString();
    int anchor = last + 1;
    if (last == int(m_tiles.size()) - 1) {
        anchor = last;
        while (anchor > 0 && m_tiles[size_t(anchor)]->m_bSelected)
            --anchor;
    }
    return m_tiles[size_t(anchor)]->m_wndImage.m_strPath;
}

void CThumbnailView::ScrollToAnchor(const QString& path) {
    const Layout::ScrollSizes v = Layout::VerticalSizes(int(m_tiles.size()), m_nColumns,
                                                        m_sizeCell.height(), viewport()->height());
    if (v.totalHeight <= viewport()->height())
        return;
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        if (m_tiles[i]->m_wndImage.m_strPath == path) {
            horizontalScrollBar()->setValue(0);
            verticalScrollBar()->setValue(GetCellRect(int(i)).top());
            return;
        }
    }
}

void CThumbnailView::OnConvert() {
    const QString anchor = RememberAnchor();
    std::vector<ConvertBatch::Source> selection;
    for (const auto& t : m_tiles)
        if (t->m_bSelected)
            selection.push_back({t->m_wndImage.m_strPath, t->m_strName});
    if (ConvertBatch::Run(this, FileNames::CurrentDir(), selection) ==
        ConvertBatch::Outcome::Refresh) {
        // The files were written into the folder shown: list it anew, as the refresh command does.
        FillList();
        ScrollToAnchor(anchor);
    }
}

void CThumbnailView::SetThumbnailSize(int cx, int cy) {
    m_sizeThumb = QSize(cx, cy);
    Settings::Write(Settings::ThumbnailSizeX, cx);
    Settings::Write(Settings::ThumbnailSizeY, cy);
    UpdateScrollLayout();
    FillList();
}

void CThumbnailView::OnCustomSize() {
    int w = m_sizeThumb.width(), h = m_sizeThumb.height();
    bool ok;
    if (m_sizeChooser) {
        ok = m_sizeChooser(w, h);
    } else {
        CThumbnailSizeDlg dlg(this);
        dlg.m_nWidth = unsigned(w);
        dlg.m_nHeight = unsigned(h);
        ok = dlg.exec() == QDialog::Accepted;
        w = int(dlg.m_nWidth);
        h = int(dlg.m_nHeight);
    }
    if (ok)
        SetThumbnailSize(w, h);
}

void CThumbnailView::OnFont() {
    // The dialog starts at the font the captions use: the installed face the stored name resolves
    // to ("ＭＳ Ｐゴシック" is drawn with a metric-compatible Japanese face), at its size in
    // points.
    const double dpi = logicalDpiY() > 0 ? logicalDpiY() : 96.0;
    const int storedSize = Settings::Get(Settings::FontSize);
    QFont initial(QFontInfo(m_font).family());
    initial.setPointSizeF(std::max(1, std::abs(storedSize)) * 72.0 / dpi);
    initial.setWeight(m_font.weight());
    initial.setItalic(m_font.italic());
    initial.setUnderline(m_font.underline());
    QFont chosen = initial;
    bool ok;
    if (m_fontChooser)
        ok = m_fontChooser(chosen);
    else
        chosen = QFontDialog::getFont(&ok, initial, this, QStringLiteral("フォント"));
    if (!ok)
        return;
    // What the user left as it was keeps its stored value: the face's own name and the exact
    // height, which a round trip through points could shift.
    const QString face = chosen.family() == initial.family() ? Settings::Get(Settings::FontFaceName)
                                                             : chosen.family();
    int size = storedSize;
    if (chosen.pixelSize() > 0)
        size = -chosen.pixelSize();
    else if (!qFuzzyCompare(chosen.pointSizeF(), initial.pointSizeF()))
        size = -std::max(1, int(std::lround(chosen.pointSizeF() * dpi / 72.0)));
    Settings::Write(Settings::FontFaceName, face);
    Settings::Write(Settings::FontSize, size);
    Settings::Write(Settings::FontWeight, int(chosen.weight()));
    Settings::Write(Settings::FontItalic, chosen.italic() ? 1 : 0);
    Settings::Write(Settings::FontUnderline, chosen.underline() ? 1 : 0);
    // The character set is kept as it was stored.
    Settings::Write(Settings::FontCharSet, Settings::Get(Settings::FontCharSet));
    m_font = MakeFont();
    if (Site())
        Site()->UpdateAllViews(nullptr);
    viewport()->update();
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
    CPreviewWnd::s_bFineMode = !CPreviewWnd::s_bFineMode;
    Settings::Write(Settings::PureMode, CPreviewWnd::s_bFineMode ? 1 : 0);
    FillList();
}

void CThumbnailView::ForwardToTree(unsigned nID) {
    CView* tree = Site() ? Site()->PaneView(Pane::Tree) : nullptr;
    if (!tree)
        return;
    tree->SendCommand(nID);
    if (nID == ID_FOLDER_CREATE)
        tree->Widget()->setFocus(Qt::OtherFocusReason);
}
