// The feedback sheet's controller. The editor creates one with initFromStory and presents it as a
// modal window of its own; the sheet then runs by itself and returns nothing to the caller.
#pragma once

#include <memory>

namespace tamberlo {

class FeedbackVC {
public:
    // A new sheet controller, or nullptr when the sheet cannot be made (the caller then shows nothing).
    static std::shared_ptr<FeedbackVC> initFromStory();

    virtual ~FeedbackVC() = default;

protected:
    FeedbackVC() = default;
};

}  // namespace tamberlo
