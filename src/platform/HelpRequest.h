// The program's help routine as the panes and their dialogs reach it: the application installs
// the routine at start-up, and a dialog asks it for a topic by its context number without knowing
// the application.
#pragma once

#include <functional>

namespace HelpRequest {

// The routine takes the help data (a context number) and the help command (HELP_CONTEXT, ...).
using Handler = std::function<void(unsigned long dwData, unsigned nCmd)>;
// Installs the routine; returns the one installed before.
Handler SetHandler(Handler handler);
// Passes a request to the routine; nothing happens while none is installed.
void Show(unsigned long dwData, unsigned nCmd);

} // namespace HelpRequest
