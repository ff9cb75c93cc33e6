#include "res/Strings.h"

#include "res/resource.h"

#include <unordered_map>

namespace {

const std::unordered_map<unsigned, const char16_t*>& Table() {
    static const std::unordered_map<unsigned, const char16_t*> table = {
        {AFX_IDS_APP_TITLE, u"Quilla"},
        {AFX_IDS_IDLEMESSAGE, u"ﾚﾃﾞｨ"},
        {IDR_MAINFRAME, u"Quilla\n\nQuilla\n\n\nQuilla.Document\nQuilla Document"},
        {ID_INDICATOR_KANA, u"ｶﾅ"},
        {ID_INDICATOR_CAPS, u"CAP"},
        {ID_INDICATOR_NUM, u"NUM"},
        {ID_INDICATOR_SCRL, u"SCRL"},

        {ID_DRIVE_CHANGE, u"ドライブ変更\nドライブ変更"},
        {ID_FILE_DELETE, u"選択したファイルまたはフォルダを削除\n削除"},
        {ID_VIEW_REFRESH, u"フォルダの内容を読み直して最新の状態に更新\n最新の状態に更新"},
        {ID_IMAGE_INFO, u"画像の情報を表示\n画像情報"},
        {ID_VIEW_PUREMODE, u"サムネイルを精細に表示\n精細モード"},
        {ID_SIZE_CUSTOM, u"サムネイルのサイズを指定\nカスタム サイズ"},
        {ID_SORT_NAME, u"ファイル名で整列\nファイル名で整列"},
        {ID_SORT_EXT, u"拡張子で整列\n拡張子で整列"},
        {ID_SORT_SIZE, u"ファイルのサイズで整列\nサイズで整列"},
        {ID_SORT_DATE, u"ファイルの日付で整列\n日付で整列"},
        {ID_SORT_ASCEND, u"昇順と降順を切り替え\n昇順"},
        {ID_WALLPAPER, u"画像を壁紙にする\n壁紙にする"},
        {ID_FILE_COPYTO, u"選択したファイルを別のフォルダへコピー\nファイルのコピー"},
        {ID_FILE_MOVETO, u"選択したファイルを別のフォルダへ移動\nファイルの移動"},
        {ID_FILE_RENAME, u"ファイル名またはフォルダ名を変更\nファイル名変更"},
        {ID_FOLDER_CREATE, u"新しいフォルダを作成\nフォルダ作成"},
        {ID_FILE_OPEN_IMAGE, u"画像をプレビュー ウィンドウで開く\n開く"},
        {ID_FILE_OPEN_APP, u"画像を関連付けられたアプリケーションで開く\nアプリケーションで開く"},
        {ID_HELP_HOMEPAGE, u"Norvo Pictoquillのホームページを開く\nホームページ"},
        {ID_TOOL_CONVERT, u"選択した画像の形式を変換\n変換"},
        {ID_VIEW_FONT, u"ファイル名のフォントを変更\nフォント"},
        {ID_COPY_FILENAME, u"ファイル名をクリップボードにコピー\nファイル名をコピー"},
        {ID_COPY_FULLPATH, u"フルパスをクリップボードにコピー\nフルパスをコピー"},
        {ID_TOOL_SETTINGS, u"動作の設定を変更\n設定"},
        {ID_FILE_PROPERTIES, u"ファイルのプロパティを表示\nプロパティ"},
        {ID_FOLDER_UP, u"一つ上のフォルダへ移動\n一つ上のフォルダへ"},
        {ID_FAV_ADD, u"フォルダを選んでお気に入りに追加\nお気に入りに追加"},
        {ID_HELP_KEYWORD, u"キーワードでヘルプを検索\nキーワードで検索"},
        {ID_FAV_REMOVE, u"選択したお気に入りを削除\nお気に入りの削除"},
        {ID_FAV_UP, u"選択したお気に入りを一つ上へ移動\nお気に入りを一つ上へ"},
        {ID_FAV_DOWN, u"選択したお気に入りを一つ下へ移動\nお気に入りを一つ下へ"},
        {ID_FAV_ADD_THIS, u"選択中のフォルダをお気に入りに追加\nこのフォルダを追加"},
        {ID_HELP_FORUM, u"Norvoサポートフォーラムを開く\nサポートフォーラム"},
        {ID_HELP_MAKER, u"Norvoのホームページを開く\nNorvoのページ"},
        {ID_HELP_VERSION_CHECK, u"ｲﾝﾀｰﾈｯﾄに接続し新バージョンを確認\n最新バージョンの確認"},
        {ID_SIZE_FIRST, u"サムネイルを32×32で表示\n32×32"},
        {ID_SIZE_48, u"サムネイルを48×48で表示\n48×48"},
        {ID_SIZE_64, u"サムネイルを64×64で表示\n64×64"},
        {ID_SIZE_80, u"サムネイルを80×80で表示\n80×80"},
        {ID_SIZE_96, u"サムネイルを96×96で表示\n96×96"},
        {ID_SIZE_100, u"サムネイルを100×100で表示\n100×100"},
        {ID_SIZE_128, u"サムネイルを128×128で表示\n128×128"},
        {ID_SIZE_160, u"サムネイルを160×160で表示\n160×160"},
        {ID_SIZE_160x120, u"サムネイルを160×120で表示\n160×120"},
        {ID_SIZE_240, u"サムネイルを240×240で表示\n240×240"},
        {ID_SIZE_280, u"サムネイルを280×280で表示\n280×280"},
        {ID_SIZE_LAST, u"サムネイルを320×320で表示\n320×320"},
        {ID_HELP_SOFTWARE, u"Norvoのソフトのページを開く\nNorvoのソフト"},

        {ID_EDIT_COPY, u"選択したファイルをクリップボードにコピー\nコピー"},
        {ID_EDIT_CUT, u"選択したファイルを切り取ってクリップボードに保存\n切り取り"},
        {ID_EDIT_PASTE, u"クリップボードのファイルを貼り付け\n貼り付け"},
        {ID_EDIT_SELECT_ALL, u"すべての画像ファイルを選択\nすべて選択"},
        {ID_APP_ABOUT, u"ﾌﾟﾛｸﾞﾗﾑの情報、ﾊﾞｰｼﾞｮﾝ、著作権を表示\nﾊﾞｰｼﾞｮﾝ情報"},
        {ID_APP_EXIT, u"ｱﾌﾟﾘｹｰｼｮﾝを終了\n終了"},
        {ID_HELP_INDEX, u"ﾍﾙﾌﾟ ﾄﾋﾟｯｸの一覧を表示\nﾍﾙﾌﾟ ｲﾝﾃﾞｯｸｽ"},
        {ID_HELP_FINDER, u"ﾍﾙﾌﾟ ﾄﾋﾟｯｸの一覧を表示\nﾍﾙﾌﾟ ﾄﾋﾟｯｸ"},
        {ID_HELP_USING, u"ﾍﾙﾌﾟの使用方法を表示\nﾍﾙﾌﾟ"},
        {ID_CONTEXT_HELP, u"ｸﾘｯｸした項目のﾍﾙﾌﾟを表示\nﾍﾙﾌﾟ"},
        {ID_HELP, u"作業中のﾀｽｸやｺﾏﾝﾄﾞのﾍﾙﾌﾟを表示\nﾍﾙﾌﾟ"},
        {ID_DEFAULT_HELP, u"ﾍﾙﾌﾟの既定のﾄﾋﾟｯｸを表示\nﾍﾙﾌﾟ"},
        {ID_NEXT_PANE, u"次のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替え\n次のﾍﾟｲﾝ"},
        {ID_PREV_PANE, u"前のｳｨﾝﾄﾞｳ ﾍﾟｲﾝに切り替え\n前のﾍﾟｲﾝ"},
        {ID_VIEW_TOOLBAR, u"ﾂｰﾙ ﾊﾞｰの表示/非表示\nﾂｰﾙ ﾊﾞｰの表示切り替え"},
        {ID_VIEW_STATUS_BAR, u"ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示\nｽﾃｰﾀｽ ﾊﾞｰの表示切り替え"},
    };
    return table;
}

} // namespace

namespace Strings {

QString Load(unsigned nID) {
    const auto it = Table().find(nID);
    return it == Table().end() ? QString() : QString::fromUtf16(it->second);
}

QString Prompt(unsigned nID) {
    const QString s = Load(nID);
    const qsizetype nl = s.indexOf(QLatin1Char('\n'));
    return nl < 0 ? s : s.left(nl);
}

QString Tooltip(unsigned nID) {
    const QString s = Load(nID);
    const qsizetype nl = s.indexOf(QLatin1Char('\n'));
    return nl < 0 ? QString() : s.mid(nl + 1);
}

} // namespace Strings
