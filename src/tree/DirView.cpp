#include "tree/DirView.h"

#include "platform/Clipboard.h"
#include "platform/FileNames.h"
#include "platform/FolderWatch.h"
#include "platform/MsgBox.h"
#include "platform/PaneSite.h"
#include "platform/Settings.h"
#include "platform/Shell.h"
#include "platform/Volumes.h"
#include "platform/WaitCursor.h"
#include "res/Menus.h"
#include "res/resource.h"
#include "tree/Dialogs.h"

#include <QAbstractScrollArea>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QWheelEvent>

namespace {

// The folder above a path ("/" above a folder of the root).
QString ParentOf(const QString& path) {
    const QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
    return parent.isEmpty() ? QStringLiteral("/") : parent;
}

// The message with its reason on a line of its own.
QString WithReason(const QString& message, const QString& reason) {
    return reason.isEmpty() ? message : message + QLatin1Char('\n') + reason;
}

} // namespace

CDirView::CDirView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setFocusPolicy(Qt::StrongFocus);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    // Folders take dropped files (handled here, not by the item view's own drag and drop).
    viewport()->setAcceptDrops(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    m_tree.SetOnSelected([this](QTreeWidgetItem* item) { OnSelected(item); });

    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* now) {
        if (m_tree.IsNotifying())
            OnSelected(now);
    });
    // Opening and closing both read the folder again.
    connect(this, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem* item) { m_tree.Refresh(item); });
    connect(this, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem* item) { m_tree.Refresh(item); });

    const auto forward = [this](unsigned nID) { ForwardToThumbnails(nID); };
    for (unsigned id : {ID_FILE_COPYTO, ID_FILE_MOVETO, ID_WALLPAPER, ID_SIZE_CUSTOM, ID_VIEW_FONT})
        MapCommandRange(id, id, forward);
    MapCommandRange(ID_EDIT_SELECT_ALL, ID_EDIT_SELECT_ALL, forward);
    MapCommandRange(ID_SIZE_FIRST, ID_SIZE_LAST, forward);
    MapCommandRange(ID_SORT_NAME, ID_SORT_ASCEND, forward);

    MapCommand(ID_FOLDER_UP, [this] { OnUpFolder(); });
    MapCommand(ID_DRIVE_CHANGE, [this] { OnDriveChange(); });
    MapCommand(ID_FOLDER_CREATE, [this] { OnCreateFolder(); });
    MapCommand(ID_FILE_RENAME, [this] { OnRenameFolder(); });
    MapCommand(ID_FILE_DELETE, [this] { OnDeleteFolder(); });
    MapCommand(ID_FAV_ADD, [this] { OnAddFavourite(); });
    MapCommand(ID_FAV_ADD_THIS, [this] { OnAddThisFolder(); });
    MapCommand(ID_FAV_REMOVE, [this] { OnRemoveFavourite(); });
    MapCommand(ID_FAV_UP, [this] { m_tree.MoveSelectedUp(); });
    MapCommand(ID_FAV_DOWN, [this] { m_tree.MoveSelectedDown(); });
    MapCommand(ID_VIEW_REFRESH, [this] { OnRefresh(); });

    // What other programs do in the folders shown, and volumes mounted and unmounted.
    m_watch = std::make_unique<CFolderWatch>();
    connect(m_watch.get(), &CFolderWatch::Changed, this, [this](const CFolderWatch::Changes& c) {
        if (c.overflow)
            m_tree.SyncFolder(c.folder);
        else if (!c.gone)
            m_tree.ApplyFolderChanges(c.folder, c.renamed, c.touched);
        ScheduleWatchUpdate();
    });
    m_mounts = std::make_unique<CMountWatch>();
    connect(m_mounts.get(), &CMountWatch::Changed, this, [this] { m_tree.SyncVolumes(); });
    m_tree.SetOnRenamed(
        [this](const QString& oldPath, const QString& newPath) { FollowRename(oldPath, newPath); });
    connect(model(), &QAbstractItemModel::rowsInserted, this, [this] { ScheduleWatchUpdate(); });
    connect(model(), &QAbstractItemModel::rowsRemoved, this, [this] { ScheduleWatchUpdate(); });
    connect(this, &QTreeWidget::itemExpanded, this, [this] { ScheduleWatchUpdate(); });
    connect(this, &QTreeWidget::itemCollapsed, this, [this] { ScheduleWatchUpdate(); });
    connect(this, &QTreeWidget::currentItemChanged, this, [this] { ScheduleWatchUpdate(); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive)
                    OnActivated();
            });

    MapUpdate(ID_FAV_ADD_THIS, [this](CCmdUI* ui) {
        ui->Enable(!Folder().isEmpty() && !m_tree.IsFavourite(currentItem()));
    });
    for (unsigned id : {ID_FAV_REMOVE, ID_FAV_UP, ID_FAV_DOWN})
        MapUpdate(id, [this](CCmdUI* ui) { ui->Enable(m_tree.IsFavourite(currentItem())); });
}

