// The help: the collection built next to the executable (every page, link and picture there, every
// page in the contents), the topics of the help contexts the program asks for, reached through
// the real widgets (F1 in the panes, the dialogs' help buttons, the help menu), the keyword index,
// the full-text search, and a collection that is missing, damaged or without its manual.
#include "TestSupport.h"

#include "app/MainFrame.h"
#include "app/QuillaApp.h"
#include "app/QuillaDoc.h"
#include "app/SetDlg.h"
#include "convert/Convert.h"
#include "convert/OptionPages.h"
#include "help/HelpWindow.h"
#include "res/resource.h"
#include "thumbs/ThumbnailView.h"
#include "tree/DirView.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpEngineCore>
#include <QHelpIndexModel>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QWindow>
#include <set>

namespace {

QString CollectionPath() {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("quilla.qhc"));
}

// The file name of a page address ("" for none).
QString PageOf(const QUrl& url) {
    return url.path().section(QLatin1Char('/'), -1);
}

// Types Japanese text as an input method commits it.
void TypeJapanese(QWidget* field, const QString& text) {
    QInputMethodEvent commit;
    commit.setCommitString(text);
    QApplication::sendEvent(field, &commit);
}

// Runs the event loop until the condition holds (false after the time-out).
template <class Cond> bool WaitFor(Cond cond, int ms = 10000) {
    return QTest::qWaitFor(cond, ms);
}

// The collection read-only, as the program opens it.
class Collection : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::exists(CollectionPath())) << CollectionPath().toStdString();
        m_engine = std::make_unique<QHelpEngine>(CollectionPath());
        m_engine->setReadOnly(true);
        ASSERT_TRUE(m_engine->setupData()) << m_engine->error().toStdString();
        ASSERT_EQ(m_engine->registeredDocumentations(), QStringList{"jp.norvo.pictoquill"});
    }
    QList<QUrl> Pages() const {
        return m_engine->files(QStringLiteral("jp.norvo.pictoquill"), QString(),
                               QStringLiteral("html"));
    }
    std::unique_ptr<QHelpEngine> m_engine;
};

// Every address in the contents, below the index.
void CollectContents(QHelpContentModel* model, const QModelIndex& parent, std::set<QString>* out) {
    for (int r = 0; r < model->rowCount(parent); ++r) {
        const QModelIndex i = model->index(r, 0, parent);
        if (QHelpContentItem* item = model->contentItemAt(i))
            out->insert(PageOf(item->url()));
        CollectContents(model, i, out);
    }
}

} // namespace

TEST_F(Collection, EveryLinkAndPictureOfEveryPageIsInTheManual) {
    const QList<QUrl> pages = Pages();
    ASSERT_GE(pages.size(), 20);
    const QRegularExpression ref(QStringLiteral("(?:href|src)=\"([^\"]+)\""));
    int links = 0, pictures = 0;
    for (const QUrl& page : pages) {
        const QString html = QString::fromUtf8(m_engine->fileData(page));
        ASSERT_FALSE(html.isEmpty()) << page.toString().toStdString();
        EXPECT_TRUE(html.contains(QStringLiteral("<title>"))) << page.toString().toStdString();
        for (auto it = ref.globalMatch(html); it.hasNext();) {
            const QUrl target(it.next().captured(1));
            if (target.scheme() == QLatin1String("http") ||
                target.scheme() == QLatin1String("https"))
                continue;
            const QUrl resolved = page.resolved(target);
            QUrl file = resolved;
            file.setFragment(QString());
            const QByteArray data = m_engine->fileData(file);
            EXPECT_FALSE(data.isEmpty())
                << page.toString().toStdString() << " -> " << target.toString().toStdString();
            if (target.path().endsWith(QLatin1String(".png")))
                ++pictures;
            else
                ++links;
            // An anchor in the page it names.
            if (resolved.hasFragment()) {
                EXPECT_TRUE(
                    data.contains(QStringLiteral("name=\"%1\"").arg(resolved.fragment()).toUtf8()))
                    << page.toString().toStdString() << " -> " << target.toString().toStdString();
            }
        }
    }
    EXPECT_GT(links, 100);
    EXPECT_GT(pictures, 5);
}

