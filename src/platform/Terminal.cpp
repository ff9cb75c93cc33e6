#include "platform/Terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace Terminal {

bool IsTerminal(std::FILE* stream) {
    return stream && ::isatty(fileno(stream)) == 1;
}

int Columns(std::FILE* stream) {
    winsize ws{};
    if (stream && ::ioctl(fileno(stream), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0)
        return ws.ws_col;
    return 80;
}

} // namespace Terminal
