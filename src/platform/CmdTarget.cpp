#include "platform/CmdTarget.h"

#include <QAction>
#include <QMenu>

bool CCmdTarget::OnCmdMsg(unsigned nID, CmdCode nCode, CCmdUI* pCmdUI) {
    for (const Entry& e : m_map) {
        if (nID < e.first || nID > e.last)
            continue;
        switch (nCode) {
        case CN_COMMAND:
            if (e.command) {
                e.command(nID);
                return true;
            }
            break;
        case CN_UPDATE_COMMAND_UI:
            if (e.update) {
                e.update(pCmdUI);
                return true;
            }
            break;
        case CN_PROBE:
            if (e.command)
                return true;
            break;
        }
    }
    return false;
}

bool CCmdTarget::SendCommand(unsigned nID) {
    CCmdUI state(nID);
    OnCmdMsg(nID, CN_UPDATE_COMMAND_UI, &state);
    if (!state.m_bEnabled)
        return false;
    return OnCmdMsg(nID, CN_COMMAND, nullptr);
}

void CCmdTarget::MapCommand(unsigned nID, std::function<void()> fn) {
    m_map.push_back({nID, nID, [fn = std::move(fn)](unsigned) { fn(); }, {}});
}

void CCmdTarget::MapCommandRange(unsigned nFirst, unsigned nLast, Handler fn) {
    m_map.push_back({nFirst, nLast, std::move(fn), {}});
}

void CCmdTarget::MapUpdate(unsigned nID, UpdateHandler fn) {
    m_map.push_back({nID, nID, {}, std::move(fn)});
}

void CCmdTarget::MapUpdateRange(unsigned nFirst, unsigned nLast, UpdateHandler fn) {
    m_map.push_back({nFirst, nLast, {}, std::move(fn)});
}

bool CCmdRouter::Update(CCmdUI& ui) const {
    const std::vector<CCmdTarget*> route = m_route();
    for (CCmdTarget* t : route)
        if (t && t->OnCmdMsg(ui.m_nID, CN_UPDATE_COMMAND_UI, &ui))
            return true;
    for (CCmdTarget* t : route)
        if (t && t->OnCmdMsg(ui.m_nID, CN_PROBE, nullptr)) {
            ui.Enable(true);
            return true;
        }
    ui.Enable(false);
    return false;
}

void CCmdRouter::UpdateAction(QAction* action) const {
    const unsigned id = CommandIdOf(action);
    if (id == 0 || action->isSeparator() || action->menu())
        return;
    CCmdUI ui(id);
    Update(ui);
    action->setEnabled(ui.m_bEnabled);
    action->setCheckable(ui.m_nCheck != 0 || action->isCheckable());
    action->setChecked(ui.m_nCheck != 0);
}

bool CCmdRouter::Execute(unsigned nID) const {
    // A command whose state turned disabled since its item was last drawn is not carried out.
    CCmdUI state(nID);
    const std::vector<CCmdTarget*> route = m_route();
    for (CCmdTarget* t : route)
        if (t && t->OnCmdMsg(nID, CN_UPDATE_COMMAND_UI, &state))
            break;
    if (!state.m_bEnabled)
        return false;
    for (CCmdTarget* t : route)
        if (t && t->OnCmdMsg(nID, CN_COMMAND, nullptr))
            return true;
    return false;
}

unsigned CommandIdOf(const QAction* action) {
    return action ? action->data().toUInt() : 0;
}

void SetCommandId(QAction* action, unsigned nID) {
    action->setData(nID);
}
