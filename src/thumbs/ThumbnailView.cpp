#include "thumbs/ThumbnailView.h"

#include "convert/ConvertBatch.h"
#include "imaging/ImageKit.h"
#include "platform/Clipboard.h"
#include "platform/Desktop.h"
#include "platform/DirList.h"
#include "platform/FileNames.h"
#include "platform/MsgBox.h"
#include "platform/PaneSite.h"
#include "platform/Settings.h"
#include "platform/Shell.h"
#include "res/Menus.h"
#include "res/resource.h"
#include "thumbs/FileCommands.h"
#include "thumbs/FileInfoDlg.h"
#include "thumbs/Layout.h"
#include "thumbs/ThumbnailCache.h"
#include "thumbs/ThumbnailSizeDlg.h"
#include "tree/Dialogs.h"

#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDialog>
#include <QGuiApplication>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>
#include <unordered_set>

namespace {

// Drawing objects shared by every tile.
const QColor kFrame(0, 0, 0), kHighlight(255, 255, 255), kShadow(128, 128, 128),
    kBackground(191, 191, 191), kSelection(0, 0, 255);

// How long the first screen of a folder ordered by size or date waits for the order before its
// names are shown in name order (milliseconds): the sizes of a few thousand files are in by then.
constexpr int kPaintHold = 150;
// New files a refresh finds are looked at on the spot up to this many, so that an order by size
// or date places them at once; more are looked at with the others, off the user-interface thread.
constexpr size_t kLookUpNow = 64;
// The room a listing reserves for each name's bytes in the lookup's list (a camera's
// "IMG_1234.JPG" and its NUL take 13).
constexpr size_t kNameBytesHint = 16;

} // namespace

size_t CThumbnailView::s_nSortApartFrom = 20000;

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

    m_nBudget = int64_t(std::max(1, Settings::Get(Settings::ThumbnailMemory))) * 1024 * 1024;
    // The screen's ratio as the window starts (the first listing is made before the first paint).
    m_ratio = viewport()->devicePixelRatioF();
    m_loader = std::make_unique<CThumbnailLoader>([this] { return NextJob(); });
    connect(m_loader.get(), &CThumbnailLoader::Loaded, this, &CThumbnailView::OnLoaded);

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
        for (const auto& t : m_tiles)
            t->m_strDir = dir;
        WatchFolder();
    });
    for (unsigned id : {ID_DRIVE_CHANGE, ID_FOLDER_UP, ID_FOLDER_CREATE})
        MapCommandRange(id, id, [this](unsigned nID) { ForwardToTree(nID); });

    // The file commands.
    MapCommand(ID_FILE_PROPERTIES, [this] {
        if (const CImageTile* t = FocusTile())
            Shell::ShowProperties(t->Path(), this);
    });
    MapCommand(ID_FILE_COPYTO, [this] { CopyOrMoveTo(Shell::FO_COPY); });
    MapCommand(ID_FILE_MOVETO, [this] { CopyOrMoveTo(Shell::FO_MOVE); });
    MapCommand(ID_FILE_DELETE, [this] { OnDelete(); });
    MapCommand(ID_FILE_RENAME, [this] { OnRename(); });
    MapCommand(ID_COPY_FILENAME, [this] { CopyNamesAsText(false); });
    MapCommand(ID_COPY_FULLPATH, [this] { CopyNamesAsText(true); });
    MapCommand(ID_WALLPAPER, [this] {
        if (const CImageTile* t = FocusTile())
            SetWallpaperFromFile(this, t->Path());
    });
    MapCommand(ID_IMAGE_INFO, [this] {
        if (const CImageTile* t = FocusTile())
            ShowImageInformation(this, t->Path(), t->m_strName);
    });
    MapCommand(ID_EDIT_CUT, [this] { OnCut(); });
    MapCommand(ID_EDIT_COPY,
               [this] { Clipboard::PutFiles(SelectedPaths(), Clipboard::DROPEFFECT_COPY); });
    MapCommand(ID_EDIT_PASTE, [this] { OnPaste(); });
    MapCommand(ID_EDIT_SELECT_ALL, [this] { SelectAll(); });
    MapUpdate(ID_EDIT_SELECT_ALL, [this](CCmdUI* ui) { ui->Enable(!m_tiles.empty()); });
    for (unsigned id : {ID_EDIT_CUT, ID_EDIT_COPY})
        MapUpdate(id, [this](CCmdUI* ui) { ui->Enable(!SelectedPaths().isEmpty()); });
    MapUpdate(ID_EDIT_PASTE, [](CCmdUI* ui) { ui->Enable(Clipboard::OffersFiles()); });

    // Renames, moves and deletions carry the shared thumbnail cache's entries along.
    m_oldChangeHook = Shell::SetChangeHook([](const QString& from, const QString& to) {
        if (to.isEmpty())
            ThumbnailCache::Removed(from);
        else
            ThumbnailCache::Moved(from, to);
    });
    viewport()->setAcceptDrops(true);

    // Sizes and dates of a listing, after its first screen.
    m_stats = std::make_unique<CFileStats>();
    connect(m_stats.get(), &CFileStats::Stated, this, &CThumbnailView::OnStated);
    connect(m_stats.get(), &CFileStats::Finished, this, &CThumbnailView::OnStatsFinished);
    m_holdTimer = std::make_unique<QTimer>();
    m_holdTimer->setSingleShot(true);
    m_holdTimer->setInterval(kPaintHold);
    connect(m_holdTimer.get(), &QTimer::timeout, this, [this] { HoldPaint(false); });
    m_sortWorker = std::make_unique<CWorker>();
    m_goneTimer = std::make_unique<QTimer>();
    m_goneTimer->setSingleShot(true);
    connect(m_goneTimer.get(), &QTimer::timeout, this, [this] { m_gone.clear(); });

    // What other programs do in the folder shown.
    m_watch = std::make_unique<CFolderWatch>();
    connect(m_watch.get(), &CFolderWatch::Changed, this, &CThumbnailView::ApplyFolderChanges);
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    OnActivated();
            });
}