TEST_F(Collection, EveryPageIsInTheContents) {
    QHelpContentModel* model = m_engine->contentModel();
    QSignalSpy created(model, &QHelpContentModel::contentsCreated);
    model->createContents(QString());
    ASSERT_TRUE(created.wait(10000) || created.count() > 0);
    std::set<QString> listed;
    CollectContents(model, QModelIndex(), &listed);
    for (const QUrl& page : Pages())
        EXPECT_TRUE(listed.count(PageOf(page))) << page.toString().toStdString();
    EXPECT_TRUE(listed.count(QStringLiteral("index.html")));
}

TEST_F(Collection, TheKeywordConvertLeadsToTheConversionPage) {
    const QList<QHelpLink> links = m_engine->documentsForKeyword(QStringLiteral("変換"));
    ASSERT_FALSE(links.isEmpty());
    EXPECT_EQ(PageOf(links.first().url), QStringLiteral("convert.html"));
    // The page behind it is the one the manual's contents call so.
    EXPECT_TRUE(QString::fromUtf8(m_engine->fileData(links.first().url))
                    .contains(QStringLiteral("<title>画像の変換</title>")));
}

// The help window on the collection next to the executable, without the main window.
class HelpWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_window = std::make_unique<CHelpWindow>(CollectionPath());
        ASSERT_TRUE(m_window->Open()) << m_window->Error().toStdString();
    }
    std::unique_ptr<CHelpWindow> m_window;
    TempSettings m_settings;
};

TEST_F(HelpWindowTest, CaptionTabsAndStartPage) {
    m_window->ShowStartPage();
    m_window->show();
    EXPECT_EQ(m_window->windowTitle(), QStringLiteral("Norvo Pictoquill ヘルプ"));
    ASSERT_EQ(m_window->Tabs()->count(), 3);
    EXPECT_EQ(m_window->Tabs()->tabText(0), QStringLiteral("目次(&C)"));
    EXPECT_EQ(m_window->Tabs()->tabText(1), QStringLiteral("キーワード(&K)"));
    EXPECT_EQ(m_window->Tabs()->tabText(2), QStringLiteral("検索(&S)"));
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("index.html"));
    EXPECT_EQ(m_window->CurrentTitle(), QStringLiteral("Norvo Pictoquill ヘルプ"));
    // The page's pictures come out of the help file too.
    const QVariant picture = m_window->Browser()->loadResource(
        QTextDocument::ImageResource,
        m_window->CurrentUrl().resolved(QUrl("images/screenshot.png")));
    EXPECT_TRUE(picture.toByteArray().startsWith("\x89PNG"));
}

TEST_F(HelpWindowTest, KeywordTypedInTheIndexOpensItsPage) {
    m_window->show();
    m_window->ShowTab(CHelpWindow::Tab::Index);
    QHelpIndexModel* model = m_window->Engine()->indexModel();
    ASSERT_TRUE(WaitFor([&] { return !model->isCreatingIndex() && model->rowCount() > 50; }));
    TypeJapanese(m_window->IndexField(), QStringLiteral("変換"));
    // The keywords holding the word are left, the word itself the current one.
    ASSERT_GE(model->rowCount(), 1);
    for (int r = 0; r < model->rowCount(); ++r)
        EXPECT_TRUE(model->index(r, 0).data().toString().contains(QStringLiteral("変換")));
    auto* keywords = m_window->findChild<QHelpIndexWidget*>();
    ASSERT_NE(keywords, nullptr);
    EXPECT_EQ(keywords->currentIndex().data().toString(), QStringLiteral("変換"));
    QTest::keyClick(m_window->IndexField(), Qt::Key_Return);
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("convert.html"));
}

