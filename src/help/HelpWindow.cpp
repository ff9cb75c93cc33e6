#include "help/HelpWindow.h"

#include "platform/Desktop.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHelpContentModel>
#include <QHelpContentWidget>
#include <QHelpEngine>
#include <QHelpIndexWidget>
#include <QHelpLink>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QToolBar>
#include <QTranslator>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <utility>

namespace {

const char* const kCaption = "Norvo Pictoquill ヘルプ";
// The manual's pages lie in this folder of the help file; the first page is its start page.
const char* const kStartPage = "/doc/html/index.html";
// How much text a search hit shows around the first word found.
constexpr int kSnippetBefore = 30;
constexpr int kSnippetLength = 110;
// The window's first size and the share of the tabs beside the page.
constexpr int kInitialWidth = 960;
constexpr int kInitialHeight = 680;
constexpr int kTabsWidth = 280;
constexpr int kPageWidth = kInitialWidth - kTabsWidth;
// Where a search hit sits in the result list's item (the page it leads to).
constexpr int kUrlRole = Qt::UserRole + 1;

// Letters of one kind whatever their width and case: half-width katakana as full-width,
// full-width Latin letters and digits as ASCII, upper case as lower case.
QString Folded(const QString& text) {
    return text.normalized(QString::NormalizationForm_KC).toCaseFolded();
}

// Qt's own words in the help widgets (the search tab's buttons, the index's messages) in
// Japanese like the rest of the program; installed once, for the life of the application.
void InstallHelpTranslation() {
    static bool installed = false;
    if (installed || !qApp)
        return;
    installed = true;
    auto translator = std::make_unique<QTranslator>(qApp);
    if (translator->load(QStringLiteral("qt_help_ja"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator.release());
}

} // namespace

CHelpBrowser::CHelpBrowser(QHelpEngine* engine, QWidget* parent)
    : QTextBrowser(parent), m_engine(engine) {
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.scheme() == QLatin1String("qthelp"))
            setSource(url);
        else if (url.isRelative())
            setSource(source().resolved(url));
        else
            Desktop::OpenUrl(this, url);
    });
}

QVariant CHelpBrowser::loadResource(int type, const QUrl& name) {
    if (name.scheme() == QLatin1String("qthelp")) {
        const QByteArray data = m_engine->fileData(name);
        if (type == QTextDocument::HtmlResource || type == QTextDocument::StyleSheetResource)
            return QString::fromUtf8(data);
        return data;
    }
    return QTextBrowser::loadResource(type, name);
}

CHelpWindow::CHelpWindow(QString collectionFile, QWidget* parent)
    : QMainWindow(parent), m_strCollection(std::move(collectionFile)) {
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QString::fromUtf8(kCaption));
    resize(kInitialWidth, kInitialHeight);
}

CHelpWindow::~CHelpWindow() = default;

QString CHelpWindow::ContextId(unsigned long context) {
    return QStringLiteral("context-%1").arg(context);
}

QString CHelpWindow::HelpOnHelpId() {
    return QStringLiteral("help-on-help");
}

bool CHelpWindow::Open() {
    if (m_bOpened)
        return true;
    m_strError.clear();
    if (!QFileInfo(m_strCollection).isFile()) {
        m_strError = QStringLiteral("ファイルがありません");
        return false;
    }
    InstallHelpTranslation();
    // The installed collection is only read: the search needs no index of its own, and the
    // program's folder need not be writable.
    auto engine = std::make_unique<QHelpEngine>(m_strCollection);
    engine->setReadOnly(true);
    if (!engine->setupData()) {
        m_strError = engine->error();
        return false;
    }
    const QStringList docs = engine->registeredDocumentations();
    if (docs.isEmpty()) {
        m_strError = QStringLiteral("マニュアルが登録されていません");
        return false;
    }
    // The collection names the manual; its pages are read from the manual's own file.
    QString manual = engine->documentationFileName(docs.first());
    if (QFileInfo(manual).isRelative())
        manual = QFileInfo(m_strCollection).dir().filePath(manual);
    if (!QFileInfo(manual).isFile()) {
        m_strError = QStringLiteral("マニュアル %1 がありません").arg(manual);
        return false;
    }
    m_strNamespace = docs.first();
    m_engine = std::move(engine);
    BuildWindow();
    m_bOpened = true;
    return true;
}

