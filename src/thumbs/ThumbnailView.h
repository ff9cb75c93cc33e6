// The thumbnail grid, the right pane of the main frame: the image files of the current folder as
// a scrolling grid of framed tiles with their pictures and names.
#pragma once

#include "platform/DocView.h"
#include "preview/PreviewDlg.h"
#include "thumbs/ImageTile.h"

#include <QAbstractScrollArea>
#include <QFont>
#include <QSize>
#include <memory>
#include <vector>

class QMenu;

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

    int FindTileByName(const QString& name) const;
    int GetSelectedIndices(std::vector<int>& indices) const;
    int GetFocusIndex() const { return m_nFocus; }
    const TileList& Tiles() const { return m_tiles; }
    // The entry under a point of the viewport, or the entry count for empty space.
    int TileAt(QPoint viewportPos) const;

    // The anchor entry of a command that changes the folder's contents, held by its full path
    // ("" for none), and scrolling back to it after the listing.
    QString RememberAnchor() const;
    void ScrollToAnchor(const QString& path);

    // Loads the picture of the first entry in display order that has none (and did not fail
    // before); returns false when there is none left.
    bool LoadNextPicture();
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

    // Which font dialog and size dialog answers to use (tests); empty functions show the dialogs.
    std::function<bool(QFont&)> m_fontChooser;
    std::function<bool(int&, int&)> m_sizeChooser;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void DestroyTiles();
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
    size_t m_nIdleCursor = 0; // every entry before it has a picture or failed
    std::unique_ptr<QMenu> m_popup;
};
