// What the tests share: a settings folder of their own, answered message boxes, recorded desktop
// requests, and the application started and ended around each test.
#pragma once

#include "platform/MsgBox.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>
#include <ostream>
#include <vector>

class CMainFrame;
class CQuillaApp;
class CThumbnailView;

// Runs the event loop until the grid has made every picture it wants (false on time-out).
bool WaitForPictures(CThumbnailView* view, int ms = 30000);

// Readable failure messages for Qt's strings.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{';
    for (qsizetype i = 0; i < l.size(); ++i)
        *os << (i ? ", \"" : "\"") << l[i].toStdString() << '"';
    *os << '}';
}
QT_END_NAMESPACE

// Removes a folder with everything in it, names that are not UTF-8 included (Qt's own removal
// cannot name those).
void RemoveTreeNative(const QString& folder);
// The whole content of a file named by its bytes ("" when it cannot be read).
QByteArray ReadNative(const QByteArray& path);
// Writes a file named by its bytes, with exactly this mode; true when all of it was written.
bool WriteNative(const QByteArray& path, const QByteArray& bytes = "x", unsigned mode = 0644);
// True when something of that name exists, a dangling symbolic link included.
bool ExistsNative(const QByteArray& path);
// The names of the grid's tiles in display order.
QStringList TileNames(const CThumbnailView* view);
// The names of the selected tiles in display order.
QStringList SelectedNames(const CThumbnailView* view);
// The name of the tile with the focus; empty when there is none.
QString FocusedName(const CThumbnailView* view);

// Points the settings at a fresh temporary folder for the lifetime of the object.
class TempSettings {
public:
    TempSettings();
    ~TempSettings();
    // The settings file (it need not exist).
    QString FilePath() const;
    // Writes the settings file as the user (or another program) would have left it.
    void WriteRaw(const QByteArray& iniText) const;
    // The file's text, "" when it does not exist.
    QByteArray ReadRaw() const;
    bool Exists() const;

private:
    QTemporaryDir m_dir;
};

// Starts the application in SetUp (after Prepare() has had its say) and ends it in TearDown.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Runs before the application starts: write settings here.
    virtual void Prepare() {}
    // Ends the application (saving the bar state as closing does) and starts it again.
    void Restart(bool closeFirst = true);

    CQuillaApp* App() const;
    CMainFrame* Frame() const;
    // Runs the event loop briefly so that posted events and idle work are handled.
    static void Spin(int ms = 20);

    TempSettings m_settings;
    std::vector<MsgBoxRequest> m_boxes; // every message box asked for, in order
    int m_boxAnswer = IDOK;
    std::vector<QUrl> m_opened; // every address given to the desktop
    bool m_openAnswer = true;   // what the desktop answers (false: it cannot open them)

private:
    MsgBoxResponder m_oldResponder;
};