CDirView::~CDirView() {
    // The favourites are written when the tree goes, as after every change of the list.
    if (m_tree.IsBuilt())
        m_tree.SaveFavourites();
    // Destroying the items must not act on selection changes any more.
    [[maybe_unused]] auto quiet = m_tree.Quiet();
    clear();
}

QString CDirView::Folder() const {
    return Site() ? Site()->Folder() : QString();
}

void CDirView::ForwardToThumbnails(unsigned nID) {
    if (CView* grid = Site() ? Site()->PaneView(Pane::Thumbnails) : nullptr)
        grid->SendCommand(nID);
}

void CDirView::OnSelected(QTreeWidgetItem* item) {
    FollowPath(m_tree.PathOf(item));
}

void CDirView::FollowPath(const QString& path) {
    CPaneSite* site = Site();
    if (!site)
        return;
    // An empty path (My Computer, the favourites root) means no folder and leaves the current
    // directory as it is; a folder that cannot be entered shows nothing either.
    if (!site->SetFolder(path))
        site->SetFolder(QString());
    site->UpdateAllViews(this);
}

void CDirView::OnInitialUpdate() {
    CPaneSite* site = Site();
    if (site)
        site->SetFolder(FileNames::CurrentDir());
    CWaitCursor wait;
    // A folder named on the command line is shown as the start mode "current folder" would show
    // it, for this start only; one that cannot be entered leaves the settings to choose.
    const QString start = site ? site->StartFolder() : QString();
    const bool named = !start.isEmpty() && site->SetFolder(start);
    const int mode = named ? 0 : Settings::Get(Settings::InitMode);
    if (mode == 1 && site)
        site->SetFolder(Settings::Get(Settings::InitDir)); // a missing folder leaves it as it was
    m_tree.Initialise(this, true);
    switch (mode) {
    case 0:
    case 1:
        // The document and the grid show the folder chosen at start.
        m_tree.SelectPath(Folder());
        break;
    case 2:
        OnDriveChange();
        break;
    case 3:
        m_tree.SelectNotify(topLevelItem(0));
        break;
    default:
        break;
    }
}

void CDirView::OnUpFolder() {
    const QString path = SelectedPath();
    if (path.isEmpty())
        return;
    if (Volumes::RootOf(path) == path) { // a volume's root
        OnDriveChange();
        return;
    }
    m_tree.SelectPath(ParentOf(path));
    FollowPath(SelectedPath());
}

void CDirView::OnDriveChange() {
    CDriveDlg dlg(window());
    if (dlg.exec() != QDialog::Accepted)
        return;
    if (dlg.m_nDrive > 0 && dlg.m_nDrive <= dlg.m_roots.size()) {
        const QString root = dlg.m_roots[dlg.m_nDrive - 1];
        m_tree.SelectPath(root);
        if (currentItem())
            currentItem()->setExpanded(true);
        FollowPath(root); // the grid follows the chosen volume at once
    } else if (dlg.m_nDrive < 0) {
        // A network folder becomes a favourite (silently refused when it is one already).
        if (QTreeWidgetItem* item = m_tree.AddFavourite(dlg.m_strNetwork))
            m_tree.SelectNotify(item);
    }
}