void CHelpWindow::BuildWindow() {
    m_browser = new CHelpBrowser(m_engine.get());
    m_browser->setObjectName(QStringLiteral("helpPage"));

    m_tabs = new QTabWidget;
    m_tabs->setObjectName(QStringLiteral("helpTabs"));

    QHelpContentWidget* contents = m_engine->contentWidget();
    contents->setObjectName(QStringLiteral("helpContents"));
    connect(contents, &QHelpContentWidget::linkActivated, this, &CHelpWindow::ShowUrl);
    m_tabs->addTab(contents, QStringLiteral("目次(&C)"));

    auto* index = new QWidget;
    m_indexField = new QLineEdit;
    m_indexField->setObjectName(QStringLiteral("helpIndexField"));
    auto* indexLabel = new QLabel(QStringLiteral("キーワード(&W):"));
    indexLabel->setBuddy(m_indexField);
    QHelpIndexWidget* keywords = m_engine->indexWidget();
    keywords->setObjectName(QStringLiteral("helpIndex"));
    connect(m_indexField, &QLineEdit::textChanged, keywords,
            [keywords](const QString& text) { keywords->filterIndices(text); });
    connect(m_indexField, &QLineEdit::returnPressed, keywords,
            &QHelpIndexWidget::activateCurrentItem);
    connect(keywords, &QHelpIndexWidget::documentActivated, this,
            [this](const QHelpLink& link, const QString&) { OnIndexActivated(link.url); });
    // A keyword of several pages opens its first; the others are one search away.
    connect(keywords, &QHelpIndexWidget::documentsActivated, this,
            [this](const QList<QHelpLink>& links, const QString&) {
                if (!links.isEmpty())
                    OnIndexActivated(links.first().url);
            });
    auto* indexLayout = new QVBoxLayout(index);
    indexLayout->addWidget(indexLabel);
    indexLayout->addWidget(m_indexField);
    indexLayout->addWidget(keywords, 1);
    m_tabs->addTab(index, QStringLiteral("キーワード(&K)"));

    auto* search = new QWidget;
    m_searchField = new QLineEdit;
    m_searchField->setObjectName(QStringLiteral("helpSearchField"));
    auto* searchLabel = new QLabel(QStringLiteral("検索する語句(&W):"));
    searchLabel->setBuddy(m_searchField);
    auto* searchButton = new QPushButton(QStringLiteral("検索"));
    m_searchResults = new QListWidget;
    m_searchResults->setObjectName(QStringLiteral("helpSearchResults"));
    m_searchResults->setWordWrap(true);
    m_searchResults->setAlternatingRowColors(true);
    connect(searchButton, &QPushButton::clicked, this,
            [this] { RunSearch(m_searchField->text()); });
    connect(m_searchField, &QLineEdit::returnPressed, this,
            [this] { RunSearch(m_searchField->text()); });
    connect(m_searchResults, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const QUrl url = item->data(kUrlRole).toUrl();
        if (url.isValid())
            ShowUrl(url);
    });
    auto* row = new QHBoxLayout;
    row->addWidget(m_searchField, 1);
    row->addWidget(searchButton);
    auto* searchLayout = new QVBoxLayout(search);
    searchLayout->addWidget(searchLabel);
    searchLayout->addLayout(row);
    searchLayout->addWidget(m_searchResults, 1);
    m_tabs->addTab(search, QStringLiteral("検索(&S)"));

    auto* splitter = new QSplitter;
    splitter->addWidget(m_tabs);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({kTabsWidth, kPageWidth});
    setCentralWidget(splitter);

    auto* bar = addToolBar(QStringLiteral("ヘルプ"));
    bar->setObjectName(QStringLiteral("helpToolBar"));
    bar->setMovable(false);
    QAction* back = bar->addAction(QStringLiteral("戻る"), m_browser, &QTextBrowser::backward);
    back->setShortcut(QKeySequence::Back);
    back->setEnabled(false);
    connect(m_browser, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    QAction* forward = bar->addAction(QStringLiteral("進む"), m_browser, &QTextBrowser::forward);
    forward->setShortcut(QKeySequence::Forward);
    forward->setEnabled(false);
    connect(m_browser, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    bar->addAction(QStringLiteral("ホーム"), this, &CHelpWindow::ShowStartPage);
    bar->addSeparator();
    QAction* larger =
        bar->addAction(QStringLiteral("文字を大きく"), this, [this] { m_browser->zoomIn(); });
    larger->setShortcut(QKeySequence::ZoomIn);
    QAction* smaller =
        bar->addAction(QStringLiteral("文字を小さく"), this, [this] { m_browser->zoomOut(); });
    smaller->setShortcut(QKeySequence::ZoomOut);

    // The contents follow the page shown, also when they are read after the page was shown; they
    // open with their chapters listed. (While sourceChanged is sent, source() still names the
    // page before.)
    const auto follow = [contents](const QUrl& url) {
        const QModelIndex at = contents->indexOf(url);
        if (at.isValid())
            contents->setCurrentIndex(at);
    };
    connect(m_browser, &QTextBrowser::sourceChanged, this, follow);
    connect(m_engine->contentModel(), &QHelpContentModel::contentsCreated, this,
            [this, contents, follow] {
                contents->expandToDepth(0);
                follow(m_browser->source());
            });
}

QUrl CHelpWindow::StartUrl() const {
    QUrl url;
    url.setScheme(QStringLiteral("qthelp"));
    url.setHost(m_strNamespace);
    url.setPath(QString::fromLatin1(kStartPage));
    return url;
}

void CHelpWindow::ShowUrl(const QUrl& url) {
    if (m_browser)
        m_browser->setSource(url);
}

bool CHelpWindow::ShowIdentifier(const QString& id) {
    if (!Open())
        return false;
    const QList<QHelpLink> links = m_engine->documentsForIdentifier(id);
    if (links.isEmpty()) {
        ShowUrl(StartUrl());
        return false;
    }
    ShowUrl(links.first().url);
    return true;
}

bool CHelpWindow::ShowContext(unsigned long context) {
    return ShowIdentifier(ContextId(context));
}

void CHelpWindow::ShowStartPage() {
    if (!Open())
        return;
    ShowUrl(StartUrl());
}

void CHelpWindow::ShowTab(Tab tab) {
    if (!Open())
        return;
    m_tabs->setCurrentIndex(int(tab));
    if (tab == Tab::Index) {
        m_indexField->setFocus(Qt::OtherFocusReason);
        m_indexField->selectAll();
    } else if (tab == Tab::Search) {
        m_searchField->setFocus(Qt::OtherFocusReason);
        m_searchField->selectAll();
    }
}

void CHelpWindow::Present() {
    // A modal dialog blocks every window that is not its own; the help window becomes the
    // dialog's for as long as the dialog lasts (its window handle is cleared with it).
    (void)winId(); // the window's handle, to be owned
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == this)
        modal = nullptr;
    QWindow* owner = modal ? modal->windowHandle() : nullptr;
    if (windowHandle()->transientParent() != owner)
        windowHandle()->setTransientParent(owner);
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void CHelpWindow::OnIndexActivated(const QUrl& url) {
    ShowUrl(url);
}

QUrl CHelpWindow::CurrentUrl() const {
    return m_browser ? m_browser->source() : QUrl();
}

QString CHelpWindow::CurrentTitle() const {
    return m_browser ? m_browser->documentTitle() : QString();
}

void CHelpWindow::LoadPages() {
    if (!m_pages.empty() || !m_engine)
        return;
    const QList<QUrl> files = m_engine->files(m_strNamespace, QString(), QStringLiteral("html"));
    for (const QUrl& url : files) {
        const QString html = QString::fromUtf8(m_engine->fileData(url));
        QTextDocument doc;
        doc.setHtml(html);
        Page page;
        page.url = url;
        page.title = doc.metaInformation(QTextDocument::DocumentTitle);
        page.text = doc.toPlainText().simplified();
        page.folded = Folded(page.text);
        m_pages.push_back(std::move(page));
    }
}

std::vector<CHelpWindow::SearchHit> CHelpWindow::Search(const QString& text) {
    std::vector<SearchHit> hits;
    if (!Open())
        return hits;
    const QStringList words = Folded(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return hits;
    LoadPages();
    struct Ranked {
        const Page* page;
        bool inTitle;
        qsizetype count;
        qsizetype first;
    };
    std::vector<Ranked> ranked;
    for (const Page& page : m_pages) {
        Ranked r{&page, true, 0, -1};
        const QString title = Folded(page.title);
        bool all = true;
        for (const QString& w : words) {
            const qsizetype at = page.folded.indexOf(w);
            if (at < 0) {
                all = false;
                break;
            }
            if (r.first < 0)
                r.first = at;
            r.count += page.folded.count(w);
            r.inTitle = r.inTitle && title.contains(w);
        }
        if (all)
            ranked.push_back(r);
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const Ranked& a, const Ranked& b) {
        if (a.inTitle != b.inTitle)
            return a.inTitle;
        return a.count > b.count;
    });
    for (const Ranked& r : ranked) {
        const qsizetype from = std::max<qsizetype>(0, r.first - kSnippetBefore);
        QString snippet = r.page->text.mid(from, kSnippetLength);
        if (from > 0)
            snippet.prepend(QStringLiteral("…"));
        if (from + kSnippetLength < r.page->text.size())
            snippet.append(QStringLiteral("…"));
        hits.push_back(SearchHit{r.page->url, r.page->title, snippet});
    }
    return hits;
}

void CHelpWindow::RunSearch(const QString& text) {
    if (!Open())
        return;
    m_searchField->setText(text);
    m_tabs->setCurrentIndex(int(Tab::Search));
    m_searchResults->clear();
    const std::vector<SearchHit> hits = Search(text);
    if (hits.empty()) {
        auto* none = new QListWidgetItem(QStringLiteral("見つかりませんでした"));
        none->setFlags(Qt::NoItemFlags);
        m_searchResults->addItem(none);
        return;
    }
    for (const SearchHit& hit : hits) {
        auto* item = new QListWidgetItem(hit.title + QLatin1Char('\n') + hit.snippet);
        item->setData(kUrlRole, hit.url);
        item->setToolTip(hit.snippet);
        m_searchResults->addItem(item);
    }
    m_searchResults->setCurrentRow(0);
}

void CHelpWindow::keyPressEvent(QKeyEvent* event) {
    // Escape closes the help window as it closes the program's dialogs.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}
