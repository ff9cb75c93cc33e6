#include "res/Menus.h"

#include "res/resource.h"

#include <QMenu>

namespace {

MenuItem Item(unsigned id, const char16_t* text) {
    return MenuItem{id, QString::fromUtf16(text), {}};
}
MenuItem Sep() {
    return MenuItem{};
}
MenuItem Popup(const char16_t* text, std::vector<MenuItem> items) {
    return MenuItem{0, QString::fromUtf16(text), std::move(items)};
}

} // namespace

namespace Menus {

const std::vector<MenuItem>& MainMenu() {
    static const std::vector<MenuItem> menu = {
        Popup(u"ﾌｧｲﾙ(&F)",
              {
                  Item(ID_FILE_OPEN_IMAGE, u"開く(&O)\tEnter"),
                  Item(ID_FILE_OPEN_APP, u"アプリケーションで開く(&A)"),
                  Item(ID_DRIVE_CHANGE, u"ドライブ変更(&D)...\tL"),
                  Item(ID_FOLDER_UP, u"一つ上のフォルダへ(&U)\tBackSpace"),
                  Item(ID_FILE_COPYTO, u"ファイルのコピー(&C)...\tC"),
                  Item(ID_FILE_MOVETO, u"ファイルの移動(&M)...\tM"),
                  Item(ID_FILE_RENAME, u"ファイル名変更(&N)...\tR"),
                  Item(ID_FILE_DELETE, u"ファイルの削除(&R)...\tDelete"),
                  Item(ID_FOLDER_CREATE, u"フォルダ作成(&K)...\tK"),
                  Item(ID_IMAGE_INFO, u"画像情報(&I)..."),
                  Item(ID_FILE_PROPERTIES, u"プロパティ(&P)..."),
                  Item(ID_APP_EXIT, u"ｱﾌﾟﾘｹｰｼｮﾝの終了(&X)"),
              }),
        Popup(u"編集(&E)",
              {
                  Item(ID_EDIT_CUT, u"切り取り(&X)\tCtrl+X"),
                  Item(ID_EDIT_COPY, u"コピー(&C)\tCtrl+C"),
                  Item(ID_EDIT_PASTE, u"貼り付け(&P)\tCtrl+V"),
                  Item(ID_EDIT_SELECT_ALL, u"すべて選択(&A)\tCtrl+A"),
                  Item(ID_FAV_ADD, u"お気に入り - 追加(&A)..."),
                  Item(ID_FAV_ADD_THIS, u"お気に入り - このﾌｫﾙﾀﾞを追加(&A)"),
                  Item(ID_FAV_REMOVE, u"お気に入り - 削除(&D)"),
                  Item(ID_FAV_UP, u"お気に入り - 一つ上へ(&U)"),
                  Item(ID_FAV_DOWN, u"お気に入り - 一つ下へ(&D)"),
              }),
        Popup(u"表示(&V)",
              {
                  Popup(u"サイズ(&Z)",
                        {
                            Item(ID_SIZE_FIRST, u"32×32"),
                            Item(ID_SIZE_48, u"48×48"),
                            Item(ID_SIZE_64, u"64×64"),
                            Item(ID_SIZE_80, u"80×80"),
                            Item(ID_SIZE_96, u"96×96"),
                            Item(ID_SIZE_100, u"100×100"),
                            Item(ID_SIZE_128, u"128×128"),
                            Item(ID_SIZE_160, u"160×160"),
                            Item(ID_SIZE_240, u"240×240"),
                            Item(ID_SIZE_280, u"280×280"),
                            Item(ID_SIZE_LAST, u"320×320"),
                            Sep(),
                            Item(ID_SIZE_160x120, u"160×120"),
                            Item(ID_SIZE_CUSTOM, u"カスタム(&C)..."),
                        }),
                  Popup(u"整列(&R)",
                        {
                            Item(ID_SORT_NAME, u"ファイル名(&N)"),
                            Item(ID_SORT_EXT, u"拡張子(&K)"),
                            Item(ID_SORT_SIZE, u"サイズ(&S)"),
                            Item(ID_SORT_DATE, u"日付(&D)"),
                            Item(ID_SORT_ASCEND, u"昇順(&A)"),
                        }),
                  Item(ID_VIEW_FONT, u"ファイル名のフォント(&F)..."),
                  Item(ID_VIEW_PUREMODE, u"精細モード(&P)"),
                  Item(ID_VIEW_TOOLBAR, u"ﾂｰﾙ ﾊﾞｰ(&T)"),
                  Item(ID_VIEW_STATUS_BAR, u"ｽﾃｰﾀｽ ﾊﾞｰ(&S)"),
                  Item(ID_VIEW_REFRESH, u"最新の状態に更新(&U)\tF5"),
              }),
        Popup(u"ﾂｰﾙ(&T)",
              {
                  Item(ID_TOOL_CONVERT, u"変換(&S)...\tH"),
                  Item(ID_WALLPAPER, u"壁紙にする(&K)"),
                  Item(ID_COPY_FILENAME, u"ファイル名をコピー(&N)"),
                  Item(ID_COPY_FULLPATH, u"フルパスをコピー(&P)"),
                  Item(ID_TOOL_SETTINGS, u"設定(&S)..."),
              }),
        Popup(u"ﾍﾙﾌﾟ(&H)",
              {
                  Item(ID_HELP_FINDER, u"ヘルプ(&C)\tF1"),
                  Item(ID_HELP_KEYWORD, u"キーワードで検索(&S)"),
                  Item(ID_HELP_USING, u"ヘルプの使い方(&H)"),
                  Item(ID_HELP_HOMEPAGE, u"Norvo Pictoquillのホームページへ(&B)"),
                  Item(ID_HELP_FORUM, u"Norvoサポートフォーラム(&D)"),
                  Popup(u"その他のホームページへ(&U)",
                        {
                            Item(ID_HELP_MAKER, u"Norvoのページへ(&D)"),
                            Item(ID_HELP_SOFTWARE, u"Norvoのソフトのページへ(&W)"),
                        }),
                  Item(ID_HELP_VERSION_CHECK, u"最新バージョンの確認(&V)..."),
                  Item(ID_APP_ABOUT, u"ﾊﾞｰｼﾞｮﾝ情報(&A)..."),
              }),
    };
    return menu;
}

const MenuItem& TreePopup() {
    static const MenuItem popup =
        Popup(u"ツリー", {
                             Item(ID_FOLDER_CREATE, u"フォルダ作成(&K)..."),
                             Item(ID_FILE_RENAME, u"フォルダ名変更(&N)"),
                             Sep(),
                             Item(ID_FAV_ADD_THIS, u"お気に入り - このﾌｫﾙﾀﾞを追加(&A)"),
                             Item(ID_FAV_REMOVE, u"お気に入り - 削除(&D)"),
                             Sep(),
                             Item(ID_FAV_UP, u"お気に入り - 一つ上へ(&U)"),
                             Item(ID_FAV_DOWN, u"お気に入り - 一つ下へ(&D)"),
                         });
    return popup;
}

const MenuItem& ThumbnailPopup() {
    static const MenuItem popup =
        Popup(u"サムネイル", {
                                 Item(ID_FILE_OPEN_IMAGE, u"開く(&O)"),
                                 Item(ID_FILE_OPEN_APP, u"アプリケーションで開く(&A)"),
                                 Sep(),
                                 Popup(u"サイズ(&Z)",
                                       {
                                           Item(ID_SIZE_FIRST, u"32×32"),
                                           Item(ID_SIZE_48, u"48×48"),
                                           Item(ID_SIZE_64, u"64×64"),
                                           Item(ID_SIZE_80, u"80×80"),
                                           Item(ID_SIZE_96, u"96×96"),
                                           Item(ID_SIZE_100, u"100×100"),
                                           Item(ID_SIZE_128, u"128×128"),
                                           Item(ID_SIZE_240, u"240×240"),
                                           Item(ID_SIZE_LAST, u"320×320"),
                                           Sep(),
                                           Item(ID_SIZE_CUSTOM, u"カスタム(&C)..."),
                                       }),
                                 Popup(u"整列(&T)",
                                       {
                                           Item(ID_SORT_NAME, u"ファイル名(&N)"),
                                           Item(ID_SORT_EXT, u"拡張子(&K)"),
                                           Item(ID_SORT_SIZE, u"サイズ(&S)"),
                                           Item(ID_SORT_DATE, u"日付(&D)"),
                                           Sep(),
                                           Item(ID_SORT_ASCEND, u"昇順(&A)"),
                                       }),
                                 Sep(),
                                 Item(ID_VIEW_PUREMODE, u"精細モード(&E)"),
                                 Sep(),
                                 Item(ID_TOOL_CONVERT, u"変換(&S)..."),
                                 Popup(u"ファイル名のコピー(&B)",
                                       {
                                           Item(ID_COPY_FILENAME, u"ファイル名のみコピー(&N)"),
                                           Item(ID_COPY_FULLPATH, u"フルパスでコピー(&P)"),
                                       }),
                                 Item(ID_WALLPAPER, u"壁紙にする(&K)"),
                                 Sep(),
                                 Item(ID_FILE_COPYTO, u"ファイルのコピー(&C)..."),
                                 Item(ID_FILE_MOVETO, u"ファイルの移動(&M)..."),
                                 Item(ID_FILE_DELETE, u"ファイルの削除(&R)..."),
                                 Item(ID_FILE_RENAME, u"ファイル名変更(&N)..."),
                                 Sep(),
                                 Item(ID_DRIVE_CHANGE, u"ドライブ変更(&D)..."),
                                 Sep(),
                                 Item(ID_VIEW_REFRESH, u"最新の状態に更新(&U)"),
                                 Sep(),
                                 Item(ID_IMAGE_INFO, u"画像情報(&I)..."),
                                 Item(ID_FILE_PROPERTIES, u"プロパティ(&P)..."),
                             });
    return popup;
}

const std::vector<Accelerator>& Accelerators() {
    static const std::vector<Accelerator> table = {
        {QKeySequence(Qt::Key_C), ID_FILE_COPYTO},
        {QKeySequence(Qt::CTRL | Qt::Key_C), ID_EDIT_COPY},
        {QKeySequence(Qt::Key_H), ID_TOOL_CONVERT},
        {QKeySequence(Qt::Key_K), ID_FOLDER_CREATE},
        {QKeySequence(Qt::Key_L), ID_DRIVE_CHANGE},
        {QKeySequence(Qt::Key_M), ID_FILE_MOVETO},
        {QKeySequence(Qt::Key_R), ID_FILE_RENAME},
        {QKeySequence(Qt::CTRL | Qt::Key_V), ID_EDIT_PASTE},
        {QKeySequence(Qt::Key_Backspace), ID_FOLDER_UP},
        {QKeySequence(Qt::Key_Delete), ID_FILE_DELETE},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), ID_EDIT_CUT},
        {QKeySequence(Qt::Key_F5), ID_VIEW_REFRESH},
        {QKeySequence(Qt::Key_F6), ID_NEXT_PANE},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), ID_PREV_PANE},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), ID_EDIT_COPY},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), ID_EDIT_PASTE},
        {QKeySequence(Qt::CTRL | Qt::Key_X), ID_EDIT_CUT},
        {QKeySequence(Qt::CTRL | Qt::Key_A), ID_EDIT_SELECT_ALL},
    };
    return table;
}

const std::vector<unsigned>& ToolbarButtons() {
    static const std::vector<unsigned> buttons = {
        ID_DRIVE_CHANGE,
        0,
        ID_FOLDER_UP,
        0,
        ID_FILE_COPYTO,
        ID_FILE_MOVETO,
        0,
        ID_FILE_DELETE,
        0,
        ID_FILE_RENAME,
        0,
        ID_FOLDER_CREATE,
        0,
        ID_TOOL_CONVERT,
        0,
        ID_HELP_FINDER,
    };
    return buttons;
}

QMenu* Build(const MenuItem& popup, QWidget* parent,
             const std::function<QAction*(const MenuItem& item, QMenu* menu)>& makeAction,
             const std::function<void(QMenu*)>& onMenu) {
    auto* menu = new QMenu(popup.text, parent);
    for (const MenuItem& item : popup.items) {
        if (item.IsSeparator())
            menu->addSeparator();
        else if (item.IsPopup())
            menu->addMenu(Build(item, menu, makeAction, onMenu));
        else
            menu->addAction(makeAction(item, menu));
    }
    if (onMenu)
        onMenu(menu);
    return menu;
}

} // namespace Menus