TEST_F(HelpWindowTest, FullTextSearchFindsWordsInTheText) {
    // A word of the text only (in no title), Japanese and ASCII.
    std::vector<CHelpWindow::SearchHit> hits = m_window->Search(QStringLiteral("ごみ箱"));
    ASSERT_FALSE(hits.empty());
    std::set<QString> found;
    for (const auto& h : hits)
        found.insert(PageOf(h.url));
    EXPECT_TRUE(found.count(QStringLiteral("files.html")));
    EXPECT_TRUE(found.count(QStringLiteral("folders.html")));
    EXPECT_FALSE(found.count(QStringLiteral("keys.html")));
    for (const auto& h : hits)
        EXPECT_TRUE(h.snippet.contains(QStringLiteral("ごみ箱"))) << h.snippet.toStdString();
    // A page that has the word in its title comes first.
    hits = m_window->Search(QStringLiteral("quilla-convert"));
    ASSERT_FALSE(hits.empty());
    EXPECT_EQ(PageOf(hits.front().url), QStringLiteral("quilla-convert.html"));
    // Half-width katakana and upper case find the full-width and lower-case text.
    const auto wide = m_window->Search(QStringLiteral("ファイルマネージャ"));
    const auto narrow = m_window->Search(QStringLiteral("ﾌｧｲﾙﾏﾈｰｼﾞｬ"));
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(wide.size(), narrow.size());
    EXPECT_EQ(m_window->Search(QStringLiteral("WEBP")).size(),
              m_window->Search(QStringLiteral("webp")).size());
    // Every word must occur.
    const size_t either = m_window->Search(QStringLiteral("壁紙")).size();
    const size_t both = m_window->Search(QStringLiteral("壁紙 プラグイン")).size();
    EXPECT_LT(both, either);
    EXPECT_TRUE(m_window->Search(QStringLiteral("壁紙 存在しない語句")).empty());
    EXPECT_TRUE(m_window->Search(QStringLiteral("   ")).empty());
}

TEST_F(HelpWindowTest, SearchTabListsHitsAndOpensThem) {
    m_window->show();
    m_window->ShowTab(CHelpWindow::Tab::Search);
    TypeJapanese(m_window->SearchField(), QStringLiteral("サブサンプリング"));
    QTest::keyClick(m_window->SearchField(), Qt::Key_Return);
    QListWidget* list = m_window->SearchResults();
    ASSERT_GE(list->count(), 2);
    EXPECT_TRUE(list->item(0)->text().startsWith(QStringLiteral("画像形式の設定")))
        << list->item(0)->text().toStdString();
    emit list->itemActivated(list->item(0));
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("formats.html"));
    // Nothing found says so.
    m_window->RunSearch(QStringLiteral("存在しない語句"));
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), QStringLiteral("見つかりませんでした"));
}

TEST_F(HelpWindowTest, LinksMoveBetweenPagesAndBackAndForward) {
    m_window->show();
    m_window->ShowStartPage();
    emit m_window->Browser()->anchorClicked(QUrl(QStringLiteral("favorites.html")));
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("favorites.html"));
    emit m_window->Browser()->anchorClicked(QUrl(QStringLiteral("folders.html#drive")));
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("folders.html"));
    m_window->Browser()->backward();
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("favorites.html"));
    m_window->Browser()->forward();
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("folders.html"));
    // The contents follow the page.
    auto* contents = m_window->findChild<QHelpContentWidget*>();
    ASSERT_NE(contents, nullptr);
    ASSERT_TRUE(WaitFor([&] { return contents->model()->rowCount() > 0; }));
    // Once the contents are read, each page shown is selected in them at once.
    ASSERT_TRUE(WaitFor([&] { return contents->currentIndex().isValid(); }));
    EXPECT_EQ(contents->currentIndex().data().toString(),
              QStringLiteral("フォルダの操作とドライブ変更"));
    emit m_window->Browser()->anchorClicked(QUrl(QStringLiteral("keys.html")));
    EXPECT_EQ(contents->currentIndex().data().toString(), QStringLiteral("キー操作一覧"));
}

TEST_F(HelpWindowTest, UnknownContextShowsTheStartPage) {
    EXPECT_FALSE(m_window->ShowContext(999999));
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("index.html"));
    EXPECT_TRUE(m_window->ShowIdentifier(CHelpWindow::HelpOnHelpId()));
    EXPECT_EQ(PageOf(m_window->CurrentUrl()), QStringLiteral("helpwindow.html"));
}

// The help as the program asks for it, through the main window and its dialogs.
class HelpInProgram : public AppTest {
protected:
    void TearDown() override {
        CSetDlg::s_answer = nullptr;
        CPropertySheet::s_answer = nullptr;
        AppTest::TearDown();
    }
    CHelpWindow* Help() const { return Frame()->HelpWindow(); }
    QString Shown() const { return Help() ? PageOf(Help()->CurrentUrl()) : QString(); }
};

TEST_F(HelpInProgram, TheCollectionLiesNextToTheExecutable) {
    EXPECT_EQ(Frame()->HelpFile(), CollectionPath());
    EXPECT_TRUE(QFile::exists(CollectionPath()));
    EXPECT_TRUE(QFile::exists(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("quilla.qch"))));
}

