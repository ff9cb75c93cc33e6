#include "tree/DirTree.h"

#include "app/Settings.h"
#include "platform/MsgBox.h"
#include "platform/Profile.h"
#include "platform/Volumes.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTreeWidget>
#include <algorithm>
#include <dirent.h>

namespace {

constexpr int kKindRole = Qt::UserRole + 1;

const QFileIconProvider& Icons() {
    static QFileIconProvider provider;
    return provider;
}

// A path and a name joined with one "/".
QString Join(const QString& path, const QString& name) {
    return path.endsWith(QLatin1Char('/')) ? path + name : path + QLatin1Char('/') + name;
}

// The subfolders of a folder, hidden ones included. With `firstOnly` the look-ahead stops at the
// first one found.
QStringList SubFolders(const QString& path, bool firstOnly) {
    QStringList out;
    DIR* dir = ::opendir(QFile::encodeName(path).constData());
    if (!dir)
        return out;
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_name[0] == '.' &&
            (d->d_name[1] == 0 || (d->d_name[1] == '.' && d->d_name[2] == 0)))
            continue;
        const QString name = QFile::decodeName(d->d_name);
        bool isDir = d->d_type == DT_DIR;
        if (d->d_type == DT_UNKNOWN || d->d_type == DT_LNK)
            isDir = QFileInfo(Join(path, name)).isDir();
        if (!isDir)
            continue;
        out << name;
        if (firstOnly)
            break;
    }
    ::closedir(dir);
    return out;
}

} // namespace

CDirTree::Kind CDirTree::KindOf(const QTreeWidgetItem* item) {
    return item ? Kind(item->data(0, kKindRole).toInt()) : Folder;
}

bool CDirTree::IsSpecial(const QTreeWidgetItem* item) const {
    return item && (item == m_desktop || item == m_favourites || item == m_myDocuments ||
                    item == m_myComputer);
}

bool CDirTree::IsVolume(const QTreeWidgetItem* item) const {
    return item && item->parent() == m_myComputer && m_myComputer;
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

QTreeWidgetItem* CDirTree::NewItem(const QString& label, Kind kind, const QString& iconPath,
                                   QTreeWidgetItem* parent, QTreeWidgetItem* after) {
    QTreeWidgetItem* item;
    if (parent)
        item = after ? new QTreeWidgetItem(parent, after) : new QTreeWidgetItem(parent);
    else
        item = new QTreeWidgetItem(m_view);
    item->setText(0, label);
    item->setData(0, kKindRole, int(kind));
    if (kind == MyComputer)
        item->setIcon(0, Icons().icon(QFileIconProvider::Computer));
    else if (kind == Desktop)
        item->setIcon(0, Icons().icon(QFileIconProvider::Desktop));
    else if (kind != Placeholder)
        item->setIcon(0, iconPath.isEmpty() ? Icons().icon(QFileIconProvider::Folder)
                                            : Icons().icon(QFileInfo(iconPath)));
    return item;
}

void CDirTree::AddPlaceholder(QTreeWidgetItem* parent) {
    NewItem(QStringLiteral("*Dummy*"), Placeholder, QString(), parent, nullptr);
}

QTreeWidgetItem* CDirTree::InsertFolderItem(const QString& path, const QString& label,
                                            QTreeWidgetItem* parent, QTreeWidgetItem* after) {
    // A folder the system gives no information for gets no item.
    if (!QFileInfo(path).isDir())
        return nullptr;
    return NewItem(label, Folder, path, parent, after);
}

void CDirTree::Build() {
    m_view->clear();
    m_desktop = m_favourites = m_myDocuments = m_myComputer = nullptr;
    if (m_bShowFavourites)
        LoadFavourites();
    m_desktop = NewItem(QStringLiteral("デスクトップ"), Desktop, QString(), nullptr, nullptr);
    m_myDocuments = NewItem(QStringLiteral("マイ ドキュメント"), MyDocuments, MyDocumentsPath(),
                            m_desktop, nullptr);
    m_myComputer = NewItem(QStringLiteral("マイ コンピュータ"), MyComputer, QString(), m_desktop,
                           m_myDocuments);
    m_nFillDepth = 0;
    Fill(DesktopPath(), m_desktop);
    m_nFillDepth = 0;
    Fill(MyDocumentsPath(), m_myDocuments);
    const std::vector<Volumes::Volume> volumes = Volumes::List();
    if (volumes.empty())
        QuillaMessageBox(m_view, QStringLiteral("ドライブ取得エラー"));
    for (const Volumes::Volume& v : volumes) {
        QTreeWidgetItem* drive = NewItem(v.root, Folder, v.root, m_myComputer, nullptr);
        drive->setIcon(0, Icons().icon(QFileIconProvider::Drive));
        if (v.lazy) {
            AddPlaceholder(drive); // not read until it is opened
        } else {
            m_nFillDepth = 0;
            Fill(v.root, drive);
        }
    }
    const bool notify = m_bNotify;
    m_bNotify = false;
    m_desktop->setExpanded(true);
    m_bNotify = notify;
    m_bBuilt = true;
}

void CDirTree::Fill(const QString& path, QTreeWidgetItem* parent) {
    ++m_nFillDepth;
    const QStringList names = SubFolders(path, m_nFillDepth > 1);
    for (const QString& name : names) {
        if (m_nFillDepth > 1) {
            AddPlaceholder(parent);
            break;
        }
        const QString child = Join(path, name);
        if (QTreeWidgetItem* item = InsertFolderItem(child, name, parent))
            Fill(child, item);
    }
    --m_nFillDepth;
    SortChildren(parent);
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
        const QString label = it->text(0);
        result = result.isEmpty() ? label : Join(label, result);
        const QTreeWidgetItem* parent = it->parent();
        if (!parent || parent == m_myComputer || parent == m_favourites)
            break;
        if (parent == m_myDocuments || parent == m_desktop)
            return Join(PathOf(parent), result);
    }
    return result;
}