void CDirView::OnCreateFolder() {
    QTreeWidgetItem* sel = currentItem();
    const QString base = SelectedPath();
    // Nothing to create a folder in under My Computer or the favourites root.
    if (!sel || base.isEmpty())
        return;
    CInputDlg dlg(window());
    dlg.m_strPrompt = QStringLiteral("フォルダ名を入力してください");
    if (dlg.exec() != QDialog::Accepted)
        return;
    const QString path = base.endsWith(QLatin1Char('/')) ? base + dlg.m_strText
                                                         : base + QLatin1Char('/') + dlg.m_strText;
    // A name that is no single folder name is refused before anything is made.
    QString reason = FileNames::NameProblem(dlg.m_strText);
    if (!reason.isEmpty() || !Shell::MakeFolder(path, &reason)) {
        QuillaMessageBox(this, WithReason(QStringLiteral("フォルダを作成できません"), reason));
        return;
    }
    if (m_tree.IsSpecial(sel)) {
        // The desktop and My Documents read their folders only when built: add the new one.
        m_tree.InsertFolderItem(dlg.m_strText, sel);
    } else {
        m_tree.Refresh(sel);
    }
    sel->setExpanded(true);
}

void CDirView::OnRenameFolder() {
    QTreeWidgetItem* sel = currentItem();
    // The special items are no folders of their own to rename, and volumes and favourite
    // entries are labelled with whole paths: refused before anything is asked.
    if (!sel || m_tree.IsSpecial(sel) || m_tree.IsVolume(sel) || m_tree.IsFavourite(sel)) {
        QuillaMessageBox(this, QStringLiteral("フォルダ名を変更できません"));
        return;
    }
    CInputDlg dlg(window());
    dlg.m_strPrompt = QStringLiteral("変更するフォルダ名を入力してください");
    dlg.m_strText = sel->text(0);
    if (dlg.exec() != QDialog::Accepted)
        return;
    const QString oldPath = SelectedPath();
    const QString newPath = oldPath.left(oldPath.lastIndexOf(QLatin1Char('/')) + 1) + dlg.m_strText;
    // The folder is renamed where it is (a folder in use can be renamed here); an existing folder
    // of the new name is never replaced.
    QString reason = FileNames::NameProblem(dlg.m_strText);
    if (!reason.isEmpty() || !Shell::Rename(oldPath, newPath, &reason)) {
        QuillaMessageBox(this, WithReason(QStringLiteral("フォルダ名を変更できません"), reason));
        return;
    }
    m_tree.SetName(sel, dlg.m_strText);
    m_tree.Refresh(sel);
    // The current folder follows when it was this folder or lay inside it; the listing keeps its
    // entries, which now lie in the renamed folder.
    FollowRename(oldPath, newPath);
}

void CDirView::OnDeleteFolder() {
    QTreeWidgetItem* sel = currentItem();
    const QString path = SelectedPath();
    // The desktop, My Documents, My Computer, the favourites root and the volumes are refused
    // before anything is asked.
    if (!sel || path.isEmpty() || m_tree.IsSpecial(sel) || m_tree.IsVolume(sel) ||
        Volumes::RootOf(path) == path) {
        QuillaMessageBox(this, QStringLiteral("削除できません"));
        return;
    }
    const QString parent = ParentOf(path);
    if (Shell::DeleteToTrash({path}, this) != 0) {
        QuillaMessageBox(this, QStringLiteral("ファイルを削除できませんでした"));
        return;
    }
    {
        const auto quiet = m_tree.Quiet();
        delete sel;
    }
    m_tree.SelectPath(parent);
    const QString now = SelectedPath();
    FollowPath(now.isEmpty() ? parent : now);
}

