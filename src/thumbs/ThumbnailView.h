// The thumbnail grid, the right pane of the main frame: the image files of the current folder.
#pragma once

#include "platform/DocView.h"

#include <QAbstractScrollArea>
#include <QSize>

class CQuillaDoc;

class CThumbnailView : public QAbstractScrollArea, public CView {
    Q_OBJECT
public:
    explicit CThumbnailView(QWidget* parent = nullptr);

    QWidget* Widget() override { return this; }
    CQuillaDoc* GetDocument() const;

    void OnInitialUpdate() override;
    void OnUpdate(CView* pSender, long lHint, void* pHint) override;

    // Lists the current folder completely.
    void FillList();
    // Orders the entries by the sort key and order.
    void SortList();
    // Moves every entry to the cell of its index.
    void PlaceTiles();
    // Recomputes the cell size, the column count and the scroll sizes.
    void UpdateScrollLayout();

    // Loads the picture of the first entry that has none; returns false when every entry has
    // one (the idle loader then lets the program become idle).
    bool LoadNextPicture();

    // The thumbnail size set by the size commands (width × height).
    QSize ThumbnailSize() const { return m_sizeThumb; }
    int SortMode() const { return m_nSortMode; }
    bool SortAscending() const { return m_bSortAscend != 0; }
    int GetFocusIndex() const { return m_nFocus; }

    // Fine mode: thumbnails at 32 bits per pixel, sharpened. One flag for the whole process.
    static bool FineMode() { return s_bFineMode; }

private:
    void SetThumbnailSize(int cx, int cy);
    void SetSortMode(int nMode);
    void ToggleSortOrder();
    void ToggleFineMode();
    // Sends a folder-level command on to the folder tree.
    void ForwardToTree(unsigned nID);

    QSize m_sizeThumb;
    QSize m_sizeCell;
    int m_nColumns = 1;
    int m_nSortMode = 0;
    int m_bSortAscend = 1;
    int m_nFocus = 0;

    static bool s_bFineMode;
};