void CDirTree::Refresh(QTreeWidgetItem* item) {
    if (!m_bNotify || !item || IsSpecial(item))
        return;
    qDeleteAll(item->takeChildren());
    m_nFillDepth = 0;
    Fill(PathOf(item), item);
}

QTreeWidgetItem* CDirTree::Locate(const QString& path) {
    if (path.isEmpty())
        return nullptr;
    const QString desktop = DesktopPath(), docs = MyDocumentsPath();
    if (path == desktop)
        return m_desktop;
    if (path == docs)
        return m_myDocuments;
    QTreeWidgetItem* at;
    QString rest;
    const auto under = [&](const QString& base) {
        return path.startsWith(base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/'));
    };
    if (under(desktop)) {
        at = m_desktop;
        rest = path.mid(desktop.size()).section(QLatin1Char('/'), 0, -1, QString::SectionSkipEmpty);
    } else if (under(docs)) {
        at = m_myDocuments;
        rest = path.mid(docs.size()).section(QLatin1Char('/'), 0, -1, QString::SectionSkipEmpty);
    } else {
        // Under My Computer the first component is the volume holding the path.
        const QString root = Volumes::RootOf(path);
        at = nullptr;
        for (int i = 0; m_myComputer && i < m_myComputer->childCount(); ++i)
            if (m_myComputer->child(i)->text(0) == root)
                at = m_myComputer->child(i);
        if (!at)
            return nullptr;
        rest = path.mid(root.size()).section(QLatin1Char('/'), 0, -1, QString::SectionSkipEmpty);
    }
    for (const QString& part : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (at->childCount() == 0)
            return nullptr;
        if (KindOf(at->child(0)) == Placeholder) {
            const bool notify = m_bNotify;
            m_bNotify = true;
            Refresh(at);
            m_bNotify = notify;
        }
        QTreeWidgetItem* found = nullptr;
        // The exact name first; a name differing only in case when there is no exact one.
        for (int i = 0; i < at->childCount() && !found; ++i)
            if (!IsSpecial(at->child(i)) && at->child(i)->text(0) == part)
                found = at->child(i);
        for (int i = 0; i < at->childCount() && !found; ++i)
            if (!IsSpecial(at->child(i)) &&
                at->child(i)->text(0).compare(part, Qt::CaseInsensitive) == 0)
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
    m_bNotify = false;
    for (QTreeWidgetItem* p = item->parent(); p; p = p->parent())
        p->setExpanded(true);
    m_view->setCurrentItem(item);
    m_view->scrollToItem(item);
    m_bNotify = true;
}

// ---- favourites ------------------------------------------------------------------------------

void CDirTree::LoadFavourites() {
    m_favourites =
        NewItem(QStringLiteral("お気に入り"), FavouritesRoot, QString(), nullptr, nullptr);
    m_favourites->setIcon(0, Icons().icon(QFileIconProvider::Folder));
    const int count = Profile::GetInt(m_strSection, QStringLiteral("FavoritesCount"), 0);
    for (int i = 1; i <= count; ++i) {
        const QString path =
            Profile::GetString(m_strSection, QString::fromLatin1(Settings::FavoritesEntry).arg(i),
                               QString::fromUtf16(Settings::FavoritesDefault));
        if (QTreeWidgetItem* item = InsertFolderItem(path, path, m_favourites)) {
            m_nFillDepth = 0;
            Fill(path, item);
        }
    }
    m_favourites->setExpanded(true);
}

void CDirTree::SaveFavourites() const {
    if (!m_favourites)
        return;
    const int n = m_favourites->childCount();
    Profile::WriteInt(m_strSection, QStringLiteral("FavoritesCount"), n);
    for (int i = 0; i < n; ++i)
        Profile::WriteString(m_strSection, QString::fromLatin1(Settings::FavoritesEntry).arg(i + 1),
                             m_favourites->child(i)->text(0));
}

QTreeWidgetItem* CDirTree::FindFavourite(const QString& path) const {
    for (int i = 0; m_favourites && i < m_favourites->childCount(); ++i)
        if (m_favourites->child(i)->text(0).compare(path, Qt::CaseInsensitive) == 0)
            return m_favourites->child(i);
    return nullptr;
}

QTreeWidgetItem* CDirTree::AddFavourite(const QString& path) {
    if (!m_favourites || path.isEmpty() || !QFileInfo::exists(path) || FindFavourite(path))
        return nullptr;
    QTreeWidgetItem* item = InsertFolderItem(
        path, path, m_favourites,
        m_favourites->childCount() ? m_favourites->child(m_favourites->childCount() - 1) : nullptr);
    if (item) {
        m_nFillDepth = 0;
        Fill(path, item);
    }
    return item;
}

bool CDirTree::IsFavourite(const QTreeWidgetItem* item) const {
    return item && m_favourites && item->parent() == m_favourites;
}

QTreeWidgetItem* CDirTree::MoveAfter(QTreeWidgetItem* item, QTreeWidgetItem* after) {
    // Taken out and put in again after `after`: the same label and icons, its folders read anew.
    const QString label = item->text(0);
    QTreeWidgetItem* parent = item->parent();
    delete item;
    QTreeWidgetItem* again = InsertFolderItem(label, label, parent, after);
    if (again) {
        m_nFillDepth = 0;
        Fill(label, again);
    }
    return again;
}

void CDirTree::MoveSelectedUp() {
    QTreeWidgetItem* sel = m_view->currentItem();
    if (!IsFavourite(sel))
        return;
    const int i = m_favourites->indexOfChild(sel);
    if (i <= 0)
        return;
    m_bNotify = false;
    MoveAfter(m_favourites->child(i - 1), sel);
    m_view->setCurrentItem(sel);
    m_bNotify = true;
}

void CDirTree::MoveSelectedDown() {
    QTreeWidgetItem* sel = m_view->currentItem();
    if (!IsFavourite(sel))
        return;
    const int i = m_favourites->indexOfChild(sel);
    if (i < 0 || i + 1 >= m_favourites->childCount())
        return;
    QTreeWidgetItem* next = m_favourites->child(i + 1);
    m_bNotify = false;
    QTreeWidgetItem* again = MoveAfter(sel, next);
    m_bNotify = true;
    if (again)
        SelectNotify(again); // the listing follows
}

void CDirTree::SelectNotify(QTreeWidgetItem* item) {
    m_bNotify = false;
    m_view->setCurrentItem(item);
    m_bNotify = true;
    if (m_onSelected)
        m_onSelected(item);
}

void CDirTree::RemoveSelectedFavourite() {
    QTreeWidgetItem* sel = m_view->currentItem();
    if (!IsFavourite(sel))
        return;
    const int i = m_favourites->indexOfChild(sel);
    QTreeWidgetItem* next = i > 0                                ? m_favourites->child(i - 1)
                            : i + 1 < m_favourites->childCount() ? m_favourites->child(i + 1)
                                                                 : m_favourites;
    m_bNotify = false;
    delete sel;
    m_bNotify = true;
    SelectNotify(next);
}
