// The model that drives the folder tree: the favourites, the desktop with My Documents and My
// Computer, the volumes, and folders read lazily with one level of look-ahead.
//
// Every folder item keeps the folder's exact name (as FileNames gives it) apart from the label
// shown, so that a name that is not UTF-8 is shown readably and still entered by its bytes.
// Favourites and volumes keep their whole path there.
#pragma once

#include <QScopedValueRollback>
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

class CDirTree {
public:
    enum Kind {
        Folder,
        Volume,    // a child of My Computer: its name is the mount point
        Favourite, // a child of the favourites root: its name is the whole path
        FavouritesRoot,
        Desktop,
        MyDocuments,
        MyComputer,
        Placeholder // "*Dummy*": the folder has not been read yet
    };

    void Initialise(QTreeWidget* view, bool showFavourites);
    void Build();
    // Adds the subfolders of `path` under `parent` (one level and a look-ahead), then sorts them.
    // Returns false when the folder cannot be read.
    bool Fill(const QString& path, QTreeWidgetItem* parent);
    // One folder item, last under parent (or after `after`); the folder is not looked at.
    QTreeWidgetItem* InsertFolderItem(const QString& name, QTreeWidgetItem* parent,
                                      QTreeWidgetItem* after = nullptr, Kind kind = Folder);
    QString PathOf(const QTreeWidgetItem* item) const;
    // Gives a folder item its new name after the folder was renamed.
    void SetName(QTreeWidgetItem* item, const QString& name);
    // Reads the item's folders again (nothing for the special items or while not notifying).
    void Refresh(QTreeWidgetItem* item);
    QTreeWidgetItem* Locate(const QString& path);
    // Selects the path's item without acting on the selection change.
    void SelectPath(const QString& path);
    // Selects the item and acts on it once, as a user's selection is acted on.
    void SelectNotify(QTreeWidgetItem* item);

    static QString DesktopPath();
    static QString MyDocumentsPath();
    static Kind KindOf(const QTreeWidgetItem* item);
    bool IsSpecial(const QTreeWidgetItem* item) const;
    bool IsVolume(const QTreeWidgetItem* item) const { return KindOf(item) == Volume; }

    // Selection and expansion are acted on only while notifying; the tree turns it off for the
    // time it selects or rebuilds items itself.
    bool IsNotifying() const { return m_bNotify; }
    [[nodiscard]] QScopedValueRollback<bool> Quiet() {
        return QScopedValueRollback<bool>(m_bNotify, false);
    }
    // What acting on a selection means (set by the view).
    void SetOnSelected(std::function<void(QTreeWidgetItem*)> fn) { m_onSelected = std::move(fn); }
    bool IsBuilt() const { return m_bBuilt; }

    QTreeWidgetItem* DesktopItem() const { return m_desktop; }
    QTreeWidgetItem* FavouritesItem() const { return m_favourites; }
    QTreeWidgetItem* MyDocumentsItem() const { return m_myDocuments; }
    QTreeWidgetItem* MyComputerItem() const { return m_myComputer; }

    // Favourites. Adding, removing and moving one writes the whole list at once, so that a crash
    // or a kill loses none.
    void LoadFavourites();
    void SaveFavourites() const;
    QTreeWidgetItem* AddFavourite(const QString& path);
    QTreeWidgetItem* FindFavourite(const QString& path) const;
    bool IsFavourite(const QTreeWidgetItem* item) const;
    // A favourite whose folder could not be read when it was last looked at (an unplugged drive,
    // a share not mounted): listed and saved all the same, drawn as missing.
    static bool IsMissing(const QTreeWidgetItem* item);
    void MoveSelectedUp();
    void MoveSelectedDown();
    void RemoveSelectedFavourite();
    void ExpandFavourites();

    // Live folders. The folders whose subfolders the tree shows (its expanded folders and the
    // selected one) and the folders holding favourites: what the view watches.
    QStringList FoldersToWatch() const;
    // What another program did in a watched folder: subfolders added, removed and renamed under
    // every item showing that folder (each name looked at once, the items of the others kept with
    // their expansion); a favourite inside it follows a rename and is shown missing when removed.
    // A selection inside a removed folder moves to the folder that held it.
    void ApplyFolderChanges(const QString& folder,
                            const std::vector<std::pair<QString, QString>>& renamed,
                            const QStringList& touched);
    // Reads the folder's subfolders again for every item showing it and brings their children up
    // to date the same way (events lost, a folder that cannot be watched, the refresh command).
    void SyncFolder(const QString& folder);
    // Every folder the tree shows, and the volumes under My Computer, brought up to date.
    void SyncAll();
    // The volumes under My Computer follow the mount table: new mounts appear, unmounted go.
    void SyncVolumes();
    // Who hears that a folder shown was renamed (old path, new path), so that the current folder
    // follows when it lay inside.
    void SetOnRenamed(std::function<void(const QString&, const QString&)> fn) {
        m_onRenamed = std::move(fn);
    }

private:
    QTreeWidgetItem* NewItem(const QString& name, const QString& label, Kind kind,
                             QTreeWidgetItem* parent, QTreeWidgetItem* after);
    void AddPlaceholder(QTreeWidgetItem* parent);
    void SortChildren(QTreeWidgetItem* parent);
    // Reads a favourite's or a volume's folders, or only promises them (a placeholder) when the
    // folder lies on a removable, network or optical volume, which is not touched until opened.
    void FillTop(QTreeWidgetItem* item);
    static void SetMissing(QTreeWidgetItem* item, bool missing);
    void MoveAfter(QTreeWidgetItem* item, QTreeWidgetItem* after);
    // The items whose subfolders are shown: expanded ones and the selection.
    std::vector<QTreeWidgetItem*> ShownItems() const;
    std::vector<QTreeWidgetItem*> ItemsShowing(const QString& folder) const;
    QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& name) const;
    // One subfolder name of the item's folder brought up to date (whether it exists now decides).
    void SyncChild(QTreeWidgetItem* item, const QString& path, const QString& name, bool exists);
    // A new folder item with its look-ahead, in its sorted place.
    void AddChild(QTreeWidgetItem* parent, const QString& path, const QString& name);
    // Deletes an item; when the selection was in it, the parent is selected and acted on.
    void RemoveChild(QTreeWidgetItem* item);
    // Puts the child in its sorted place among its siblings, keeping its expansion.
    void PlaceChild(QTreeWidgetItem* child);
    bool Contains(const QTreeWidgetItem* item, const QTreeWidgetItem* inner) const;
    // A favourite shown missing while its folder is not there, and read again when it is back.
    void SyncFavourite(QTreeWidgetItem* fav);

    QTreeWidget* m_view = nullptr;
    QTreeWidgetItem* m_desktop = nullptr;
    QTreeWidgetItem* m_favourites = nullptr;
    QTreeWidgetItem* m_myDocuments = nullptr;
    QTreeWidgetItem* m_myComputer = nullptr;
    int m_nFillDepth = 0;
    bool m_bNotify = true;
    bool m_bShowFavourites = false;
    QString m_strSection = QStringLiteral("DirTree");
    bool m_bBuilt = false;
    std::function<void(QTreeWidgetItem*)> m_onSelected;
    std::function<void(const QString&, const QString&)> m_onRenamed;
};
