// The store's rating prompt. There is no application store here: a request is only written to the
// system log ("review prompt requested"); tests count the requests through their own handler.
#pragma once

#include <functional>

namespace platform {

class ReviewPrompt {
public:
    // Asks for the prompt; whether one is shown is the store's business, so nothing comes back.
    static void requestReview();
    // Replaces what a request does (tests); an empty function puts the logging back.
    static void setHandlerForTesting(std::function<void()> handler);
};

}  // namespace platform
