#include "platform/DocView.h"

#include <QWidget>
#include <algorithm>

CDocument::~CDocument() {
    for (CView* v : std::vector<CView*>(m_views))
        v->AttachDocument(nullptr);
}

void CDocument::AddView(CView* pView) {
    if (std::find(m_views.begin(), m_views.end(), pView) == m_views.end())
        m_views.push_back(pView);
}

void CDocument::RemoveView(CView* pView) {
    m_views.erase(std::remove(m_views.begin(), m_views.end(), pView), m_views.end());
}

void CDocument::UpdateAllViews(CView* pSender, long lHint, void* pHint) {
    for (CView* v : std::vector<CView*>(m_views))
        if (v != pSender)
            v->OnUpdate(pSender, lHint, pHint);
}

CView::~CView() {
    if (m_pDocument)
        m_pDocument->RemoveView(this);
}

void CView::AttachDocument(CDocument* pDoc) {
    if (m_pDocument == pDoc)
        return;
    if (m_pDocument)
        m_pDocument->RemoveView(this);
    m_pDocument = pDoc;
    if (m_pDocument)
        m_pDocument->AddView(this);
}

void CView::OnUpdate(CView*, long, void*) {
    if (QWidget* w = Widget())
        w->update();
}

bool CView::OnCmdMsg(unsigned nID, CmdCode nCode, CCmdUI* pCmdUI) {
    if (CCmdTarget::OnCmdMsg(nID, nCode, pCmdUI))
        return true;
    return m_pDocument && m_pDocument->OnCmdMsg(nID, nCode, pCmdUI);
}
