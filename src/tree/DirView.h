// The folder tree, the left pane of the main frame. Choosing a folder makes it the current folder
// of the whole program; the tree also carries out the folder and favourites commands.
#pragma once

#include "platform/DocView.h"
#include "tree/DirTree.h"

#include <QTreeWidget>
#include <memory>

class CFolderWatch;
class CMountWatch;

class CDirView : public QTreeWidget, public CView {
    Q_OBJECT
public:
    explicit CDirView(QWidget* parent = nullptr);
    ~CDirView() override;

    QWidget* Widget() override { return this; }
    void OnInitialUpdate() override;

    CDirTree& Tree() { return m_tree; }
    // The selection's path ("" for My Computer, the favourites root or no selection).
    QString SelectedPath() const { return m_tree.PathOf(currentItem()); }

    void OnUpFolder();
    void OnDriveChange();
    void OnCreateFolder();
    void OnRenameFolder();
    void OnDeleteFolder();
    void OnAddFavourite();
    void OnAddThisFolder();
    void OnRemoveFavourite();

    // Live folders: the folders the tree shows are watched; those that cannot be (the system's
    // limit, a network file system) are read again when the program comes back to the front.
    CFolderWatch& FolderWatch() { return *m_watch; }
    QStringList UnwatchedFolders() const { return m_unwatched; }
    // Watches what the tree shows now (run after every change of the tree, when idle).
    void UpdateWatches();
    void OnActivated();
    // The refresh command: every folder the tree shows read again, and the grid's listing.
    void OnRefresh();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Sends the command on to the thumbnail view, which carries out the file-level commands.
    void ForwardToThumbnails(unsigned nID);
    // The document, the current directory and the other views follow the selected item.
    void OnSelected(QTreeWidgetItem* item);
    // The current folder becomes the path (no folder when it cannot be entered, as for a
    // favourite whose drive is unplugged) and the grid lists it.
    void FollowPath(const QString& path);
    void AddFavouriteKeepingView(const QString& path);
    QString Folder() const;
    // A folder shown was renamed by another program: the current folder follows when inside.
    void FollowRename(const QString& oldPath, const QString& newPath);
    void ScheduleWatchUpdate();

    // Files dropped onto a folder of the tree are copied into it, or moved with Shift held.
    // The folder item under a point of the viewport that takes a drop (none for My Computer,
    // the favourites root and placeholders), and the one shown as the drop's target.
    QTreeWidgetItem* DropTargetAt(QPoint viewportPos) const;
    void ShowDropTarget(QTreeWidgetItem* item);
    void OnDragOver(QDragMoveEvent* event);

    CDirTree m_tree;
    std::unique_ptr<CFolderWatch> m_watch;
    std::unique_ptr<CMountWatch> m_mounts;
    QStringList m_unwatched;
    bool m_bWatchUpdateDue = false;
    QPersistentModelIndex m_dropTarget; // follows the item, and forgets it when it goes
};