CThumbnailView::~CThumbnailView() {
    Shell::SetChangeHook(std::move(m_oldChangeHook));
    // The workers finish (and their pictures are dropped) before the tiles go.
    m_loader.reset();
    m_stats.reset();
    m_sortWorker.reset();
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
    ResetLoading();
    if (m_stats)
        DropLookUp();
    TilePointers().swap(m_statWaiting);
    m_bSortWhenStated = false;
    m_bSorting = false;
    ++m_nSortJob;
    ++m_nListVersion;
    m_nUnplaced = 0;
    m_strAnchor.clear();
    if (m_holdTimer)
        HoldPaint(false);
    m_gone.clear();
    m_tiles.clear();
}

void CThumbnailView::ResetLoading() {
    if (m_loader)
        m_loader->Cancel();
    for (const auto& t : m_tiles)
        t->m_bLoading = false;
    m_byId.clear();
    m_painted.clear();
    m_loaded.clear();
    m_nPictureBytes = 0;
    m_nOrderCursor = 0;
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
    // Known to the engine by its id from the moment it is painted or asked for (not before, so
    // that a large folder costs no index entry per file).
    tile->m_id = m_nNextId++;
    tile->SetName(dir, name);
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
    m_bFocusChosen = false;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    if (Folder().isEmpty()) {
        WatchFolder();
        viewport()->update();
        return;
    }
    const QString dir = CurrentDirWithSlash();
    const auto accept = [](const QString& name) { return IsImageFile(name); };
    // The names alone give the first screen; sizes and dates follow from a worker.
    LookUpList list;
    // Room for the whole folder at once: a large one's lists are not copied as they grow.
    if (const size_t hint = DirList::EntriesHint(dir)) {
        m_tiles.reserve(hint);
        list.tiles.reserve(hint);
        list.names.bytes.reserve(hint * kNameBytesHint);
    }
    DirList::ForEachName(dir, accept, [&](const DirList::Entry& e, const char* native) {
        auto tile = NewTile(dir, e.name, e.size, e.mtime);
        if (!e.stated) {
            tile->m_bStated = false;
            list.Add(*tile, native);
        }
        // Placed while it is at hand (the order does not change a tile's window).
        CreateTileWindow(*tile);
        m_tiles.push_back(std::move(tile));
    });
    if (OrderUsesStats() && list.names.count > 0) {
        // The order by size or date needs them all: until they are in, the names stand in name
        // order, and no picture beyond the screen is made for a place that will change.
        SortTiles(m_tiles, 0, m_bSortAscend != 0);
        Reindex();
        m_bSortWhenStated = true;
        HoldPaint(true);
    } else {
        SortList();
    }
    UpdateScrollLayout();
    BeginLookUp(dir, std::move(list), Recheck::Refresh);
    viewport()->update();
    m_loader->Pump();
    WatchFolder();
}

void CThumbnailView::RefreshList() {
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    m_nFocus = 0;
    m_bFocusChosen = false;
    Relist(Recheck::Refresh);
}

void CThumbnailView::Resync() {
    if (Folder().isEmpty())
        return;
    Relist(Recheck::Resync);
}

void CThumbnailView::Relist(Recheck how) {
    const QString dir = CurrentDirWithSlash();
    // The lookup on its way (if any) is replaced by one of every file still there.
    DropLookUp();
    // The first entry of each name, as a linear search finds it, in one pass.
    QHash<QString, size_t> byName;
    byName.reserve(qsizetype(m_tiles.size()));
    for (size_t i = m_tiles.size(); i-- > 0;)
        byName.insert(m_tiles[i]->m_strName, i);
    std::vector<bool> listed(m_tiles.size(), false);
    std::unordered_set<CImageTile*> removed, moved;
    struct Found {
        DirList::Entry entry;
        QByteArray native;
    };
    std::vector<Found> fresh;
    LookUpList list;
    // Names only: the files already shown are looked at by the worker (only links and entries of
    // unknown kind are looked at here, as the listing does).
    DirList::ForEachName(
        dir, [](const QString& name) { return IsImageFile(name); },
        [&](const DirList::Entry& e, const char* native) {
            const auto it = byName.constFind(e.name);
            if (it == byName.constEnd()) {
                fresh.push_back({e, QByteArray(native)});
                return;
            }
            listed[*it] = true;
            CImageTile& t = *m_tiles[*it];
            if (!e.stated)
                list.Add(t, native);
            else if (TakeStat(t, e.size, e.mtime, how) && OrderUsesStats())
                moved.insert(&t);
        });
    for (size_t i = 0; i < m_tiles.size(); ++i)
        if (!listed[i])
            removed.insert(m_tiles[i].get());
    // A few new files are looked at now, so that they take their places at once.
    TileList added;
    const bool lookNow = fresh.size() <= kLookUpNow;
    const auto any = [](const QString&) { return true; };
    for (Found& f : fresh) {
        if (!f.entry.stated && lookNow) {
            const std::optional<DirList::Entry> now = DirList::LookUp(dir, f.entry.name, any);
            if (!now)
                continue; // gone again
            f.entry = *now;
        }
        auto tile = NewTile(dir, f.entry.name, f.entry.size, f.entry.mtime);
        if (!f.entry.stated) {
            tile->m_bStated = false;
            list.Add(*tile, f.native.constData());
        }
        CreateTileWindow(*tile);
        added.push_back(std::move(tile));
    }
    BeginLookUp(dir, std::move(list), how);
    Rearrange(removed, moved, std::move(added));
}

void CThumbnailView::SortList() {
    SortTiles(m_tiles, m_nSortMode, m_bSortAscend != 0);
    // Every tile stands at its place now (one whose size is still unknown, as size 0).
    const bool placeAll = m_nUnplaced > 0;
    m_nUnplaced = 0;
    Reindex(placeAll);
}

