// The thumbnail grid, the right pane of the main frame: the image files of the current folder as
// a scrolling grid of framed tiles with their pictures and names.
#pragma once

#include "platform/DirList.h"
#include "platform/DocView.h"
#include "platform/FileStats.h"
#include "platform/FolderWatch.h"
#include "platform/Worker.h"
#include "preview/PreviewDlg.h"
#include "thumbs/ImageTile.h"
#include "thumbs/ThumbnailLoader.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QSize>
#include <QStringList>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class QMenu;
class QTimer;
class QMimeData;

class CThumbnailView : public QAbstractScrollArea, public CView {
    Q_OBJECT
public:
    explicit CThumbnailView(QWidget* parent = nullptr);
    ~CThumbnailView() override;

    QWidget* Widget() override { return this; }

    void OnInitialUpdate() override;
    void OnUpdate(CView* pSender, long lHint, void* pHint) override;

    // Lists the current folder completely; no picture is loaded.
    void FillList();
    // Brings the entries up to date after a file command, keeping loaded pictures.
    void RefreshList();
    // Orders the entries by the sort key and order.
    void SortList();
    // Puts every entry at the cell of its index, keeping the scroll position.
    void PlaceTiles();
    // Recomputes the cell size, the column count and the scroll sizes.
    void UpdateScrollLayout();
    void CalcCellSize();
    QRect GetCellRect(int i) const;
    void EnsureVisible(int i);
    // Selection by a click on entry i (the entry count for empty space).
    void SelectAt(int i, bool bCtrl, bool bShift);
    // Selects every entry ("すべて選択", Ctrl+A).
    void SelectAll();

    int FindTileByName(const QString& name) const;
    int GetSelectedIndices(std::vector<int>& indices) const;
    int GetFocusIndex() const { return m_nFocus; }
    const TileList& Tiles() const { return m_tiles; }
    // The entry under a point of the viewport, or the entry count for empty space.
    int TileAt(QPoint viewportPos) const;

    // True while the sizes and dates of a listing or a refresh are still being looked up (they
    // come after the first screen, off the user-interface thread; the name order does not need
    // them, an order by size or date is completed when they are in).
    bool SizesPending() const { return m_bLookUp || m_bSortWhenStated; }
    // True while a folder ordered by size or date is shown in name order until its sizes and
    // dates are in.
    bool OrderPending() const { return m_bSortWhenStated; }
    // True while such a first screen waits a moment for its order before it is painted.
    bool PaintHeld() const { return m_bPaintHeld; }
    // From how many entries that order is found on a worker (tests lower it).
    static size_t s_nSortApartFrom;
    CFileStats& FileStats() { return *m_stats; }

    // True while pictures are being made (or the grid has more to ask for).
    bool IsLoading() const;
    CThumbnailLoader& Loader() { return *m_loader; }
    // The memory decoded pictures may hold ("View"/"ThumbnailMemory", in MB); tests set bytes.
    void SetMemoryBudget(int64_t bytes) { m_nBudget = bytes; }
    int64_t MemoryBudget() const { return m_nBudget; }
    int64_t PictureBytes() const { return m_nPictureBytes; }
    // Shows the focus entry in the preview (the open command).
    void OpenFocusInPreview();
    CPreviewDlg& Preview() { return m_preview; }

    QSize ThumbnailSize() const { return m_sizeThumb; }
    QSize CellSize() const { return m_sizeCell; }
    int Columns() const { return m_nColumns; }
    int SortMode() const { return m_nSortMode; }
    bool SortAscending() const { return m_bSortAscend != 0; }
    const QFont& FileNameFont() const { return m_font; }
    // The text height of the font the current geometry was computed with.
    int TextHeight() const { return m_t; }

    static bool FineMode() { return CPreviewWnd::s_bFineMode; }
    // The thumbnail size a size command (33023 to 33034) stands for.
    static QSize SizeOfCommand(unsigned nID);

    // Tests: carries out a drag of the selection in place of the platform's drag loop (the
    // offscreen platform has none): given the data and the actions offered, returns the action
    // the target took. Empty: the platform's.
    using DragRunner = std::function<Qt::DropAction(QMimeData* data, Qt::DropActions actions)>;
    static DragRunner s_dragRunner;

    // Which font dialog and size dialog answers to use (tests); empty functions show the dialogs.
    std::function<bool(QFont&)> m_fontChooser;
    std::function<bool(int&, int&)> m_sizeChooser;

    // The entry to scroll back to after a command that changes the folder's contents ("" for
    // none), and scrolling back to it after the refresh.
    QString RememberAnchor() const;
    void ScrollToAnchor(const QString& anchor);
    // The full paths of the selected entries, in display order.
    QStringList SelectedPaths() const;