TEST_F(HelpInProgram, F1InThePanesOpensTheirTopics) {
    Frame()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Frame()));
    EXPECT_EQ(Help(), nullptr);
    Frame()->DirView()->setFocus();
    QTest::keyClick(Frame()->DirView(), Qt::Key_F1);
    ASSERT_NE(Help(), nullptr);
    EXPECT_TRUE(Help()->isVisible());
    EXPECT_EQ(Help()->windowTitle(), QStringLiteral("Norvo Pictoquill ヘルプ"));
    EXPECT_EQ(Shown(), QStringLiteral("tree.html"));
    Frame()->activateWindow();
    Frame()->ThumbnailView()->setFocus();
    QTest::keyClick(Frame()->ThumbnailView(), Qt::Key_F1);
    EXPECT_EQ(Shown(), QStringLiteral("thumbnails.html"));
    // F1 with neither pane nor bar: the main window's topic; on the bars, the same page.
    Frame()->OnHelpInfo(0);
    EXPECT_EQ(Shown(), QStringLiteral("mainwindow.html"));
    for (int bar : {int(AFX_IDW_TOOLBAR), int(AFX_IDW_STATUS_BAR)}) {
        Help()->ShowStartPage();
        Frame()->OnHelpInfo(bar);
        EXPECT_EQ(Shown(), QStringLiteral("mainwindow.html")) << bar;
    }
    EXPECT_TRUE(m_boxes.empty());
    // Closing the main window closes the help window too.
    Frame()->close();
    EXPECT_FALSE(Help()->isVisible());
}

class HelpStacked : public HelpInProgram {
    void Prepare() override { m_settings.WriteRaw("[View]\nSplPos=1\n"); }
};

TEST_F(HelpStacked, F1InTheGridBelowTheTreeOpensTheGridsTopic) {
    Frame()->show();
    Frame()->ThumbnailView()->setFocus();
    EXPECT_EQ(Frame()->FocusControlId(), int(AFX_IDW_PANE_FIRST + 16));
    QTest::keyClick(Frame()->ThumbnailView(), Qt::Key_F1);
    EXPECT_EQ(Shown(), QStringLiteral("thumbnails.html"));
}

TEST_F(HelpInProgram, HelpMenuCommands) {
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_FINDER));
    ASSERT_NE(Help(), nullptr);
    EXPECT_EQ(Shown(), QStringLiteral("index.html"));
    EXPECT_EQ(Help()->Tabs()->currentIndex(), int(CHelpWindow::Tab::Contents));
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_USING));
    EXPECT_EQ(Shown(), QStringLiteral("helpwindow.html"));
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_KEYWORD));
    EXPECT_EQ(Help()->Tabs()->currentIndex(), int(CHelpWindow::Tab::Index));
    // The index and the default help ask for nothing of the manual.
    Help()->ShowStartPage();
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_INDEX));
    EXPECT_EQ(Shown(), QStringLiteral("index.html"));
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_TRUE(m_opened.empty());
    // One help window, however often it is asked for.
    EXPECT_EQ(QApplication::topLevelWidgets().count(Help()), 1);
}

TEST_F(HelpInProgram, SettingsDialogsHelpButtonOpensItsTopicAboveTheDialog) {
    QWindow* dialogWindow = nullptr;
    QWindow* owner = nullptr;
    CSetDlg::s_answer = [&](CSetDlg& dlg) {
        // Shown as exec shows it: modal to the whole program.
        dlg.setWindowModality(Qt::ApplicationModal);
        dlg.show();
        dialogWindow = dlg.windowHandle();
        QTest::mouseClick(dlg.HelpButton(), Qt::LeftButton);
        if (Help())
            owner = Help()->windowHandle()->transientParent();
        dlg.hide();
        return int(QDialog::Rejected);
    };
    ASSERT_TRUE(Frame()->Router().Execute(ID_TOOL_SETTINGS));
    ASSERT_NE(Help(), nullptr);
    EXPECT_EQ(Shown(), QStringLiteral("settings.html"));
    // The modal dialog does not block the help window: it is the dialog's own window.
    EXPECT_NE(dialogWindow, nullptr);
    EXPECT_EQ(owner, dialogWindow);
    EXPECT_TRUE(m_boxes.empty());
    // Asked for from the main window afterwards, the help window has no owner.
    Frame()->OnHelpInfo(0);
    EXPECT_EQ(Help()->windowHandle()->transientParent(), nullptr);
}

