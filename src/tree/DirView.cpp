#include "tree/DirView.h"

#include "app/MainFrame.h"
#include "app/QuillaDoc.h"
#include "app/Settings.h"
#include "platform/MsgBox.h"
#include "platform/Shell.h"
#include "platform/Volumes.h"
#include "platform/WaitCursor.h"
#include "res/Menus.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"
#include "tree/Dialogs.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QHeaderView>
#include <QMenu>
#include <QScrollBar>
#include <QWheelEvent>

CDirView::CDirView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setFocusPolicy(Qt::StrongFocus);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);
    m_tree.m_onSelected = [this](QTreeWidgetItem* item) { OnSelected(item); };

    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* now) {
        if (m_tree.m_bNotify)
            OnSelected(now);
    });
    // Opening and closing both read the folder again.
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (m_tree.m_bNotify)
            m_tree.Refresh(item);
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (m_tree.m_bNotify)
            m_tree.Refresh(item);
    });

    const auto forward = [this](unsigned nID) { ForwardToThumbnails(nID); };
    for (unsigned id : {ID_FILE_COPYTO, ID_FILE_MOVETO, ID_WALLPAPER, ID_SIZE_CUSTOM, ID_VIEW_FONT})
        MapCommandRange(id, id, forward);
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
    MapUpdate(ID_FAV_ADD_THIS, [this](CCmdUI* ui) {
        CQuillaDoc* doc = GetDocument();
        ui->Enable(doc && !doc->m_strFolder.isEmpty() && !m_tree.IsFavourite(currentItem()));
    });
    for (unsigned id : {ID_FAV_REMOVE, ID_FAV_UP, ID_FAV_DOWN})
        MapUpdate(id, [this](CCmdUI* ui) { ui->Enable(m_tree.IsFavourite(currentItem())); });
}

CDirView::~CDirView() {
    // The favourites are written when the tree goes, and only then.
    if (m_tree.m_bBuilt)
        m_tree.SaveFavourites();
    m_tree.m_bNotify = false;
}

CQuillaDoc* CDirView::GetDocument() const {
    return static_cast<CQuillaDoc*>(CView::GetDocument());
}

void CDirView::ForwardToThumbnails(unsigned nID) {
    if (CQuillaDoc* doc = GetDocument())
        if (CThumbnailView* view = doc->GetThumbnailView())
            view->SendCommand(nID);
}

void CDirView::OnSelected(QTreeWidgetItem* item) {
    CQuillaDoc* doc = GetDocument();
    if (!doc)
        return;
    const QString path = m_tree.PathOf(item);
    // An empty path (My Computer, the favourites root) leaves the current directory as it is; a
    // folder that cannot be entered leaves the document as it was.
    if (path.isEmpty())
        doc->m_strFolder.clear();
    else
        doc->SetFolder(path);
    doc->UpdateAllViews(this);
}

void CDirView::FollowPath(const QString& path) {
    if (CQuillaDoc* doc = GetDocument()) {
        doc->SetFolder(path);
        doc->UpdateAllViews(this);
    }
}