    // The folder shown is watched: what other programs do in it reaches the tiles it concerns
    // (ApplyFolderChanges) without the folder being read again; selection, focus, scroll position
    // and the pictures of unchanged files stay.
    void ApplyFolderChanges(const CFolderWatch::Changes& changes);
    // Reads the folder again and brings the entries up to date in the same way (events were lost,
    // or the folder cannot be watched and the window came back to the front). The names are
    // read at once; the sizes and dates of the files already shown are compared after it, off
    // the user-interface thread.
    void Resync();
    // False while the folder shown cannot be watched (the system's limit, a network file system).
    bool IsWatching() const { return !m_strWatched.isEmpty() && !m_bUnwatched; }
    CFolderWatch& FolderWatch() { return *m_watch; }
    // The program came back to the front: a folder that cannot be watched is looked at again.
    void OnActivated();

protected:
    void paintEvent(QPaintEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void DestroyTiles();
    // dir ends in "/"; tiles made from the same dir share its text.
    std::unique_ptr<CImageTile> NewTile(const QString& dir, const QString& name, uint64_t size,
                                        int64_t mtime);
    void CreateTileWindow(CImageTile& tile);
    void PaintTile(QPainter& p, int i);
    void InvalidateTile(int i);
    void SetSelected(int i, bool on);
    void MoveFocus(int to, bool deselectOld);
    void ShowContextMenu(QPoint globalPos);
    QFont MakeFont() const;
    void SetThumbnailSize(int cx, int cy);
    void SetSortMode(int nMode);
    void ToggleSortOrder();
    void ToggleFineMode();
    void OnCustomSize();
    void OnFont();
    void OpenWithApplication();
    void OnConvert();
    void ForwardToTree(unsigned nID);
    QString CurrentDirWithSlash() const;
    QString Folder() const;
    // The thumbnail engine: the next picture to make, in the order of work; a picture made.
    std::optional<ThumbnailJob> NextJob();
    void OnLoaded(const ThumbnailResult& result);
    // A new listing: pictures on their way no longer apply.
    void ResetLoading();
    // After the order or the set of tiles changed: positions, the loaded set and the cursor. With
    // placeAll every tile also stands at its place now (in the same pass: a large folder's tiles
    // are walked once).
    void Reindex(bool placeAll = false);
    // Drops the pictures farthest from the visible rows until the budget holds them.
    void KeepWithinBudget();
    bool NextJobPending() const;
    // After a paint: the tiles it found without picture go to the front of the work.
    void AskForPainted(size_t queuedBefore);
    std::pair<size_t, size_t> VisibleRange() const;
    // The file commands.
    const CImageTile* FocusTile() const;
    void AfterContentsChanged(const QString& anchor);
    void CopyOrMoveTo(unsigned func);
    void OnDelete();
    void OnRename();
    void CopyNamesAsText(bool fullPaths);
    void OnCut();
    void OnPaste();
    // Live folder: the state each name has now (none: not a file the listing takes), applied to
    // the tiles; renamed tiles follow their files with their pictures.
    struct NameState {
        QString name;
        std::optional<DirList::Entry> entry;
    };
    void Reconcile(const std::vector<std::pair<QString, QString>>& renamed,
                   const std::vector<NameState>& states);
    // Watches the folder listed (nothing when it is watched already).
    void WatchFolder();
    // A rewritten file: the tile's picture is made again.
    void ForgetPicture(CImageTile& tile);
    // The screen's device pixel ratio changed: every picture is made again.
    void RemakePictures();
    // Sizes and dates looked up after the listing: applied to the tiles still there; files gone
    // meanwhile leave the grid. The order by size or date asked for meanwhile applies once all
    // are in.
    void OnStated(size_t first, const std::vector<CFileStats::Stat>& stats);
    void OnStatsFinished();
    // The tile's size and date are known (or it goes): the lookup's result no longer applies.
    void ForgetStat(CImageTile& tile);
    // Sorts now, or once every size and date is in when the order needs them.
    void SortWhenReady();
    // What a lookup's result means for a tile whose size and date were known before: after a
    // file command a later date is taken with its size and the picture stays; after lost events
    // any difference is taken, with a new picture.
    enum class Recheck : uint8_t { Refresh, Resync };
    // The names a lookup is to look at, with their tiles.
    struct LookUpList {
        CFileStats::Names names;
        TilePointers tiles;
        void Add(CImageTile& tile, const char* native);
    };
    // Starts looking at the list's names (nothing to look at: the lookup is over at once).
    void BeginLookUp(const QString& dir, LookUpList list, Recheck how);
    // A lookup on its way is dropped; its tiles keep what they knew.
    void DropLookUp();
    // The lookup is over: the order waiting for it is made, the anchor scrolled back to.
    void FinishLookUp();
    // The folder read again by its names (RefreshList, Resync); sizes and dates after it.
    void Relist(Recheck how);
    // A tile whose size or date arrived differs from the one it had: taken (true when it did).
    bool TakeStat(CImageTile& tile, uint64_t size, int64_t mtime, Recheck how);
    bool OrderUsesStats() const { return m_nSortMode == 2 || m_nSortMode == 3; }
    // Takes out the tiles removed and those to move, and puts the moved and the added ones at
    // their places: those whose size or date is still on its way (in an order by them) at the
    // end, the others merged into the order. While the whole order waits (m_bSortWhenStated),
    // added tiles go to the end and the others stay. Selection, focus and scroll position stay.
    void Rearrange(const std::unordered_set<CImageTile*>& removed,
                   const std::unordered_set<CImageTile*>& moved, TileList added);
    // The whole order, once every size and date is in (the focus follows a chosen entry): on a
    // worker for a large folder, the grid staying as it is until it comes.
    void SortKeepingFocus();
    void SortApart();
    void OnSortedApart(const CTileOrder& order, uint64_t version, uint64_t job, int mode,
                       bool ascending);
    // The order waited for is there: the anchor scrolled back to, the screen painted.
    void OrderComplete();
    // The first screen of a folder shown in name order until its sizes or dates are in: painted
    // after a moment, so that a folder whose lookup is quick is never seen in the wrong order.
    void HoldPaint(bool on);

    TileList m_tiles;
    CPreviewDlg m_preview;
    QSize m_sizeThumb;
    QSize m_sizeCell;
    int m_nColumns = 1;
    int m_nSortMode = 0;
    int m_bSortAscend = 1;
    int m_nFocus = 0;
    QFont m_font;
    int m_t = 13;
    // The thumbnail engine's state.
    std::unique_ptr<CThumbnailLoader> m_loader;
    std::unordered_map<uint64_t, CImageTile*> m_byId;
    uint64_t m_nNextId = 1;
    std::vector<std::pair<uint64_t, uint64_t>> m_painted; // (tile id, paint count), newest last
    uint64_t m_nPaintCount = 0;
    size_t m_nOrderCursor = 0; // every entry before it has been asked for in display order
    std::set<size_t> m_loaded; // positions of the tiles holding a picture
    int64_t m_nPictureBytes = 0;
    int64_t m_nBudget = 0;
    double m_ratio = 1; // the device pixel ratio the pictures are made for
    std::function<void(const QString&, const QString&)> m_oldChangeHook;
    std::unique_ptr<QMenu> m_popup;
    std::unique_ptr<CFolderWatch> m_watch;
    std::unique_ptr<CFileStats> m_stats;
    TilePointers m_statWaiting; // by place in the lookup; null once known or gone
    size_t m_nStatPending = 0;
    bool m_bSortWhenStated = false; // the order by size or date waits for the lookup
    bool m_bLookUp = false;         // a lookup is on its way
    Recheck m_recheck = Recheck::Refresh;
    size_t m_nUnplaced = 0;      // the tiles at the end whose place waits for their size or date
    bool m_bFocusChosen = false; // the user moved the focus since the listing
    bool m_bPaintHeld = false;   // the first screen waits a moment for the order
    std::unique_ptr<QTimer> m_holdTimer;
    // The anchor a command scrolled to while the order was not complete, and where it was then:
    // scrolled to again once it is, unless the user scrolled meanwhile.
    QString m_strAnchor;
    int m_nAnchorScroll = 0;
    // Tiles whose file the lookup found gone while the folder is watched: kept (picture,
    // selection) until the watch has had time to report a rename of that name, whose new name
    // then takes the tile back.
    struct Gone {
        std::unique_ptr<CImageTile> tile;
        bool focus = false;
    };
    std::map<QString, Gone> m_gone;
    std::unordered_set<CImageTile*> m_keepGone; // tiles Rearrange moves to m_gone
    std::unique_ptr<QTimer> m_goneTimer;
    // The order of a large folder, found on a worker from a copy of the keys; it applies when the
    // tiles have not changed meanwhile (m_nListVersion counts their changes).
    std::unique_ptr<CWorker> m_sortWorker;
    uint64_t m_nListVersion = 0;
    uint64_t m_nSortJob = 0;
    bool m_bSorting = false;
    QString m_strWatched;      // the folder the watch is for ("" for none)
    bool m_bUnwatched = false; // it could not be watched
    // Dragging the selection out to a file manager, another program or a folder of the tree.
    void DragSelection();
    bool IsOwnDrag(const QDropEvent* event) const;
    std::optional<QPoint> m_dragStart; // where the left button went down on a tile
    std::optional<int> m_pendingClick; // a selected tile pressed: the click acts on release
};
