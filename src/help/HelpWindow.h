// The help window: the manual of the help collection next to the executable, with its contents,
// its keyword index and a full-text search beside the page shown. The main frame owns one and
// asks it for topics by context number; the pages come from the collection through QHelpEngine.
#pragma once

#include <QMainWindow>
#include <QString>
#include <QTextBrowser>
#include <QUrl>
#include <memory>
#include <vector>

class QHelpEngine;
class QLineEdit;
class QListWidget;
class QTabWidget;

// The page view: reads the pages and their pictures out of the help collection; addresses
// outside it (web pages) go to the desktop's browser.
class CHelpBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit CHelpBrowser(QHelpEngine* engine, QWidget* parent = nullptr);
    QVariant loadResource(int type, const QUrl& name) override;

private:
    QHelpEngine* m_engine;
};

class CHelpWindow : public QMainWindow {
    Q_OBJECT
public:
    // The tabs beside the page, in their order.
    enum class Tab { Contents, Index, Search };
    // One hit of the full-text search.
    struct SearchHit {
        QUrl url;
        QString title;
        QString snippet;
    };

    // collectionFile: the help collection (quilla.qhc) that names the manual.
    explicit CHelpWindow(QString collectionFile, QWidget* parent = nullptr);
    ~CHelpWindow() override;

    // Opens the collection read-only on the first call. Returns false, with the reason in
    // Error(), when the collection cannot be read or names no manual.
    bool Open();
    QString Error() const { return m_strError; }

    // The identifier under which the manual files the topic of a help context number.
    static QString ContextId(unsigned long context);
    // The identifier of the page on the help window itself.
    static QString HelpOnHelpId();

    // Shows the topic filed under the identifier; false (and the start page) when there is none.
    bool ShowIdentifier(const QString& id);
    // Shows the topic of a help context number, as ShowIdentifier does.
    bool ShowContext(unsigned long context);
    // The manual's first page with the contents beside it.
    void ShowStartPage();
    // Brings a tab to the front; the index and the search put the focus in their text field.
    void ShowTab(Tab tab);
    // Shows the window above the others. A window that is modal at that moment (a dialog whose
    // help button was pressed) keeps the help window above it and usable.
    void Present();

    // The full-text search over every page of the manual: each word of the text (separated by
    // spaces) must occur in the page. Letters are compared without regard to case or to full
    // and half width. The best pages come first: those whose title holds the words, then those
    // with more occurrences.
    std::vector<SearchHit> Search(const QString& text);
    // Runs the search of the search tab's field and lists the hits there.
    void RunSearch(const QString& text);

    QUrl CurrentUrl() const;
    QString CurrentTitle() const;
    QHelpEngine* Engine() const { return m_engine.get(); }
    CHelpBrowser* Browser() const { return m_browser; }
    QTabWidget* Tabs() const { return m_tabs; }
    QLineEdit* IndexField() const { return m_indexField; }
    QLineEdit* SearchField() const { return m_searchField; }
    QListWidget* SearchResults() const { return m_searchResults; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Page {
        QUrl url;
        QString title;
        QString text;   // the page's text as shown
        QString folded; // the same, case-folded and of one width, for the search
    };
    void BuildWindow();
    void ShowUrl(const QUrl& url);
    QUrl StartUrl() const;
    void LoadPages();
    void OnIndexActivated(const QUrl& url);

    QString m_strCollection;
    QString m_strError;
    bool m_bOpened = false;
    std::unique_ptr<QHelpEngine> m_engine;
    QString m_strNamespace;
    std::vector<Page> m_pages; // read on the first search
    QTabWidget* m_tabs = nullptr;
    QLineEdit* m_indexField = nullptr;
    QLineEdit* m_searchField = nullptr;
    QListWidget* m_searchResults = nullptr;
    CHelpBrowser* m_browser = nullptr;
};
