// The document/view pair: a document holds the data, its views show it and are told to update
// when it changes. A view routes commands to itself first and then to its document.
#pragma once

#include "platform/CmdTarget.h"

#include <vector>

class CPaneSite;
class CView;
class QWidget;

class CDocument : public CCmdTarget {
public:
    ~CDocument() override;

    void AddView(CView* pView);
    void RemoveView(CView* pView);
    const std::vector<CView*>& Views() const { return m_views; }

    // Tells every view but pSender to update (OnUpdate(pSender, lHint, pHint)).
    void UpdateAllViews(CView* pSender, long lHint = 0, void* pHint = nullptr);

    // Run-time class lookup: the first view, in the order they were added, of class T.
    template <class T> T* FindView() const {
        for (CView* v : m_views)
            if (T* t = dynamic_cast<T*>(v))
                return t;
        return nullptr;
    }

private:
    std::vector<CView*> m_views;
};

class CView : public CCmdTarget {
public:
    ~CView() override;

    CDocument* GetDocument() const { return m_pDocument; }
    void AttachDocument(CDocument* pDoc);
    // The window around the view (the current folder, the other pane, the frame's menus).
    CPaneSite* Site() const { return m_pSite; }
    void SetSite(CPaneSite* pSite) { m_pSite = pSite; }

    // The widget that is this view on screen.
    virtual QWidget* Widget() = 0;

    virtual void OnInitialUpdate() { OnUpdate(nullptr, 0, nullptr); }
    // Base behaviour: the view is repainted.
    virtual void OnUpdate(CView* pSender, long lHint, void* pHint);

    bool OnCmdMsg(unsigned nID, CmdCode nCode, CCmdUI* pCmdUI) override;

private:
    CDocument* m_pDocument = nullptr;
    CPaneSite* m_pSite = nullptr;
};