void CThumbnailView::Reindex(bool placeAll) {
    ++m_nListVersion;
    m_loaded.clear();
    for (size_t i = 0; i < m_tiles.size(); ++i) {
        m_tiles[i]->m_nIndex = i;
        if (placeAll)
            m_tiles[i]->m_bUnplaced = false;
        if (m_tiles[i]->HasPicture())
            m_loaded.insert(i);
    }
    m_nOrderCursor = 0;
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
    m_bFocusChosen = true;
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

void CThumbnailView::SelectAll() {
    // The focus entry stays where it is.
    for (int k = 0; k < int(m_tiles.size()); ++k)
        SetSelected(k, true);
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

bool CThumbnailView::IsLoading() const {
    return m_loader->IsBusy() || NextJobPending();
}

bool CThumbnailView::NextJobPending() const {
    for (auto it = m_painted.rbegin(); it != m_painted.rend(); ++it) {
        auto found = m_byId.find(it->first);
        if (found != m_byId.end() && found->second->m_nPainted == it->second &&
            found->second->WantsPicture())
            return true;
    }
    if (m_nPictureBytes >= m_nBudget || m_bSortWhenStated)
        return false;
    for (size_t i = m_nOrderCursor; i < m_tiles.size(); ++i)
        if (m_tiles[i]->WantsPicture() && !m_tiles[i]->m_bEvicted)
            return true;
    return false;
}

std::optional<ThumbnailJob> CThumbnailView::NextJob() {
    CImageTile* tile = nullptr;
    // Tiles painted without their picture come first, the most recently painted first.
    while (!tile && !m_painted.empty()) {
        const auto [id, count] = m_painted.back();
        m_painted.pop_back();
        auto found = m_byId.find(id);
        if (found != m_byId.end() && found->second->m_nPainted == count &&
            found->second->WantsPicture())
            tile = found->second;
    }
    // Then the rest in display order, while the memory budget has room; pictures dropped for
    // the budget come back only when they are painted again. While the order waits for the
    // sizes or dates, only what is painted: the places beyond the screen will change.
    if (!tile && m_nPictureBytes < m_nBudget && !m_bSortWhenStated) {
        for (; m_nOrderCursor < m_tiles.size() && !tile; ++m_nOrderCursor) {
            CImageTile* t = m_tiles[m_nOrderCursor].get();
            if (t->WantsPicture() && !t->m_bEvicted)
                tile = t;
        }
    }
    if (!tile)
        return std::nullopt;
    m_byId.emplace(tile->m_id, tile);
    tile->m_bLoading = true;
    return ThumbnailJob{tile->m_id, tile->Path(), tile->m_wndImage.ClientSize(), FineMode(),
                        m_ratio};
}

void CThumbnailView::OnLoaded(const ThumbnailResult& result) {
    auto found = m_byId.find(result.id);
    if (found == m_byId.end()) {
        CImageKit::Release(result.image); // its tile went meanwhile
        return;
    }
    CImageTile* tile = found->second;
    tile->m_bLoading = false;
    if (!result.image) {
        // Remembered, so that the program becomes idle once every tile is loaded or failed.
        tile->m_bFailed = true;
    } else {
        tile->m_wndImage.m_image.Attach(result.image);
        tile->m_wndImage.m_sizeShown = result.shown;
        tile->m_nBytes = tile->m_wndImage.m_image.ByteCount();
        tile->m_bEvicted = false;
        m_nPictureBytes += tile->m_nBytes;
        m_loaded.insert(tile->m_nIndex);
        KeepWithinBudget();
    }
    InvalidateTile(int(tile->m_nIndex));
    if (result.sharpenFailed)
        QuillaMessageBox(this, QStringLiteral("処理が失敗しました"), MB_OK);
}

std::pair<size_t, size_t> CThumbnailView::VisibleRange() const {
    const int h = std::max(1, m_sizeCell.height());
    const size_t cols = size_t(std::max(1, m_nColumns));
    const size_t first = size_t(std::max(0, verticalScrollBar()->value() / h)) * cols;
    const size_t last =
        size_t(std::max(0, (verticalScrollBar()->value() + viewport()->height()) / h) + 1) * cols;
    return {first, last - 1};
}

void CThumbnailView::KeepWithinBudget() {
    const auto [first, last] = VisibleRange();
    while (m_nPictureBytes > m_nBudget && !m_loaded.empty()) {
        // The loaded tile farthest from the visible rows, above or below them.
        const size_t low = *m_loaded.begin(), high = *m_loaded.rbegin();
        const size_t above = low < first ? first - low : 0;
        const size_t below = high > last ? high - last : 0;
        if (above == 0 && below == 0)
            break; // only what is on screen is left
        const size_t i = above >= below ? low : high;
        CImageTile& t = *m_tiles[i];
        m_nPictureBytes -= t.m_nBytes;
        t.m_nBytes = 0;
        t.m_wndImage.m_image.Free();
        t.m_bEvicted = true;
        m_loaded.erase(i);
    }
}

void CThumbnailView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    // The window went to a screen of another device pixel ratio: the pictures are made again for
    // its pixels.
    if (const double ratio = viewport()->devicePixelRatioF(); ratio != m_ratio) {
        m_ratio = ratio;
        RemakePictures();
    }
    if (m_tiles.empty() || m_sizeCell.height() <= 0 || m_bPaintHeld)
        return;
    const size_t queued = m_painted.size();
    const QRect area =
        event->rect().translated(horizontalScrollBar()->value(), verticalScrollBar()->value());
    const int firstRow = std::max(0, area.top() / m_sizeCell.height());
    const int lastRow = area.bottom() / m_sizeCell.height();
    const int64_t n = int64_t(m_tiles.size());
    for (int row = firstRow; row <= lastRow && int64_t(row) * m_nColumns < n; ++row) {
        for (int col = 0; col < m_nColumns; ++col) {
            const int64_t i = int64_t(row) * m_nColumns + col;
            if (i >= n)
                break;
            if (GetCellRect(int(i)).intersects(area))
                PaintTile(p, int(i));
        }
    }
    AskForPainted(queued);
}

void CThumbnailView::AskForPainted(size_t queuedBefore) {
    if (m_painted.size() == queuedBefore)
        return;
    // The tiles of one paint come in display order; a later paint goes before them all.
    std::reverse(m_painted.begin() + qsizetype(queuedBefore), m_painted.end());
    constexpr size_t kMaxRemembered = 4096;
    if (m_painted.size() > kMaxRemembered)
        m_painted.erase(m_painted.begin(),
                        m_painted.begin() + qsizetype(m_painted.size() - kMaxRemembered));
    m_loader->Pump();
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
    // Painting never decodes: a tile without its picture asks for it and shows its frame.
    if (tile->WantsPicture()) {
        tile->m_nPainted = ++m_nPaintCount;
        m_painted.emplace_back(tile->m_id, tile->m_nPainted);
        m_byId.emplace(tile->m_id, tile);
    }
    wnd.DrawCentered(&p, wnd.m_rcWindow.topLeft() + QPoint(1, 1));

    // The name, left-aligned when it is too wide for the caption, else centred; clipped.
    const QRect caption =
        Layout::CaptionRect(cw, ch, tile->m_t).translated(cell.topLeft() + QPoint(1, 1));
    p.resetTransform();
    p.setClipRect(caption.intersected(cell), Qt::ReplaceClip);
    p.setFont(m_font);
    p.setPen(Qt::black);
    const QString text = tile->Caption();
    const int width = QFontMetrics(m_font).horizontalAdvance(text);
    const int align = (width > caption.width() ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignTop;
    p.drawText(caption, align | Qt::TextSingleLine, text);
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
    // A press on a tile may become a drag of the selection.
    m_dragStart = event->button() == Qt::LeftButton && i < int(m_tiles.size())
                      ? std::optional<QPoint>(event->position().toPoint())
                      : std::nullopt;
    m_pendingClick.reset();
    if (event->button() == Qt::LeftButton) {
        const bool ctrl = event->modifiers() & Qt::ControlModifier;
        const bool shift = event->modifiers() & Qt::ShiftModifier;
        // A plain press on a selected tile leaves the selection as it is until the button comes
        // up without a drag, so that the whole selection can be dragged.
        if (!ctrl && !shift && i < int(m_tiles.size()) && m_tiles[size_t(i)]->m_bSelected) {
            m_pendingClick = i;
        } else {
            SelectAt(i, ctrl, shift);
            if (m_preview.HasWindow())
                OpenFocusInPreview();
        }
    } else if (event->button() == Qt::RightButton) {
        // The selection stays as it is; the menu's commands act on it.
        ShowContextMenu(event->globalPosition().toPoint());
    }
    event->accept();
}

CThumbnailView::DragRunner CThumbnailView::s_dragRunner;

void CThumbnailView::mouseReleaseEvent(QMouseEvent* event) {
    m_dragStart.reset();
    if (event->button() != Qt::LeftButton || !m_pendingClick)
        return;
    const int i = *m_pendingClick;
    m_pendingClick.reset();
    SelectAt(i, false, false);
    if (m_preview.HasWindow())
        OpenFocusInPreview();
}

void CThumbnailView::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragStart || !(event->buttons() & Qt::LeftButton)) {
        m_dragStart.reset();
        return;
    }
    if ((event->position().toPoint() - *m_dragStart).manhattanLength() <
        QApplication::startDragDistance())
        return;
    const int i = TileAt(*m_dragStart);
    m_dragStart.reset();
    m_pendingClick.reset(); // a drag, not a click
    if (i < int(m_tiles.size()) && m_tiles[size_t(i)]->m_bSelected)
        DragSelection();
}

