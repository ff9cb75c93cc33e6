// What a pane of the main window (the folder tree, the thumbnail grid) needs from the window
// around it. The panes reach the current folder, each other and the frame's menus only through
// this interface, so that neither includes the application nor the other pane.
#pragma once

#include <QPoint>
#include <QString>

class CView;
class QMenu;

enum class Pane { Tree, Thumbnails };

class CPaneSite {
public:
    virtual ~CPaneSite() = default;

    // The folder shown ("" when none): the document's current folder, always equal to the
    // process's current directory while it names a folder.
    virtual QString Folder() const = 0;
    // The folder named on the command line, shown at start instead of the one the settings
    // choose ("" for none). Never written to the settings.
    virtual QString StartFolder() const = 0;
    // The one way to change it (the current directory follows). An empty path means no folder and
    // leaves the current directory as it is. Returns false, changing nothing, when the folder
    // cannot be entered.
    virtual bool SetFolder(const QString& path) = 0;
    // Tells every view but the sender to update: with a sender the folder changed and the grid
    // lists it again; with none the views only repaint.
    virtual void UpdateAllViews(CView* pSender) = 0;
    // A pane of the window, found by its kind; null while it does not exist.
    virtual CView* PaneView(Pane pane) const = 0;
    // Shows a popup menu owned by the frame: its items take the frame's enabling and check marks
    // and their commands travel the frame's route (the active pane first).
    virtual void TrackFramePopup(QMenu& menu, QPoint globalPos) = 0;
};
