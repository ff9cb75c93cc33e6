// Command targets, command-update state and the route a command takes through the program.
//
// Every menu item, accelerator and toolbar button carries a numeric command ID. A command is
// offered to a list of targets in order (the active pane, the frame, the application); the
// first target that has a handler for the ID carries it out. Before a menu opens, and when the
// program is idle for the toolbar, each item is asked for its state: the first target on the
// route with an update handler decides it; when no target has one, the item is enabled exactly
// when some target on the route has a command handler.
#pragma once

#include <functional>
#include <vector>

class QAction;

enum CmdCode {
    CN_COMMAND,           // carry the command out
    CN_UPDATE_COMMAND_UI, // run the update handler, if any
    CN_PROBE,             // only tell whether a command handler exists
};

// The state of one command's user-interface items, filled in by update handlers.
class CCmdUI {
public:
    explicit CCmdUI(unsigned nID) : m_nID(nID) {}
    void Enable(bool bOn = true) {
        m_bEnabled = bOn;
        m_bEnableChanged = true;
    }
    void SetCheck(int nCheck = 1) { m_nCheck = nCheck; }

    unsigned m_nID;
    bool m_bEnabled = true;
    bool m_bEnableChanged = false;
    int m_nCheck = 0;
};

class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    // Looks the ID up in this target's own command map (and, for views, the document's).
    // Returns true when the target has a handler of the kind nCode asks for; for CN_COMMAND and
    // CN_UPDATE_COMMAND_UI the handler has then run.
    virtual bool OnCmdMsg(unsigned nID, CmdCode nCode, CCmdUI* pCmdUI);

    // Sends a command straight to this target, as a window receiving WM_COMMAND would: the
    // target's own update handler may refuse it; otherwise its command handler runs.
    bool SendCommand(unsigned nID);

protected:
    using Handler = std::function<void(unsigned)>;
    using UpdateHandler = std::function<void(CCmdUI*)>;

    void MapCommand(unsigned nID, std::function<void()> fn);
    void MapCommandRange(unsigned nFirst, unsigned nLast, Handler fn);
    void MapUpdate(unsigned nID, UpdateHandler fn);
    void MapUpdateRange(unsigned nFirst, unsigned nLast, UpdateHandler fn);

private:
    struct Entry {
        unsigned first, last;
        Handler command;
        UpdateHandler update;
    };
    std::vector<Entry> m_map;
};

// The route of one window: an ordered list of targets, produced anew for every command so that it
// follows the active pane.
class CCmdRouter {
public:
    using RouteFn = std::function<std::vector<CCmdTarget*>()>;
    explicit CCmdRouter(RouteFn route) : m_route(std::move(route)) {}

    // Fills the state of one command; returns true when some target had an update or command
    // handler for it.
    bool Update(CCmdUI& ui) const;
    // Applies the state of the action's command (its ID in QAction::data) to the action.
    void UpdateAction(QAction* action) const;
    // Carries the command out unless its state is disabled; returns true when a target ran it.
    bool Execute(unsigned nID) const;

private:
    RouteFn m_route;
};

// The command ID a QAction carries (0 for none).
unsigned CommandIdOf(const QAction* action);
void SetCommandId(QAction* action, unsigned nID);
