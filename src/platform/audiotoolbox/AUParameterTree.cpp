#include "platform/audiotoolbox/AUParameterTree.h"

namespace platform {

AUParameterTree::~AUParameterTree() {
    // A parameter may outlive its tree; it must not reach back into a dead one.
    for (const auto& parameter : children_) {
        AUParameterTree* self = this;
        parameter->tree_.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
    }
}

std::shared_ptr<AUParameter> AUParameterTree::createParameter(
    const std::string& identifier, const std::string& name, AUParameterAddress address, AUValue min, AUValue max,
    AudioUnitParameterUnit unit, const std::optional<std::string>& unitName, AudioUnitParameterOptions flags,
    const std::vector<std::string>& valueStrings, const std::vector<AUParameterAddress>& dependentParameters) {
    return std::make_shared<AUParameter>(identifier, name, address, min, max, unit, unitName.value_or(""), flags,
                                         valueStrings, dependentParameters);
}

std::shared_ptr<AUParameterTree> AUParameterTree::createTree(std::vector<std::shared_ptr<AUParameter>> children) {
    std::shared_ptr<AUParameterTree> tree(new AUParameterTree());
    std::erase(children, nullptr);
    tree->children_ = std::move(children);
    for (const auto& parameter : tree->children_) parameter->tree_.store(tree.get(), std::memory_order_release);
    return tree;
}

std::shared_ptr<AUParameter> AUParameterTree::parameter(AUParameterAddress address) const {
    for (const auto& parameter : children_)
        if (parameter->address() == address) return parameter;
    return nullptr;
}

std::shared_ptr<AUParameter> AUParameterTree::valueForKey(const std::string& key) const {
    for (const auto& parameter : children_)
        if (parameter->keyPath() == key) return parameter;
    return nullptr;
}

AUParameterObserverToken AUParameterTree::tokenByAddingParameterObserver(AUParameterObserver observer) {
    const auto token = AUParameterMakeObserverToken();
    std::lock_guard lock(observersMutex_);
    observers_.push_back({token, std::move(observer), nullptr});
    return token;
}

AUParameterObserverToken AUParameterTree::tokenByAddingParameterAutomationObserver(
    AUParameterAutomationObserver observer) {
    const auto token = AUParameterMakeObserverToken();
    std::lock_guard lock(observersMutex_);
    observers_.push_back({token, nullptr, std::move(observer)});
    return token;
}

void AUParameterTree::removeParameterObserver(AUParameterObserverToken token) {
    std::lock_guard lock(observersMutex_);
    std::erase_if(observers_, [token](const Observer& o) { return o.token == token; });
}

}  // namespace platform