void CThumbnailView::DragSelection() {
    const QStringList paths = SelectedPaths();
    if (paths.isEmpty())
        return;
    // The selected files as the file managers take them: copied where they are dropped, moved
    // when Shift is held (the target decides; a file manager moves the files itself).
    auto* drag = new QDrag(this); // deleted by Qt when the drag ends
    drag->setMimeData(Clipboard::MakeFileData(paths, Clipboard::DROPEFFECT_COPY));
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    Qt::DropAction done;
    if (s_dragRunner) {
        done = s_dragRunner(drag->mimeData(), offered);
        drag->deleteLater();
    } else {
        done = drag->exec(offered, Qt::CopyAction);
    }
    // Files moved away (or copied into this folder through the tree) show at once.
    if (done != Qt::IgnoreAction)
        RefreshList();
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
    m_bFocusChosen = true;
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
    m_preview.Open(m_tiles[size_t(m_nFocus)]->Path());
}

void CThumbnailView::OpenWithApplication() {
    if (m_nFocus < 0 || m_nFocus >= int(m_tiles.size()))
        return;
    Desktop::OpenFile(this, m_tiles[size_t(m_nFocus)]->Path());
}

void CThumbnailView::OnConvert() {
    const QString anchor = RememberAnchor();
    std::vector<ConvertBatch::Source> selection;
    for (const auto& t : m_tiles)
        if (t->m_bSelected)
            selection.push_back({t->Path(), t->m_strName});
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
    SortWhenReady();
}

void CThumbnailView::ToggleSortOrder() {
    m_bSortAscend = m_bSortAscend ? 0 : 1;
    Settings::Write(Settings::SortAscend, m_bSortAscend);
    SortWhenReady();
}

void CThumbnailView::SortWhenReady() {
    // Sizes or dates still on their way: the entries keep their order until all are in.
    m_bSortWhenStated = OrderUsesStats() && (m_bLookUp || m_bSorting);
    if (m_bSortWhenStated) {
        if (m_bSorting)
            SortApart(); // the one on its way is for the order before
        return;
    }
    m_bSorting = false;
    SortList();
    PlaceTiles();
}

void CThumbnailView::HoldPaint(bool on) {
    if (on) {
        m_bPaintHeld = true;
        m_holdTimer->start();
        return;
    }
    m_holdTimer->stop();
    if (m_bPaintHeld) {
        m_bPaintHeld = false;
        viewport()->update();
    }
}

// ---- sizes and dates after the listing ---------------------------------------------------------

void CThumbnailView::LookUpList::Add(CImageTile& tile, const char* native) {
    tile.m_nStatSlot = uint32_t(tiles.size());
    tiles.push_back(&tile);
    names.Add(native);
}

