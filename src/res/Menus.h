// Menus, accelerator table and toolbar layout of the main frame, and the two context menus.
#pragma once

#include <QKeySequence>
#include <QString>
#include <functional>
#include <vector>

class QAction;
class QMenu;
class QWidget;

struct MenuItem {
    unsigned id = 0;             // command ID; 0 for a separator or a submenu
    QString text;                // with "&" before the mnemonic and "\t" before the shortcut text
    std::vector<MenuItem> items; // the submenu's items

    bool IsSeparator() const { return id == 0 && items.empty(); }
    bool IsPopup() const { return !items.empty(); }
};

struct Accelerator {
    QKeySequence key;
    unsigned id;
};

namespace Menus {

// Menu 128: the main menu's top-level popups in order.
const std::vector<MenuItem>& MainMenu();
// Menu 133: the folder tree's popup "ツリー" and the thumbnail grid's popup "サムネイル".
const MenuItem& TreePopup();
const MenuItem& ThumbnailPopup();
// Accelerator table 128.
const std::vector<Accelerator>& Accelerators();
// Toolbar 128, left to right; 0 stands for a separator.
const std::vector<unsigned>& ToolbarButtons();

// Builds a menu (with its submenus) from its table, as a child of `parent`. Every command item
// becomes the action that makeAction returns for it (it carries the command's ID); onMenu, when
// given, sees each menu and submenu made.
QMenu* Build(const MenuItem& popup, QWidget* parent,
             const std::function<QAction*(const MenuItem& item, QMenu* menu)>& makeAction,
             const std::function<void(QMenu*)>& onMenu = {});

} // namespace Menus
