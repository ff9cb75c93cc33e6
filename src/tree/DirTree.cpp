#include "tree/DirTree.h"

#include "platform/DirList.h"
#include "platform/FileNames.h"
#include "platform/Files.h"
#include "platform/MsgBox.h"
#include "platform/Profile.h"
#include "platform/Settings.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <QTreeWidget>
#include <algorithm>

namespace {

constexpr int kKindRole = Qt::UserRole + 1;
constexpr int kNameRole = Qt::UserRole + 2;    // the exact name (or whole path) of the folder
constexpr int kMissingRole = Qt::UserRole + 3; // a favourite whose folder could not be read

const QFileIconProvider& Icons() {
    static QFileIconProvider provider;
    return provider;
}

// A path and a name joined with one "/".
QString Join(const QString& path, const QString& name) {
    return path.endsWith(QLatin1Char('/')) ? path + name : path + QLatin1Char('/') + name;
}

QString NameOf(const QTreeWidgetItem* item) {
    return item->data(0, kNameRole).toString();
}

} // namespace

CDirTree::Kind CDirTree::KindOf(const QTreeWidgetItem* item) {
    return item ? Kind(item->data(0, kKindRole).toInt()) : Folder;
}

bool CDirTree::IsSpecial(const QTreeWidgetItem* item) const {
    return item && (item == m_desktop || item == m_favourites || item == m_myDocuments ||
                    item == m_myComputer);
}

QString CDirTree::DesktopPath() {
    const QString p = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return QFileInfo(p).isDir() ? p : QDir::homePath();
}

QString CDirTree::MyDocumentsPath() {
    const QString p = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QFileInfo(p).isDir() ? p : QDir::homePath();
}

void CDirTree::Initialise(QTreeWidget* view, bool showFavourites) {
    m_view = view;
    m_bShowFavourites = showFavourites;
    Build();
}

QTreeWidgetItem* CDirTree::NewItem(const QString& name, const QString& label, Kind kind,
                                   QTreeWidgetItem* parent, QTreeWidgetItem* after) {
    QTreeWidgetItem* item;
    if (parent)
        item = after ? new QTreeWidgetItem(parent, after) : new QTreeWidgetItem(parent);
    else
        item = new QTreeWidgetItem(m_view);
    item->setText(0, label);
    item->setData(0, kKindRole, int(kind));
    item->setData(0, kNameRole, name);
    // Icons come from the kind alone: no folder is asked anything for its icon.
    switch (kind) {
    case MyComputer:
        item->setIcon(0, Icons().icon(QFileIconProvider::Computer));
        break;
    case Desktop:
        item->setIcon(0, Icons().icon(QFileIconProvider::Desktop));
        break;
    case Volume:
        item->setIcon(0, Icons().icon(QFileIconProvider::Drive));
        break;
    case Placeholder:
        break;
    default:
        item->setIcon(0, Icons().icon(QFileIconProvider::Folder));
        break;
    }
    return item;
}

void CDirTree::AddPlaceholder(QTreeWidgetItem* parent) {
    NewItem(QString(), QStringLiteral("*Dummy*"), Placeholder, parent, nullptr);
}

QTreeWidgetItem* CDirTree::InsertFolderItem(const QString& name, QTreeWidgetItem* parent,
                                            QTreeWidgetItem* after, Kind kind) {
    return NewItem(name, FileNames::Display(name), kind, parent, after);
}

void CDirTree::Build() {
    const auto quiet = Quiet();
    m_view->clear();
    m_desktop = m_favourites = m_myDocuments = m_myComputer = nullptr;
    if (m_bShowFavourites)
        LoadFavourites();
    m_desktop = NewItem(QString(), QStringLiteral("デスクトップ"), Desktop, nullptr, nullptr);
    m_myDocuments =
        NewItem(QString(), QStringLiteral("マイ ドキュメント"), MyDocuments, m_desktop, nullptr);
    m_myComputer = NewItem(QString(), QStringLiteral("マイ コンピュータ"), MyComputer, m_desktop,
                           m_myDocuments);
    m_nFillDepth = 0;
    Fill(DesktopPath(), m_desktop);
    m_nFillDepth = 0;
    Fill(MyDocumentsPath(), m_myDocuments);
    const std::vector<Volumes::Volume> volumes = Volumes::List();
    if (volumes.empty())
        QuillaMessageBox(m_view, QStringLiteral("ドライブ取得エラー"));
    for (const Volumes::Volume& v : volumes)
        FillTop(InsertFolderItem(v.root, m_myComputer, nullptr, Volume));
    m_desktop->setExpanded(true);
    m_bBuilt = true;
}