void CThumbnailView::ForgetStat(CImageTile& tile) {
    if (!tile.StatPending())
        return;
    if (tile.m_nStatSlot < m_statWaiting.size())
        m_statWaiting[tile.m_nStatSlot] = nullptr;
    tile.m_nStatSlot = CImageTile::kStated;
    if (m_nStatPending > 0)
        --m_nStatPending;
}

void CThumbnailView::BeginLookUp(const QString& dir, LookUpList list, Recheck how) {
    DropLookUp();
    m_recheck = how;
    if (list.names.count == 0) {
        FinishLookUp();
        return;
    }
    m_statWaiting = std::move(list.tiles);
    m_nStatPending = list.names.count;
    m_bLookUp = true;
    m_stats->Start(dir, std::move(list.names));
}

void CThumbnailView::DropLookUp() {
    m_stats->Cancel();
    for (CImageTile* t : m_statWaiting)
        if (t)
            t->m_nStatSlot = CImageTile::kStated;
    TilePointers().swap(m_statWaiting);
    m_nStatPending = 0;
    m_bLookUp = false;
}

bool CThumbnailView::TakeStat(CImageTile& t, uint64_t size, int64_t mtime, Recheck how) {
    if (!t.m_bStated) {
        // Its first size and date. A picture made meanwhile is of the same file.
        t.m_bStated = true;
        t.m_nSize = uint32_t(size);
        t.m_time = mtime;
        return true;
    }
    if (how == Recheck::Refresh) {
        // Replaced by a newer file: it keeps its picture until the next full listing.
        if (mtime <= t.m_time)
            return false;
        t.m_nSize = uint32_t(size);
        t.m_time = mtime;
        return true;
    }
    if (t.m_nSize == uint32_t(size) && t.m_time == mtime)
        return false;
    // Rewritten while its changes were not seen: a new picture.
    t.m_nSize = uint32_t(size);
    t.m_time = mtime;
    ForgetPicture(t);
    return true;
}

void CThumbnailView::OnStated(size_t first, const std::vector<CFileStats::Stat>& stats) {
    std::unordered_set<CImageTile*> removed, moved;
    for (size_t k = 0; k < stats.size() && first + k < m_statWaiting.size(); ++k) {
        CImageTile* t = m_statWaiting[first + k];
        if (!t)
            continue; // known already, or gone
        ForgetStat(*t);
        if (!stats[k].regular)
            removed.insert(t); // removed (or made something else) since the listing
        else if (TakeStat(*t, stats[k].size, stats[k].mtime, m_recheck) && OrderUsesStats())
            moved.insert(t);
    }
    // While the whole order waits, the tiles keep their places until the end.
    if (m_bSortWhenStated)
        moved.clear();
    if (removed.empty() && moved.empty())
        return;
    // A file gone may have been renamed: the watch reports it a moment later, and its tile then
    // comes back under the new name.
    if (IsWatching() && !removed.empty()) {
        m_keepGone = removed;
        m_goneTimer->start(std::max(1000, 4 * m_watch->Delay()));
    }
    Rearrange(removed, moved, {});
    m_keepGone.clear();
}

void CThumbnailView::OnStatsFinished() {
    FinishLookUp();
}

void CThumbnailView::FinishLookUp() {
    // Whatever was not delivered (nothing, unless the lookup was cut short) stays unknown.
    DropLookUp();
    if (m_bSortWhenStated) {
        SortKeepingFocus();
        return;
    }
    if (m_nUnplaced > 0) {
        // Those whose size never came take their places as they are.
        Rearrange({}, {}, {});
    }
    OrderComplete();
}

void CThumbnailView::OrderComplete() {
    if (!m_strAnchor.isEmpty()) {
        const QString anchor = std::exchange(m_strAnchor, QString());
        if (verticalScrollBar()->value() == m_nAnchorScroll)
            ScrollToAnchor(anchor);
    }
    HoldPaint(false);
    m_loader->Pump();
}

void CThumbnailView::SortKeepingFocus() {
    if (m_tiles.size() >= s_nSortApartFrom) {
        SortApart();
        return;
    }
    const CImageTile* focus = m_bFocusChosen ? FocusTile() : nullptr;
    m_bSortWhenStated = false;
    SortList();
    if (focus)
        m_nFocus = int(focus->m_nIndex);
    PlaceTiles();
    OrderComplete();
}

void CThumbnailView::SortApart() {
    // The keys are copied here; the sort itself runs on the worker.
    m_bSorting = true;
    const int mode = m_nSortMode;
    const bool ascending = m_bSortAscend != 0;
    auto order = std::make_shared<CTileOrder>(m_tiles, mode, ascending);
    const uint64_t version = m_nListVersion, job = ++m_nSortJob;
    m_sortWorker->Post([this, order, version, job, mode, ascending] {
        order->Sort();
        QMetaObject::invokeMethod(
            this,
            [this, order, version, job, mode, ascending] {
                OnSortedApart(*order, version, job, mode, ascending);
            },
            Qt::QueuedConnection);
    });
}

