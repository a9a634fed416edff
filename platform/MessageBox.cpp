#include "platform/MessageBox.h"

#include <cstdio>
#include <mutex>

namespace {

std::mutex handlerMutex;
MessageHandler installedHandler; // Guarded by handlerMutex

MessageAnswer dispatch(const MessageRequest& request) {
    MessageHandler handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = installedHandler;
    }
    // Called outside the lock: a handler may block for a long time waiting
    // for the user, and another thread may need to show its own message.
    if (handler) {
        return handler(request);
    }
    std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
    return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

} // namespace

MessageHandler setMessageHandler(MessageHandler handler) {
    std::lock_guard lock(handlerMutex);
    std::swap(installedHandler, handler);
    return handler;
}

void showMessage(const std::string& text, const std::string& caption) {
    dispatch({text, caption, MessageButtons::Ok});
}

bool askYesNo(const std::string& text, const std::string& caption) {
    return dispatch({text, caption, MessageButtons::YesNo}) == MessageAnswer::Yes;
}
