#include "platform/HelpRequest.h"

#include <utility>

namespace HelpRequest {

namespace {
Handler& Current() {
    static Handler handler;
    return handler;
}
} // namespace

Handler SetHandler(Handler handler) {
    return std::exchange(Current(), std::move(handler));
}

void Show(unsigned long dwData, unsigned nCmd) {
    if (Current())
        Current()(dwData, nCmd);
}

} // namespace HelpRequest