void CDirView::AddFavouriteKeepingView(const QString& path) {
    QTreeWidgetItem* sel = currentItem();
    const int scroll = verticalScrollBar()->value();
    if (!m_tree.AddFavourite(path)) {
        QuillaMessageBox(this, QStringLiteral("追加できませんでした。すでに追加されていないか、"
                                              "またはパスが存在するか確認してください"));
        return;
    }
    // The tree does not jump: the same selection and the same first visible row.
    m_tree.ExpandFavourites();
    {
        const auto quiet = m_tree.Quiet();
        setCurrentItem(sel);
    }
    verticalScrollBar()->setValue(scroll);
}

void CDirView::OnAddThisFolder() {
    if (QuillaMessageBox(this, QStringLiteral("お気に入りに追加しますか？"),
                         MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    AddFavouriteKeepingView(Folder());
}

void CDirView::OnAddFavourite() {
    CFolderPicker picker;
    picker.m_strTitle = QStringLiteral("フォルダ選択");
    if (picker.Run(window()) != 1)
        return;
    AddFavouriteKeepingView(picker.m_strPath);
}

void CDirView::OnRemoveFavourite() {
    if (QuillaMessageBox(
            this,
            FileNames::Display(Folder()) +
                QStringLiteral(" - お気に入りから削除しますか？\n注：フォルダ自体は削除されません"),
            MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    m_tree.RemoveSelectedFavourite();
}

void CDirView::mousePressEvent(QMouseEvent* event) {
    // The right button selects nothing: the context menu's commands act on the folder shown.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void CDirView::contextMenuEvent(QContextMenuEvent* event) {
    // The menu belongs to the main frame: its items take their state and reach the active view
    // through the frame's route. The item under the cursor is not selected.
    CPaneSite* site = Site();
    if (!site)
        return;
    std::unique_ptr<QMenu> menu(
        Menus::Build(Menus::TreePopup(), nullptr, [](const MenuItem& item, QMenu* m) {
            QAction* a = new QAction(item.text, m);
            SetCommandId(a, item.id);
            return a;
        }));
    site->TrackFramePopup(*menu, event->globalPos());
    event->accept();
}

void CDirView::wheelEvent(QWheelEvent* event) {
    // Over the thumbnail grid the wheel scrolls the grid, not the tree.
    CView* view = Site() ? Site()->PaneView(Pane::Thumbnails) : nullptr;
    auto* grid = view ? qobject_cast<QAbstractScrollArea*>(view->Widget()) : nullptr;
    const QPoint global = event->globalPosition().toPoint();
    if (grid && grid->rect().contains(grid->mapFromGlobal(global))) {
        QWheelEvent forwarded(grid->viewport()->mapFromGlobal(global), event->globalPosition(),
                              event->pixelDelta(), event->angleDelta(), event->buttons(),
                              event->modifiers(), event->phase(), event->inverted());
        QCoreApplication::sendEvent(grid->viewport(), &forwarded);
        event->accept();
        return;
    }
    QTreeWidget::wheelEvent(event);
}

// ---- live folders ----------------------------------------------------------------------------

void CDirView::ScheduleWatchUpdate() {
    if (m_bWatchUpdateDue)
        return;
    m_bWatchUpdateDue = true;
    QTimer::singleShot(0, this, [this] { UpdateWatches(); });
}

void CDirView::UpdateWatches() {
    m_bWatchUpdateDue = false;
    if (!m_tree.IsBuilt())
        return;
    const QStringList wanted = m_tree.FoldersToWatch();
    for (const QString& folder : m_watch->Folders())
        if (!wanted.contains(folder))
            m_watch->Unwatch(folder);
    m_unwatched.clear();
    for (const QString& folder : wanted)
        if (!m_watch->Watch(folder))
            m_unwatched << folder;
}

void CDirView::OnActivated() {
    if (!m_tree.IsBuilt())
        return;
    m_tree.SyncVolumes();
    for (const QString& folder : QStringList(m_unwatched))
        m_tree.SyncFolder(folder);
    UpdateWatches();
}

void CDirView::OnRefresh() {
    m_tree.SyncAll();
    UpdateWatches();
    ForwardToThumbnails(ID_VIEW_REFRESH);
}

void CDirView::FollowRename(const QString& oldPath, const QString& newPath) {
    CPaneSite* site = Site();
    const QString folder = Folder();
    if (!site || folder.isEmpty())
        return;
    if (folder == oldPath || folder.startsWith(oldPath + QLatin1Char('/'))) {
        site->SetFolder(newPath + folder.mid(oldPath.size()));
        if (CView* grid = site->PaneView(Pane::Thumbnails))
            grid->SendCommand(ID_FOLDER_RENAMED);
    }
}

// ---- drops onto the tree --------------------------------------------------------------------

QTreeWidgetItem* CDirView::DropTargetAt(QPoint viewportPos) const {
    QTreeWidgetItem* item = itemAt(viewportPos);
    switch (CDirTree::KindOf(item)) {
    case CDirTree::Folder:
    case CDirTree::Volume:
    case CDirTree::Favourite:
    case CDirTree::Desktop:
    case CDirTree::MyDocuments:
        return m_tree.PathOf(item).isEmpty() ? nullptr : item;
    default:
        return nullptr;
    }
}

void CDirView::ShowDropTarget(QTreeWidgetItem* item) {
    QTreeWidgetItem* shown = m_dropTarget.isValid() ? itemFromIndex(m_dropTarget) : nullptr;
    if (item == shown)
        return;
    if (shown)
        shown->setBackground(0, QBrush());
    m_dropTarget = item ? QPersistentModelIndex(indexFromItem(item)) : QPersistentModelIndex();
    if (item)
        item->setBackground(0, palette().brush(QPalette::Highlight).color().lighter(160));
}

void CDirView::OnDragOver(QDragMoveEvent* event) {
    QTreeWidgetItem* target = DropTargetAt(event->position().toPoint());
    ShowDropTarget(target);
    if (!target || !Clipboard::MimeOffersFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    const bool move =
        (event->modifiers() & Qt::ShiftModifier) && (event->possibleActions() & Qt::MoveAction);
    event->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

void CDirView::dragEnterEvent(QDragEnterEvent* event) {
    if (!Clipboard::MimeOffersFiles(event->mimeData())) {
        event->ignore();
        return;
    }
    // Taken over the whole tree, so that the moves over its items follow (one comes at once);
    // each item says for itself whether it takes the files.
    event->accept();
}

void CDirView::dragMoveEvent(QDragMoveEvent* event) {
    OnDragOver(event);
}

void CDirView::dragLeaveEvent(QDragLeaveEvent* event) {
    ShowDropTarget(nullptr);
    event->accept();
}

void CDirView::dropEvent(QDropEvent* event) {
    QTreeWidgetItem* target = DropTargetAt(event->position().toPoint());
    ShowDropTarget(nullptr);
    const Clipboard::FileList files = Clipboard::FilesFromMime(event->mimeData());
    if (!target || files.paths.isEmpty()) {
        event->ignore();
        return;
    }
    const bool move =
        (event->modifiers() & Qt::ShiftModifier) && (event->possibleActions() & Qt::MoveAction);
    event->setDropAction(move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
    const QString folder = m_tree.PathOf(target);
    Clipboard::Transfer(files.paths, folder,
                        move ? Clipboard::DROPEFFECT_MOVE : Clipboard::DROPEFFECT_COPY, this,
                        files.rejected);
    // The grid shows the folder the files went into as it is now.
    if (folder == Folder())
        ForwardToThumbnails(ID_VIEW_REFRESH);
}