void CThumbnailView::OnSortedApart(const CTileOrder& order, uint64_t version, uint64_t job,
                                   int mode, bool ascending) {
    if (job != m_nSortJob || !m_bSortWhenStated)
        return; // a later listing or order came first
    if (m_bLookUp) {
        // A refresh started another lookup meanwhile: the order is found when it is over.
        m_bSorting = false;
        return;
    }
    if (version != m_nListVersion || mode != m_nSortMode || ascending != (m_bSortAscend != 0)) {
        // The tiles changed meanwhile: found again from what they are now.
        SortApart();
        return;
    }
    const CImageTile* focus = m_bFocusChosen ? FocusTile() : nullptr;
    order.Apply(m_tiles);
    m_nUnplaced = 0;
    Reindex(true);
    m_bSorting = false;
    m_bSortWhenStated = false;
    if (focus)
        m_nFocus = int(focus->m_nIndex);
    PlaceTiles();
    OrderComplete();
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

// ---- file commands -----------------------------------------------------------------------------

const CImageTile* CThumbnailView::FocusTile() const {
    if (m_nFocus < 0 || m_nFocus >= int(m_tiles.size()))
        return nullptr;
    return m_tiles[size_t(m_nFocus)].get();
}

QStringList CThumbnailView::SelectedPaths() const {
    QStringList out;
    for (const auto& t : m_tiles)
        if (t->m_bSelected)
            out << t->Path();
    return out;
}

QString CThumbnailView::RememberAnchor() const {
    // The entry to come back to after the folder's contents change: the one after the last
    // selected entry, or when that is the last, the nearest entry before it not selected.
    const int n = int(m_tiles.size());
    int last = -1;
    for (int i = n - 1; i >= 0 && last < 0; --i)
        if (m_tiles[size_t(i)]->m_bSelected)
            last = i;
    if (last <= 0)
        return QString();
    if (last < n - 1)
        return m_tiles[size_t(last) + 1]->Path();
    for (int i = last - 1; i >= 0; --i)
        if (!m_tiles[size_t(i)]->m_bSelected)
            return m_tiles[size_t(i)]->Path();
    return m_tiles[0]->Path();
}

void CThumbnailView::ScrollToAnchor(const QString& anchor) {
    QScrollBar* vs = verticalScrollBar();
    // When the whole grid fits, or the anchor is gone, the view stays at the top.
    if (anchor.isEmpty() || vs->maximum() <= 0)
        return;
    for (size_t i = 0; i < m_tiles.size(); ++i)
        if (m_tiles[i]->Path() == anchor) {
            vs->setValue(GetCellRect(int(i)).top()); // clamped to the scroll range
            break;
        }
    // Entries still to take their places by size or date may move it: it is looked for again
    // when they have.
    if ((m_bLookUp || m_bSortWhenStated) && OrderUsesStats()) {
        m_strAnchor = anchor;
        m_nAnchorScroll = vs->value();
    }
}

void CThumbnailView::AfterContentsChanged(const QString& anchor) {
    RefreshList();
    ScrollToAnchor(anchor);
}

void CThumbnailView::CopyOrMoveTo(unsigned func) {
    const QStringList paths = SelectedPaths();
    if (paths.isEmpty()) {
        QuillaMessageBox(this, QStringLiteral("ファイルを選択してください"));
        return;
    }
    const QString anchor = RememberAnchor();
    CFolderPicker picker;
    picker.m_strTitle = func == Shell::FO_COPY ? QStringLiteral("コピー先を指定してください")
                                               : QStringLiteral("移動先を指定してください");
    picker.m_bStartAtCurrentDir = true;
    if (picker.Run(this) != 1)
        return;
    Shell::FileOp op;
    op.owner = this;
    op.func = func;
    op.from = paths;
    op.to = picker.m_strPath;
    op.flags = Shell::FOF_ALLOWUNDO | Shell::FOF_RENAMEONCOLLISION;
    Shell::SHFileOperation(op);
    AfterContentsChanged(anchor);
}

void CThumbnailView::OnDelete() {
    const QStringList paths = SelectedPaths();
    if (paths.isEmpty()) {
        QuillaMessageBox(this, QStringLiteral("ファイルを選択してください"));
        return;
    }
    const QString anchor = RememberAnchor();
    Shell::FileOp op;
    op.owner = this;
    op.func = Shell::FO_DELETE;
    op.from = paths;
    op.flags = Shell::FOF_ALLOWUNDO;
    // The result is not looked at: the refresh shows what is left.
    Shell::SHFileOperation(op);
    AfterContentsChanged(anchor);
}

void CThumbnailView::OnRename() {
    const CImageTile* focus = FocusTile();
    if (!focus)
        return;
    const int index = m_nFocus;
    if (const std::optional<QString> renamed = RenameFileWithDialog(this, focus->Path())) {
        // The entry takes the new name and keeps its picture.
        if (index < int(m_tiles.size())) {
            CImageTile& t = *m_tiles[size_t(index)];
            t.SetPath(*renamed);
            ++m_nListVersion; // an order on its way compared the old name
            // The lookup on its way is for the old name.
            ForgetStat(t);
            if (!t.m_bStated) {
                const auto any = [](const QString&) { return true; };
                if (const auto e = DirList::LookUp(t.m_strDir, t.m_strName, any)) {
                    t.m_bStated = true;
                    t.m_nSize = uint32_t(e->size);
                    t.m_time = e->mtime;
                }
            }
            InvalidateTile(index);
        }
    }
}

void CThumbnailView::CopyNamesAsText(bool fullPaths) {
    QStringList items;
    for (const auto& t : m_tiles)
        if (t->m_bSelected)
            items << FileNames::Display(fullPaths ? t->Path() : t->m_strName);
    if (items.isEmpty())
        return; // the clipboard keeps what it holds
    Clipboard::PutText(Clipboard::JoinLines(items));
}

void CThumbnailView::OnCut() {
    const QStringList paths = SelectedPaths();
    if (paths.isEmpty())
        return;
    const QString anchor = RememberAnchor();
    Clipboard::PutFiles(paths, Clipboard::DROPEFFECT_MOVE);
    AfterContentsChanged(anchor);
}

void CThumbnailView::OnPaste() {
    const QString anchor = RememberAnchor();
    Clipboard::Paste(Folder(), this);
    AfterContentsChanged(anchor);
}

void CThumbnailView::dragEnterEvent(QDragEnterEvent* event) {
    if (Clipboard::MimeOffersFiles(event->mimeData()) && !Folder().isEmpty() && !IsOwnDrag(event)) {
        // A drop always copies, whatever the source prefers.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    event->ignore();
}

void CThumbnailView::dragMoveEvent(QDragMoveEvent* event) {
    if (Clipboard::MimeOffersFiles(event->mimeData()) && !Folder().isEmpty() && !IsOwnDrag(event)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    event->ignore();
}

bool CThumbnailView::IsOwnDrag(const QDropEvent* event) const {
    // Tiles dragged and let go over the grid again stay where they are.
    return event->source() == this;
}

void CThumbnailView::dropEvent(QDropEvent* event) {
    if (!Clipboard::MimeOffersFiles(event->mimeData()) || Folder().isEmpty() || IsOwnDrag(event)) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    Clipboard::Drop(event->mimeData(), Folder(), this);
    RefreshList();
}

// ---- live folder -------------------------------------------------------------------------------

void CThumbnailView::WatchFolder() {
    const QString folder = Folder().isEmpty() ? QString() : FileNames::CurrentDir();
    if (folder == m_strWatched && (folder.isEmpty() || m_watch->IsWatching(folder)))
        return;
    if (!m_strWatched.isEmpty())
        m_watch->Unwatch(m_strWatched);
    m_strWatched = folder;
    m_bUnwatched = !folder.isEmpty() && !m_watch->Watch(folder);
}

void CThumbnailView::OnActivated() {
    if (m_strWatched.isEmpty() || !m_bUnwatched)
        return;
    // Watching may have become possible meanwhile (watches freed elsewhere).
    m_bUnwatched = !m_watch->Watch(m_strWatched);
    Resync();
}

void CThumbnailView::ApplyFolderChanges(const CFolderWatch::Changes& changes) {
    if (changes.folder != m_strWatched || m_strWatched.isEmpty())
        return;
    if (changes.gone) {
        // The folder itself was removed or moved away: the tree, which sees it go, chooses what
        // is shown next. Until then the tiles stay, and the folder is looked at again when the
        // window comes back to the front.
        m_bUnwatched = true;
        if (DirList::IsFolder(m_strWatched)) {
            m_bUnwatched = !m_watch->Watch(m_strWatched);
            Resync();
        }
        return;
    }
    if (changes.overflow) {
        Resync();
        return;
    }
    // Each name is looked at once, as the listing would take it.
    std::vector<NameState> states;
    states.reserve(size_t(changes.touched.size()));
    const auto accept = [](const QString& name) { return IsImageFile(name); };
    for (const QString& name : changes.touched)
        states.push_back({name, DirList::LookUp(m_strWatched, name, accept)});
    Reconcile(changes.renamed, states);
}

void CThumbnailView::RemakePictures() {
    for (const auto& t : m_tiles) {
        if (!t->HasPicture() && !t->m_bLoading && !t->m_bEvicted && !t->m_bFailed)
            continue;
        t->m_wndImage.m_image.Free();
        t->m_nBytes = 0;
        t->m_bLoading = false;
        t->m_bFailed = false;
        t->m_bEvicted = false;
        // A new id: a picture on its way for the old ratio is thrown away when it comes.
        m_byId.erase(t->m_id);
        t->m_id = m_nNextId++;
    }
    m_loaded.clear();
    m_nPictureBytes = 0;
    m_nOrderCursor = 0;
    m_painted.clear();
    viewport()->update();
}

void CThumbnailView::ForgetPicture(CImageTile& tile) {
    if (tile.HasPicture()) {
        m_nPictureBytes -= tile.m_nBytes;
        tile.m_wndImage.m_image.Free();
    }
    tile.m_nBytes = 0;
    tile.m_bFailed = false;
    tile.m_bEvicted = false;
    tile.m_bLoading = false;
    // A picture on its way is of the old file: under a new id it is thrown away when it comes.
    m_byId.erase(tile.m_id);
    tile.m_id = m_nNextId++;
    // Asked for again in display order, and repainted (as its frame until the picture comes).
    m_loaded.erase(tile.m_nIndex);
    m_nOrderCursor = std::min(m_nOrderCursor, tile.m_nIndex);
    InvalidateTile(int(tile.m_nIndex));
}

void CThumbnailView::Reconcile(const std::vector<std::pair<QString, QString>>& renamed,
                               const std::vector<NameState>& states) {
    const QString dir = CurrentDirWithSlash();
    std::unordered_set<CImageTile*> removed, moved;
    // A few names are looked for one by one; many at once through an index of the names.
    constexpr size_t kIndexFrom = 16;
    const bool indexed = states.size() + renamed.size() > kIndexFrom;
    QHash<QString, CImageTile*> byName;
    if (indexed) {
        byName.reserve(qsizetype(m_tiles.size()));
        for (size_t i = m_tiles.size(); i-- > 0;)
            byName.insert(m_tiles[i]->m_strName, m_tiles[i].get());
    }
    TileList added;
    const auto find = [&](const QString& name) -> CImageTile* {
        if (indexed)
            return byName.value(name, nullptr);
        for (const auto& t : m_tiles)
            if (t->m_strName == name && !removed.count(t.get()))
                return t.get();
        for (const auto& t : added)
            if (t->m_strName == name)
                return t.get();
        return nullptr;
    };
    QHash<QString, const NameState*> stateOf;
    for (const NameState& s : states)
        stateOf.insert(s.name, &s);
    const bool sortsByFile = OrderUsesStats();
    const auto update = [&](CImageTile& t, const DirList::Entry& e, bool renamedOnly) {
        // What the file is now: a lookup still on its way for it no longer applies.
        ForgetStat(t);
        if (!t.m_bStated) {
            // Its size and date were still to come: known now. A picture made meanwhile may be
            // of what the file held before; one made of a file then renamed is its own, but one
            // on its way was asked for under the old name.
            t.m_bStated = true;
            t.m_nSize = uint32_t(e.size);
            t.m_time = e.mtime;
            if (renamedOnly ? t.m_bLoading || t.m_bFailed
                            : t.HasPicture() || t.m_bLoading || t.m_bFailed)
                ForgetPicture(t);
            if (sortsByFile)
                moved.insert(&t);
            return;
        }
        if (t.m_nSize == uint32_t(e.size) && t.m_time == e.mtime)
            return;
        // Rewritten: a new picture, and a new place when the order depends on size or date.
        t.m_nSize = uint32_t(e.size);
        t.m_time = e.mtime;
        ForgetPicture(t);
        if (sortsByFile)
            moved.insert(&t);
    };

    // A renamed file keeps its tile (picture and selection) under its new name; also when the
    // lookup found its old name gone before the watch told of the rename.
    const CImageTile* revivedFocus = nullptr;
    for (const auto& [from, to] : renamed) {
        CImageTile* t = from == to ? nullptr : find(from);
        const NameState* now = stateOf.value(to, nullptr);
        if (!t && now && now->entry && !find(to)) {
            if (auto gone = m_gone.find(from); gone != m_gone.end()) {
                t = gone->second.tile.get();
                if (gone->second.focus)
                    revivedFocus = t;
                m_nPictureBytes += t->m_nBytes;
                t->SetName(dir, to);
                byName.insert(to, t);
                added.push_back(std::move(gone->second.tile));
                m_gone.erase(gone);
                update(*t, *now->entry, true);
                continue;
            }
        }
        if (!t || !now || !now->entry)
            continue; // what the names are now decides below
        if (CImageTile* replaced = find(to); replaced && replaced != t) {
            removed.insert(replaced);
            byName.remove(to);
        }
        byName.remove(from);
        t->SetName(dir, to);
        byName.insert(to, t);
        moved.insert(t);
        update(*t, *now->entry, true);
    }
    for (const NameState& s : states) {
        CImageTile* t = find(s.name);
        if (t && s.entry) {
            update(*t, *s.entry, false);
        } else if (t) {
            removed.insert(t);
            byName.remove(s.name);
        } else if (s.entry) {
            auto tile = NewTile(dir, s.entry->name, s.entry->size, s.entry->mtime);
            CreateTileWindow(*tile);
            byName.insert(s.name, tile.get());
            added.push_back(std::move(tile));
        }
    }
    if (removed.empty() && moved.empty() && added.empty()) {
        viewport()->update();
        m_loader->Pump();
        return;
    }
    Rearrange(removed, moved, std::move(added));
    if (revivedFocus)
        m_nFocus = int(revivedFocus->m_nIndex);
}

void CThumbnailView::Rearrange(const std::unordered_set<CImageTile*>& removed,
                               const std::unordered_set<CImageTile*>& moved, TileList added) {
    // While the whole order waits for the lookup, tiles stay where they are and new ones go to
    // the end: the order is made once all are in.
    const bool wait = m_bSortWhenStated;
    // In an order by size or date, a tile whose size and date are still on their way waits at
    // the end; the others stand in order before them.
    const bool byFile = OrderUsesStats() && !wait;
    const auto unknown = [&](const CImageTile& t) { return byFile && m_bLookUp && !t.m_bStated; };
    const CImageTile* focus = FocusTile();
    // One pass takes out the tiles that went and those that move (with those waiting at the end,
    // which take their places when they are known).
    TileList tail;
    if (!removed.empty() || (!wait && (!moved.empty() || m_nUnplaced > 0))) {
        size_t kept = 0;
        for (size_t i = 0; i < m_tiles.size(); ++i) {
            CImageTile* t = m_tiles[i].get();
            if (removed.count(t)) {
                ForgetStat(*t);
                if (t->m_bUnplaced) {
                    t->m_bUnplaced = false;
                    --m_nUnplaced;
                }
                m_byId.erase(t->m_id);
                m_nPictureBytes -= t->m_nBytes;
                const bool hadFocus = focus == t;
                if (hadFocus)
                    focus = nullptr;
                if (m_keepGone.count(t)) {
                    // A picture on its way for it is dropped when it comes.
                    t->m_bLoading = false;
                    m_gone[t->m_strName] = Gone{std::move(m_tiles[i]), hadFocus};
                }
                m_tiles[i].reset();
            } else if (!wait && (moved.count(t) || t->m_bUnplaced)) {
                if (t->m_bUnplaced) {
                    t->m_bUnplaced = false;
                    --m_nUnplaced;
                }
                added.push_back(std::move(m_tiles[i]));
            } else {
                m_tiles[kept++] = std::move(m_tiles[i]);
            }
        }
        m_tiles.resize(kept);
    }
    if (!added.empty()) {
        if (!wait) {
            // Those whose place is not known yet go to the end (by name among themselves).
            const auto split = std::stable_partition(added.begin(), added.end(),
                                                     [&](const auto& t) { return !unknown(*t); });
            std::move(split, added.end(), std::back_inserter(tail));
            added.erase(split, added.end());
        }
        SortTiles(added, wait ? 0 : m_nSortMode, m_bSortAscend != 0);
        if (wait) {
            std::move(added.begin(), added.end(), std::back_inserter(m_tiles));
        } else {
            // The new and moved tiles, sorted among themselves, merge into their places. Each
            // finds its place by a binary search in what follows the one before it: the
            // comparisons grow with the changes, the moves once with the entries.
            const int mode = m_nSortMode;
            const bool ascending = m_bSortAscend != 0;
            const auto before = [mode, ascending](const std::unique_ptr<CImageTile>& a,
                                                  const std::unique_ptr<CImageTile>& b) {
                return CompareEntries(*a, *b, mode, ascending) < 0;
            };
            TileList merged;
            merged.reserve(m_tiles.size() + added.size() + tail.size());
            auto from = m_tiles.begin();
            for (auto& t : added) {
                const auto to = std::upper_bound(from, m_tiles.end(), t, before);
                std::move(from, to, std::back_inserter(merged));
                merged.push_back(std::move(t));
                from = to;
            }
            std::move(from, m_tiles.end(), std::back_inserter(merged));
            m_tiles = std::move(merged);
        }
    }
    if (!tail.empty()) {
        SortTiles(tail, 0, m_bSortAscend != 0);
        for (auto& t : tail) {
            t->m_bUnplaced = true;
            ++m_nUnplaced;
            m_tiles.push_back(std::move(t));
        }
    }
    Reindex();
    // The focus stays on its entry; when that went, on the place it had.
    const int n = int(m_tiles.size());
    if (focus)
        m_nFocus = int(focus->m_nIndex);
    else
        m_nFocus = n == 0 ? 0 : std::min(m_nFocus, n - 1);
    // The scroll position stays (within the new range).
    UpdateScrollLayout();
    viewport()->update();
    m_loader->Pump();
}
