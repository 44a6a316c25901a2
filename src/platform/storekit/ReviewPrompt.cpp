#include "platform/storekit/ReviewPrompt.h"

#include "platform/foundation/OSLog.h"

#include <mutex>

namespace platform {

namespace {
std::mutex handlerMutex;
std::function<void()>& handler() {
    static std::function<void()> current;
    return current;
}
}  // namespace

void ReviewPrompt::requestReview() {
    std::function<void()> custom;
    {
        std::lock_guard lock(handlerMutex);
        custom = handler();
    }
    if (custom) {
        custom();
        return;
    }
    os_log(OSLog{"io.tamberlo.Tamberlo", "storekit"}, OSLogType::info, "review prompt requested");
}

void ReviewPrompt::setHandlerForTesting(std::function<void()> newHandler) {
    std::lock_guard lock(handlerMutex);
    handler() = std::move(newHandler);
}

}  // namespace platform