bool CDirTree::Fill(const QString& path, QTreeWidgetItem* parent) {
    ++m_nFillDepth;
    QStringList names;
    const bool readable = DirList::SubFolders(path, m_nFillDepth > 1, names);
    for (const QString& name : names) {
        if (m_nFillDepth > 1) {
            AddPlaceholder(parent);
            break;
        }
        QTreeWidgetItem* item = InsertFolderItem(name, parent);
        Fill(Join(path, name), item);
    }
    --m_nFillDepth;
    SortChildren(parent);
    return readable;
}

void CDirTree::FillTop(QTreeWidgetItem* item) {
    const QString path = NameOf(item);
    const QString root = Volumes::RootOf(path);
    if (Volumes::IsLazy(root)) {
        AddPlaceholder(item);
        return;
    }
    m_nFillDepth = 0;
    const bool readable = Fill(path, item);
    if (KindOf(item) == Favourite)
        SetMissing(item, !readable);
}

void CDirTree::SortChildren(QTreeWidgetItem* parent) {
    QList<QTreeWidgetItem*> kids = parent->takeChildren();
    // Special items (My Documents, My Computer) stay first; folders by name, ignoring case.
    std::stable_sort(kids.begin(), kids.end(), [this](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        const bool sa = IsSpecial(a), sb = IsSpecial(b);
        if (sa != sb)
            return sa;
        if (sa)
            return false;
        return a->text(0).compare(b->text(0), Qt::CaseInsensitive) < 0;
    });
    parent->addChildren(kids);
}

QString CDirTree::PathOf(const QTreeWidgetItem* item) const {
    if (!item)
        return QString();
    if (item == m_myDocuments)
        return MyDocumentsPath();
    if (item == m_myComputer || item == m_favourites)
        return QString();
    if (item == m_desktop)
        return DesktopPath();
    QString result;
    for (const QTreeWidgetItem* it = item; it; it = it->parent()) {
        const QString name = NameOf(it);
        result = result.isEmpty() ? name : Join(name, result);
        const QTreeWidgetItem* parent = it->parent();
        // Volumes and favourites carry whole paths.
        if (!parent || parent == m_myComputer || parent == m_favourites)
            break;
        if (parent == m_myDocuments || parent == m_desktop)
            return Join(PathOf(parent), result);
    }
    return result;
}

void CDirTree::SetName(QTreeWidgetItem* item, const QString& name) {
    const auto quiet = Quiet();
    item->setData(0, kNameRole, name);
    item->setText(0, FileNames::Display(name));
}

void CDirTree::Refresh(QTreeWidgetItem* item) {
    if (!m_bNotify || !item || IsSpecial(item))
        return;
    // When the selection was among the children, the tree selects another item, and that is
    // acted on as usual (closing the selection's parent selects the parent).
    qDeleteAll(item->takeChildren());
    m_nFillDepth = 0;
    const bool readable = Fill(PathOf(item), item);
    if (KindOf(item) == Favourite)
        SetMissing(item, !readable);
}

