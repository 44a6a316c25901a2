// The parameters of an audio unit, found by address or by identifier (key path).
#pragma once

#include "platform/audiotoolbox/AUParameter.h"

#include <optional>

namespace platform {

class AUParameterTree {
public:
    ~AUParameterTree();

    // createParameterWithIdentifier:name:address:min:max:unit:unitName:flags:valueStrings:
    // dependentParameters:. The value starts at min.
    static std::shared_ptr<AUParameter> createParameter(
        const std::string& identifier, const std::string& name, AUParameterAddress address, AUValue min, AUValue max,
        AudioUnitParameterUnit unit, const std::optional<std::string>& unitName, AudioUnitParameterOptions flags,
        const std::vector<std::string>& valueStrings = {},
        const std::vector<AUParameterAddress>& dependentParameters = {});

    // createTreeWithChildren:. A parameter belongs to one tree: the last tree made with it.
    static std::shared_ptr<AUParameterTree> createTree(std::vector<std::shared_ptr<AUParameter>> children);

    // parameterWithAddress:, or null.
    std::shared_ptr<AUParameter> parameter(AUParameterAddress address) const;
    // valueForKey: / valueForKeyPath: on the identifiers, or null.
    std::shared_ptr<AUParameter> valueForKey(const std::string& key) const;
    std::shared_ptr<AUParameter> valueForKeyPath(const std::string& keyPath) const { return valueForKey(keyPath); }

    const std::vector<std::shared_ptr<AUParameter>>& children() const { return children_; }
    // Every parameter, in child order.
    const std::vector<std::shared_ptr<AUParameter>>& allParameters() const { return children_; }

    // Observers of every parameter of the tree (called after the parameter's own).
    AUParameterObserverToken tokenByAddingParameterObserver(AUParameterObserver observer);
    AUParameterObserverToken tokenByAddingParameterAutomationObserver(AUParameterAutomationObserver observer);
    void removeParameterObserver(AUParameterObserverToken token);

    // The implementor's hooks for parameters that have none of their own.
    std::function<void(AUParameter*, AUValue)> implementorValueObserver;
    std::function<AUValue(AUParameter*)> implementorValueProvider;
    // The text of a value (null: the parameter's current value) for parameters of this tree.
    std::function<std::string(AUParameter*, const AUValue*)> implementorStringFromValueCallback;

private:
    friend class AUParameter;
    AUParameterTree() = default;
    std::vector<std::shared_ptr<AUParameter>> children_;

    struct Observer {
        AUParameterObserverToken token;
        AUParameterObserver plain;
        AUParameterAutomationObserver automation;
    };
    mutable std::mutex observersMutex_;
    std::vector<Observer> observers_;
};

}  // namespace platform
