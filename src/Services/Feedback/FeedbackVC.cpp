#include "Services/Feedback/FeedbackVC.h"

namespace tamberlo {

// The sheet has no window yet: nothing to present.
std::shared_ptr<FeedbackVC> FeedbackVC::initFromStory() { return nullptr; }

}  // namespace tamberlo