TEST_F(HelpInProgram, OptionSheetsHelpOpensTheFormatsTopic) {
    for (int format :
         {int(Convert::Gif), int(Convert::Jpeg), int(Convert::Tiff), int(Convert::Png)}) {
        if (Help())
            Help()->ShowStartPage();
        CPropertySheet::s_answer = [](CPropertySheet& sheet) {
            sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->click();
            return int(QDialog::Rejected);
        };
        RunFormatOptionSheet(Frame(), format);
        EXPECT_EQ(Shown(), QStringLiteral("formats.html")) << format;
    }
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(HelpInProgram, EveryContextTheProgramAsksForHasItsOwnTopic) {
    // The numbers the program passes: the two dialogs, F1 on each pane and bar (side by side and
    // stacked), and the main window itself.
    const unsigned long contexts[] = {16,
                                      CSetDlg::kHelpContext,
                                      0x10000UL + AFX_IDW_PANE_FIRST,
                                      0x10000UL + AFX_IDW_PANE_FIRST + 1,
                                      0x10000UL + AFX_IDW_PANE_FIRST + 16,
                                      0x10000UL + AFX_IDW_TOOLBAR,
                                      0x10000UL + AFX_IDW_STATUS_BAR,
                                      0x20000UL + IDR_MAINFRAME};
    Frame()->WinHelp(0, HELP_FINDER);
    ASSERT_NE(Help(), nullptr);
    for (unsigned long c : contexts) {
        Help()->ShowStartPage();
        EXPECT_TRUE(Help()->ShowContext(c)) << c;
        EXPECT_NE(Shown(), QStringLiteral("index.html")) << c;
    }
}

TEST_F(HelpInProgram, MissingCollectionIsReportedWithItsPath) {
    QTemporaryDir elsewhere, current;
    const QString missing = QDir(elsewhere.path()).filePath(QStringLiteral("quilla.qhc"));
    Frame()->SetHelpFile(missing);
    // A collection in the current directory does not count.
    ASSERT_TRUE(QFile::copy(CollectionPath(), QDir(current.path()).filePath("quilla.qhc")));
    ASSERT_TRUE(Frame()->GetActiveDocument()->SetFolder(current.path()));
    const QString expected = QStringLiteral("ヘルプファイルがありません：") + missing;
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_FINDER));
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_USING));
    Frame()->OnHelpInfo(AFX_IDW_PANE_FIRST);
    ASSERT_EQ(m_boxes.size(), 3u);
    for (const MsgBoxRequest& box : m_boxes) {
        EXPECT_EQ(box.text, expected);
        EXPECT_EQ(box.type & 0xF, unsigned(MB_OK));
    }
    // The keyword index opens without that check and says that the file cannot be opened.
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_KEYWORD));
    ASSERT_EQ(m_boxes.size(), 4u);
    EXPECT_TRUE(
        m_boxes[3].text.startsWith(QStringLiteral("ヘルプファイルを開けませんでした：") + missing))
        << m_boxes[3].text.toStdString();
    EXPECT_EQ(Help(), nullptr);
}

TEST_F(HelpInProgram, DamagedCollectionOrMissingManualIsReported) {
    QTemporaryDir dir;
    // Not a database at all.
    const QString garbage = QDir(dir.path()).filePath(QStringLiteral("quilla.qhc"));
    {
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, '\x5a'));
    }
    Frame()->SetHelpFile(garbage);
    EXPECT_TRUE(Frame()->Router().Execute(ID_HELP_FINDER));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_TRUE(m_boxes[0].text.startsWith(QStringLiteral("ヘルプファイルを開けませんでした：")));
    EXPECT_EQ(Help(), nullptr);
    // The collection without the manual beside it.
    QTemporaryDir alone;
    const QString lone = QDir(alone.path()).filePath(QStringLiteral("quilla.qhc"));
    ASSERT_TRUE(QFile::copy(CollectionPath(), lone));
    Frame()->SetHelpFile(lone);
    Frame()->OnHelpInfo(AFX_IDW_PANE_FIRST);
    ASSERT_EQ(m_boxes.size(), 2u);
    EXPECT_TRUE(m_boxes[1].text.startsWith(QStringLiteral("ヘルプファイルを開けませんでした：")))
        << m_boxes[1].text.toStdString();
}