QTreeWidgetItem* CDirTree::Locate(const QString& path) {
    if (path.isEmpty())
        return nullptr;
    const QString desktop = DesktopPath(), docs = MyDocumentsPath();
    if (path == desktop)
        return m_desktop;
    if (path == docs)
        return m_myDocuments;
    QTreeWidgetItem* at = nullptr;
    QString rest;
    const auto under = [&](const QString& base) {
        return path.startsWith(base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/'));
    };
    if (under(desktop)) {
        at = m_desktop;
        rest = path.mid(desktop.size());
    } else if (under(docs)) {
        at = m_myDocuments;
        rest = path.mid(docs.size());
    } else {
        // Under My Computer the first component is the volume holding the path.
        const QString root = Volumes::RootOf(path);
        for (int i = 0; m_myComputer && i < m_myComputer->childCount(); ++i)
            if (NameOf(m_myComputer->child(i)) == root)
                at = m_myComputer->child(i);
        if (!at)
            return nullptr;
        rest = path.mid(root.size());
    }
    for (const QString& part : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (at->childCount() == 0)
            return nullptr;
        if (KindOf(at->child(0)) == Placeholder) {
            const QScopedValueRollback<bool> acting(m_bNotify, true);
            Refresh(at);
        }
        QTreeWidgetItem* found = nullptr;
        // The exact name first; a name differing only in case when there is no exact one.
        for (int i = 0; i < at->childCount() && !found; ++i)
            if (!IsSpecial(at->child(i)) && NameOf(at->child(i)) == part)
                found = at->child(i);
        for (int i = 0; i < at->childCount() && !found; ++i)
            if (!IsSpecial(at->child(i)) &&
                NameOf(at->child(i)).compare(part, Qt::CaseInsensitive) == 0)
                found = at->child(i);
        if (!found)
            return nullptr;
        at = found;
    }
    return at;
}

void CDirTree::SelectPath(const QString& path) {
    if (path.isEmpty())
        return;
    QTreeWidgetItem* item = Locate(path);
    if (!item)
        return;
    const auto quiet = Quiet();
    for (QTreeWidgetItem* p = item->parent(); p; p = p->parent())
        p->setExpanded(true);
    m_view->setCurrentItem(item);
    m_view->scrollToItem(item);
}

void CDirTree::SelectNotify(QTreeWidgetItem* item) {
    {
        const auto quiet = Quiet();
        m_view->setCurrentItem(item);
    }
    if (m_onSelected)
        m_onSelected(item);
}

// ---- favourites ------------------------------------------------------------------------------

void CDirTree::LoadFavourites() {
    m_favourites =
        NewItem(QString(), QStringLiteral("お気に入り"), FavouritesRoot, nullptr, nullptr);
    const int count = Settings::Get(Settings::FavoritesCount);
    for (int i = 1; i <= count; ++i) {
        const QString path =
            Profile::GetString(m_strSection, QString::fromLatin1(Settings::FavoritesEntry).arg(i),
                               QString::fromUtf16(Settings::FavoritesDefault));
        // A favourite whose folder is missing now (an unplugged drive, a share not mounted yet)
        // stays in the list, so that it is written back unchanged.
        if (!path.isEmpty())
            FillTop(InsertFolderItem(path, m_favourites, nullptr, Favourite));
    }
    m_favourites->setExpanded(true);
}

void CDirTree::SaveFavourites() const {
    if (!m_favourites)
        return;
    // The count and the entries in one write, so that they always agree.
    const int n = m_favourites->childCount();
    std::vector<std::pair<QString, QString>> values;
    for (int i = 0; i < n; ++i)
        values.emplace_back(QString::fromLatin1(Settings::FavoritesEntry).arg(i + 1),
                            NameOf(m_favourites->child(i)));
    values.emplace_back(QLatin1String(Settings::FavoritesCount.value), QString::number(n));
    Profile::WriteValues(m_strSection, values);
}

QTreeWidgetItem* CDirTree::FindFavourite(const QString& path) const {
    for (int i = 0; m_favourites && i < m_favourites->childCount(); ++i)
        if (NameOf(m_favourites->child(i)).compare(path, Qt::CaseInsensitive) == 0)
            return m_favourites->child(i);
    return nullptr;
}

QTreeWidgetItem* CDirTree::AddFavourite(const QString& path) {
    if (!m_favourites || path.isEmpty() || !Files::Exists(path) || FindFavourite(path))
        return nullptr;
    const int n = m_favourites->childCount();
    QTreeWidgetItem* item =
        InsertFolderItem(path, m_favourites, n ? m_favourites->child(n - 1) : nullptr, Favourite);
    FillTop(item);
    SaveFavourites();
    return item;
}

bool CDirTree::IsFavourite(const QTreeWidgetItem* item) const {
    return item && m_favourites && item->parent() == m_favourites;
}

bool CDirTree::IsMissing(const QTreeWidgetItem* item) {
    return item && item->data(0, kMissingRole).toBool();
}

void CDirTree::SetMissing(QTreeWidgetItem* item, bool missing) {
    if (IsMissing(item) == missing)
        return;
    item->setData(0, kMissingRole, missing);
    item->setForeground(0, missing ? QBrush(Qt::gray) : QBrush());
    item->setToolTip(0, missing ? QStringLiteral("このフォルダは見つかりません") : QString());
}

void CDirTree::ExpandFavourites() {
    if (!m_favourites)
        return;
    const auto quiet = Quiet();
    m_favourites->setExpanded(true);
}

void CDirTree::MoveAfter(QTreeWidgetItem* item, QTreeWidgetItem* after) {
    // The same item (label, icons, whole path, missing or not) taken out and put back after
    // `after`, its folders read anew and closed.
    const auto quiet = Quiet();
    QTreeWidgetItem* parent = item->parent();
    parent->removeChild(item);
    parent->insertChild(parent->indexOfChild(after) + 1, item);
    item->setExpanded(false);
    qDeleteAll(item->takeChildren());
    FillTop(item);
}

void CDirTree::MoveSelectedUp() {
    QTreeWidgetItem* sel = m_view->currentItem();
    if (!IsFavourite(sel))
        return;
    const int i = m_favourites->indexOfChild(sel);
    if (i <= 0)
        return;
    MoveAfter(m_favourites->child(i - 1), sel);
    SaveFavourites();
    const auto quiet = Quiet();
    m_view->setCurrentItem(sel);
}

void CDirTree::MoveSelectedDown() {
    QTreeWidgetItem* sel = m_view->currentItem();
    if (!IsFavourite(sel))
        return;
    const int i = m_favourites->indexOfChild(sel);
    if (i < 0 || i + 1 >= m_favourites->childCount())
        return;
    MoveAfter(sel, m_favourites->child(i + 1));
    SaveFavourites();
    SelectNotify(sel); // the listing follows
}

void CDirTree::RemoveSelectedFavourite() {
    QTreeWidgetItem* sel = m_view->currentItem();
    if (!IsFavourite(sel))
        return;
    const int i = m_favourites->indexOfChild(sel);
    QTreeWidgetItem* next = i > 0                                ? m_favourites->child(i - 1)
                            : i + 1 < m_favourites->childCount() ? m_favourites->child(i + 1)
                                                                 : m_favourites;
    {
        const auto quiet = Quiet();
        delete sel;
    }
    SaveFavourites();
    SelectNotify(next);
}

// ---- live folders ----------------------------------------------------------------------------

namespace {

// The folder holding a path ("" for the root itself).
QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || path == QLatin1String("/"))
        return QString();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

QString LastName(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

std::vector<QTreeWidgetItem*> CDirTree::ShownItems() const {
    std::vector<QTreeWidgetItem*> out;
    if (!m_view)
        return out;
    // The desktop and My Documents are read once, when the tree is built, and never again on
    // opening: they are shown whether open or not.
    std::vector<QTreeWidgetItem*> stack;
    for (int i = m_view->topLevelItemCount(); i-- > 0;)
        stack.push_back(m_view->topLevelItem(i));
    while (!stack.empty()) {
        QTreeWidgetItem* item = stack.back();
        stack.pop_back();
        if (KindOf(item) == Placeholder)
            continue;
        const bool shown = item->isExpanded() || item == m_desktop || item == m_myDocuments;
        if (shown && item != m_myComputer && item != m_favourites)
            out.push_back(item);
        if (item->isExpanded())
            for (int i = item->childCount(); i-- > 0;)
                stack.push_back(item->child(i));
    }
    QTreeWidgetItem* current = m_view->currentItem();
    if (current && KindOf(current) != Placeholder && current != m_myComputer &&
        current != m_favourites && std::find(out.begin(), out.end(), current) == out.end())
        out.push_back(current);
    return out;
}

std::vector<QTreeWidgetItem*> CDirTree::ItemsShowing(const QString& folder) const {
    // Found before anything changes: bringing one item up to date may delete others of the list
    // of shown items (a selection inside a removed folder), never one showing the same folder.
    std::vector<QTreeWidgetItem*> out;
    for (QTreeWidgetItem* item : ShownItems())
        if (PathOf(item) == folder)
            out.push_back(item);
    return out;
}

QStringList CDirTree::FoldersToWatch() const {
    QStringList out;
    for (QTreeWidgetItem* item : ShownItems()) {
        const QString path = PathOf(item);
        if (!path.isEmpty() && !out.contains(path))
            out << path;
    }
    // A favourite follows its folder's renaming and removal, which its parent folder sees.
    for (int i = 0; m_favourites && i < m_favourites->childCount(); ++i) {
        const QString parent = FolderOf(NameOf(m_favourites->child(i)));
        if (!parent.isEmpty() && !out.contains(parent))
            out << parent;
    }
    return out;
}

QTreeWidgetItem* CDirTree::ChildNamed(QTreeWidgetItem* parent, const QString& name) const {
    for (int i = 0; i < parent->childCount(); ++i) {
        QTreeWidgetItem* c = parent->child(i);
        if (!IsSpecial(c) && KindOf(c) != Placeholder && NameOf(c) == name)
            return c;
    }
    return nullptr;
}

bool CDirTree::Contains(const QTreeWidgetItem* item, const QTreeWidgetItem* inner) const {
    for (const QTreeWidgetItem* it = inner; it; it = it->parent())
        if (it == item)
            return true;
    return false;
}

void CDirTree::PlaceChild(QTreeWidgetItem* child) {
    QTreeWidgetItem* parent = child->parent();
    if (!parent)
        return;
    // Taking the item out forgets the expansion of everything in it: noted and given back.
    std::vector<QTreeWidgetItem*> expanded, stack{child};
    while (!stack.empty()) {
        QTreeWidgetItem* it = stack.back();
        stack.pop_back();
        if (it->isExpanded())
            expanded.push_back(it);
        for (int i = 0; i < it->childCount(); ++i)
            stack.push_back(it->child(i));
    }
    QTreeWidgetItem* current = m_view->currentItem();
    const auto quiet = Quiet();
    parent->removeChild(child);
    int at = 0;
    for (; at < parent->childCount(); ++at) {
        const QTreeWidgetItem* other = parent->child(at);
        if (!IsSpecial(other) && child->text(0).compare(other->text(0), Qt::CaseInsensitive) < 0)
            break;
    }
    parent->insertChild(at, child);
    for (QTreeWidgetItem* it : expanded)
        it->setExpanded(true);
    if (current)
        m_view->setCurrentItem(current);
}

void CDirTree::AddChild(QTreeWidgetItem* parent, const QString& path, const QString& name) {
    const auto quiet = Quiet();
    QTreeWidgetItem* item = InsertFolderItem(name, parent);
    // The look-ahead only: whether the new folder has folders of its own.
    m_nFillDepth = 1;
    Fill(Join(path, name), item);
    m_nFillDepth = 0;
    PlaceChild(item);
}

void CDirTree::RemoveChild(QTreeWidgetItem* item) {
    QTreeWidgetItem* parent = item->parent();
    const bool selected = Contains(item, m_view->currentItem());
    {
        const auto quiet = Quiet();
        delete item;
    }
    if (selected && parent)
        SelectNotify(parent);
}

void CDirTree::SyncChild(QTreeWidgetItem* item, const QString& path, const QString& name,
                         bool exists) {
    if (item->childCount() > 0 && KindOf(item->child(0)) == Placeholder) {
        // Not read yet: only whether it still has any folder matters.
        QStringList any;
        if (!exists && DirList::SubFolders(path, true, any) && any.isEmpty()) {
            const auto quiet = Quiet();
            delete item->child(0);
        }
        return;
    }
    QTreeWidgetItem* child = ChildNamed(item, name);
    if (exists && !child)
        AddChild(item, path, name);
    else if (!exists && child)
        RemoveChild(child);
}

void CDirTree::ApplyFolderChanges(const QString& folder,
                                  const std::vector<std::pair<QString, QString>>& renamed,
                                  const QStringList& touched) {
    // Each name is looked at once, whichever items show the folder.
    QHash<QString, bool> isFolder;
    const auto exists = [&](const QString& name) {
        const auto it = isFolder.constFind(name);
        if (it != isFolder.constEnd())
            return *it;
        return *isFolder.insert(name, DirList::IsFolder(Join(folder, name)));
    };
    // Favourites inside the folder follow it first (their paths are whole).
    for (int i = 0; m_favourites && i < m_favourites->childCount(); ++i) {
        QTreeWidgetItem* fav = m_favourites->child(i);
        const QString path = NameOf(fav);
        if (FolderOf(path) != folder)
            continue;
        for (const auto& [from, to] : renamed)
            if (LastName(path) == from && from != to && exists(to)) {
                const QString now = Join(folder, to);
                SetName(fav, now);
                SaveFavourites();
                if (m_onRenamed)
                    m_onRenamed(path, now);
                break;
            }
        if (touched.contains(LastName(NameOf(fav))))
            SyncFavourite(fav);
    }
    for (QTreeWidgetItem* item : ItemsShowing(folder)) {
        for (const auto& [from, to] : renamed) {
            QTreeWidgetItem* child = from == to ? nullptr : ChildNamed(item, from);
            if (!child || !exists(to))
                continue;
            if (QTreeWidgetItem* replaced = ChildNamed(item, to))
                RemoveChild(replaced);
            SetName(child, to);
            PlaceChild(child);
            if (m_onRenamed)
                m_onRenamed(Join(folder, from), Join(folder, to));
        }
        for (const QString& name : touched)
            SyncChild(item, folder, name, exists(name));
    }
}

void CDirTree::SyncFavourite(QTreeWidgetItem* fav) {
    const bool exists = DirList::IsFolder(NameOf(fav));
    if (exists == !IsMissing(fav))
        return;
    const bool selected = Contains(fav, m_view->currentItem());
    {
        const auto quiet = Quiet();
        qDeleteAll(fav->takeChildren());
        SetMissing(fav, !exists);
        if (exists)
            FillTop(fav);
    }
    // A folder shown from inside a favourite that went: the favourite is shown (as nothing).
    if (selected && !exists)
        SelectNotify(fav);
}

void CDirTree::SyncFolder(const QString& folder) {
    for (QTreeWidgetItem* item : ItemsShowing(folder)) {
        QStringList names;
        const bool first = item->childCount() > 0 && KindOf(item->child(0)) == Placeholder;
        DirList::SubFolders(folder, first, names);
        if (first) {
            if (names.isEmpty()) {
                const auto quiet = Quiet();
                delete item->child(0);
            }
            continue;
        }
        QStringList gone;
        for (int i = 0; i < item->childCount(); ++i) {
            QTreeWidgetItem* c = item->child(i);
            if (!IsSpecial(c) && KindOf(c) != Placeholder && !names.contains(NameOf(c)))
                gone << NameOf(c);
        }
        for (const QString& name : gone)
            if (QTreeWidgetItem* c = ChildNamed(item, name))
                RemoveChild(c);
        for (const QString& name : names)
            if (!ChildNamed(item, name))
                AddChild(item, folder, name);
    }
}

void CDirTree::SyncAll() {
    SyncVolumes();
    for (int i = 0; m_favourites && i < m_favourites->childCount(); ++i)
        SyncFavourite(m_favourites->child(i));
    QStringList done;
    for (QTreeWidgetItem* item : ShownItems()) {
        const QString path = PathOf(item);
        if (!path.isEmpty() && !done.contains(path)) {
            done << path;
            SyncFolder(path);
        }
    }
}

void CDirTree::SyncVolumes() {
    if (!m_myComputer)
        return;
    const std::vector<Volumes::Volume> volumes = Volumes::List();
    QStringList roots;
    for (const Volumes::Volume& v : volumes)
        roots << v.root;
    for (int i = m_myComputer->childCount(); i-- > 0;) {
        QTreeWidgetItem* c = m_myComputer->child(i);
        if (!roots.contains(NameOf(c)))
            RemoveChild(c);
    }
    for (int k = 0; k < roots.size(); ++k) {
        if (ChildNamed(m_myComputer, roots[k]))
            continue;
        const auto quiet = Quiet();
        QTreeWidgetItem* item = InsertFolderItem(roots[k], m_myComputer, nullptr, Volume);
        m_myComputer->removeChild(item);
        m_myComputer->insertChild(std::min(k, m_myComputer->childCount()), item);
        FillTop(item);
    }
}