void CDirView::OnInitialUpdate() {
    CQuillaDoc* doc = GetDocument();
    if (doc)
        doc->SetFolder(QDir::currentPath());
    CWaitCursor wait;
    const int mode = Settings::Get(Settings::InitMode);
    if (mode == 1)
        QDir::setCurrent(Settings::Get(Settings::InitDir)); // a missing folder leaves it as it was
    m_tree.Initialise(this, true);
    switch (mode) {
    case 0:
    case 1:
        // The document and the grid show the folder chosen at start.
        m_tree.SelectPath(QDir::currentPath());
        if (doc)
            doc->SetFolder(QDir::currentPath());
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
    QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
    if (parent.isEmpty())
        parent = QStringLiteral("/");
    m_tree.SelectPath(parent);
    FollowPath(SelectedPath());
}

void CDirView::OnDriveChange() {
    CDriveDlg dlg(window());
    if (dlg.exec() != QDialog::Accepted)
        return;
    if (dlg.m_nDrive > 0 && dlg.m_nDrive <= dlg.m_roots.size()) {
        const QString root = dlg.m_roots[dlg.m_nDrive - 1];
        QDir::setCurrent(root);
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
    if (dlg.m_strText.isEmpty() || dlg.m_strText.contains(QLatin1Char('/')) ||
        !QDir().mkdir(path)) {
        QuillaMessageBox(this, QStringLiteral("フォルダを作成できません"));
        return;
    }
    if (m_tree.IsSpecial(sel)) {
        // The desktop and My Documents read their folders only when built: add the new one.
        m_tree.InsertFolderItem(path, dlg.m_strText, sel);
    } else {
        m_tree.Refresh(sel);
    }
    sel->setExpanded(true);
}

void CDirView::OnRenameFolder() {
    QTreeWidgetItem* sel = currentItem();
    // Volumes and favourite entries are labelled with whole paths: they are not renamed here.
    if (!sel || m_tree.IsSpecial(sel) || m_tree.IsVolume(sel) || m_tree.IsFavourite(sel))
        return;
    CInputDlg dlg(window());
    dlg.m_strPrompt = QStringLiteral("変更するフォルダ名を入力してください");
    dlg.m_strText = sel->text(0);
    if (dlg.exec() != QDialog::Accepted)
        return;
    const QString oldPath = SelectedPath();
    const QString newPath = oldPath.left(oldPath.lastIndexOf(QLatin1Char('/')) + 1) + dlg.m_strText;
    // Step out of the folder so that it is not in use while it moves.
    QDir::setCurrent(QStringLiteral("/"));
    if (dlg.m_strText.isEmpty() || dlg.m_strText.contains(QLatin1Char('/')) ||
        !QDir().rename(oldPath, newPath)) {
        QDir::setCurrent(oldPath);
        QuillaMessageBox(this, QStringLiteral("フォルダ名を変更できません"));
        return;
    }
    QDir::setCurrent(newPath);
    m_tree.m_bNotify = false;
    sel->setText(0, dlg.m_strText);
    m_tree.m_bNotify = true;
    m_tree.Refresh(sel);
    CQuillaDoc* doc = GetDocument();
    // The listing keeps its entries, which now lie in the renamed folder; the document follows.
    if (doc && doc->m_strFolder == oldPath) {
        doc->m_strFolder = newPath;
        if (CThumbnailView* view = doc->GetThumbnailView())
            view->SendCommand(ID_FOLDER_RENAMED);
    } else {
        QDir::setCurrent(doc ? doc->m_strFolder : newPath);
    }
}

void CDirView::OnDeleteFolder() {
    const QString path = SelectedPath();
    if (path.isEmpty() || !path.contains(QLatin1Char('/')) || Volumes::RootOf(path) == path) {
        QuillaMessageBox(this, QStringLiteral("削除できません"));
        return;
    }
    QString parent = path.left(path.lastIndexOf(QLatin1Char('/')));
    if (parent.isEmpty())
        parent = QStringLiteral("/");
    QDir::setCurrent(parent);
    QTreeWidgetItem* sel = currentItem();
    if (Shell::DeleteToTrash({path}, this) == 0) {
        m_tree.m_bNotify = false;
        delete sel;
        m_tree.m_bNotify = true;
        m_tree.SelectPath(parent);
        FollowPath(SelectedPath().isEmpty() ? parent : SelectedPath());
    } else {
        QuillaMessageBox(this, QStringLiteral("ファイルを削除できませんでした"));
        QDir::setCurrent(path);
        m_tree.SelectPath(path);
        if (CQuillaDoc* doc = GetDocument())
            doc->m_strFolder = SelectedPath();
    }
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
    m_tree.m_bNotify = false;
    m_tree.m_favourites->setExpanded(true);
    setCurrentItem(sel);
    m_tree.m_bNotify = true;
    verticalScrollBar()->setValue(scroll);
}

void CDirView::OnAddThisFolder() {
    if (QuillaMessageBox(this, QStringLiteral("お気に入りに追加しますか？"),
                         MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    AddFavouriteKeepingView(GetDocument() ? GetDocument()->m_strFolder : QString());
}

void CDirView::OnAddFavourite() {
    CFolderPicker picker;
    picker.m_strTitle = QStringLiteral("フォルダ選択");
    if (picker.Run(window()) != 1)
        return;
    AddFavouriteKeepingView(picker.m_strPath);
}

void CDirView::OnRemoveFavourite() {
    const QString folder = GetDocument() ? GetDocument()->m_strFolder : QString();
    if (QuillaMessageBox(
            this,
            folder +
                QStringLiteral(" - お気に入りから削除しますか？\n注：フォルダ自体は削除されません"),
            MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    m_tree.RemoveSelectedFavourite();
}

void CDirView::contextMenuEvent(QContextMenuEvent* event) {
    // The menu belongs to the main frame: its items take their state and reach the active view
    // through the frame's route. The item under the cursor is not selected.
    auto* frame = qobject_cast<CMainFrame*>(window());
    if (!frame)
        return;
    QMenu menu(this);
    for (const MenuItem& item : Menus::TreePopup().items) {
        if (item.IsSeparator()) {
            menu.addSeparator();
            continue;
        }
        QAction* a = menu.addAction(item.text);
        SetCommandId(a, item.id);
    }
    frame->UpdateMenu(&menu);
    if (QAction* chosen = menu.exec(event->globalPos()))
        frame->Router().Execute(CommandIdOf(chosen));
}

void CDirView::wheelEvent(QWheelEvent* event) {
    // Over the thumbnail grid the wheel scrolls the grid, not the tree.
    CQuillaDoc* doc = GetDocument();
    CThumbnailView* grid = doc ? doc->GetThumbnailView() : nullptr;
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
