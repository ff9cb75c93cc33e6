// The model that drives the folder tree: the favourites, the desktop with My Documents and My
// Computer, the volumes, and folders read lazily with one level of look-ahead.
#pragma once

#include <QString>
#include <functional>

class QTreeWidget;
class QTreeWidgetItem;
class CDirView;

class CDirTree {
public:
    enum Kind { Folder, FavouritesRoot, Desktop, MyDocuments, MyComputer, Placeholder };

    void Initialise(QTreeWidget* view, bool showFavourites);
    void Build();
    void Fill(const QString& path, QTreeWidgetItem* parent);
    QTreeWidgetItem* InsertFolderItem(const QString& path, const QString& label,
                                      QTreeWidgetItem* parent, QTreeWidgetItem* after = nullptr);
    QString PathOf(const QTreeWidgetItem* item) const;
    void Refresh(QTreeWidgetItem* item);
    QTreeWidgetItem* Locate(const QString& path);
    // Selects the path's item without acting on the selection change.
    void SelectPath(const QString& path);
    static QString DesktopPath();
    static QString MyDocumentsPath();
    static Kind KindOf(const QTreeWidgetItem* item);
    bool IsSpecial(const QTreeWidgetItem* item) const;
    bool IsVolume(const QTreeWidgetItem* item) const;

    // Favourites.
    void LoadFavourites();
    void SaveFavourites() const;
    QTreeWidgetItem* AddFavourite(const QString& path);
    QTreeWidgetItem* FindFavourite(const QString& path) const;
    bool IsFavourite(const QTreeWidgetItem* item) const;
    void MoveSelectedUp();
    void MoveSelectedDown();
    void RemoveSelectedFavourite();

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
    // Acts on a selection as a user's selection is acted on (set by the view).
    std::function<void(QTreeWidgetItem*)> m_onSelected;
    // Selects the item and acts on it once.
    void SelectNotify(QTreeWidgetItem* item);

private:
    QTreeWidgetItem* NewItem(const QString& label, Kind kind, const QString& iconPath,
                             QTreeWidgetItem* parent, QTreeWidgetItem* after);
    void AddPlaceholder(QTreeWidgetItem* parent);
    void SortChildren(QTreeWidgetItem* parent);
    QTreeWidgetItem* MoveAfter(QTreeWidgetItem* item, QTreeWidgetItem* after);
};
