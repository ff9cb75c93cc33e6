// The folder tree, the left pane of the main frame.
#pragma once

#include "platform/DocView.h"

#include <QTreeWidget>

class CQuillaDoc;

class CDirView : public QTreeWidget, public CView {
    Q_OBJECT
public:
    explicit CDirView(QWidget* parent = nullptr);

    QWidget* Widget() override { return this; }
    CQuillaDoc* GetDocument() const;
    void OnInitialUpdate() override;

private:
    // Sends the command on to the thumbnail view, which carries out the file-level commands.
    void ForwardToThumbnails(unsigned nID);
};
