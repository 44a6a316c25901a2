// How node classes declare their parameters: a Parameter<float> or Parameter<bool> member wraps a
// NodeParameter and reads and writes it as a plain value. Node classes list these members in
// declaration order (Node::parameterProperties) so the node can find and build them.
#pragma once

#include "Sonora/Nodes/NodeParameter.h"

#include <memory>

namespace sonora {

// The value types a Parameter may expose, with their conversion to and from an audio-unit value.
template <typename T>
struct NodeParameterType;

template <>
struct NodeParameterType<float> {
    static platform::AUValue toAUValue(float value) { return value; }
    static float fromAUValue(platform::AUValue value) { return value; }
};

template <>
struct NodeParameterType<bool> {
    static platform::AUValue toAUValue(bool value) { return value ? 1.0f : 0.0f; }
    static bool fromAUValue(platform::AUValue value) { return value > 0.5f; }
};

// What a node's parameter walk looks for: the wrapped NodeParameter.
class ParameterBase {
public:
    virtual ~ParameterBase() = default;
    virtual std::shared_ptr<NodeParameter> projectedValue() const = 0;
};

template <typename Value>
class Parameter : public ParameterBase {
public:
    explicit Parameter(NodeParameterDef def) : param(std::make_shared<NodeParameter>(std::move(def))) {}

    // The bound parameter's value, converted.
    Value wrappedValue() const { return NodeParameterType<Value>::fromAUValue(param->value()); }
    // Writes through NodeParameter::setValue, so the value is clamped and reaches the audio unit.
    void setWrappedValue(Value value) { param->setValue(NodeParameterType<Value>::toAUValue(value)); }

    operator Value() const { return wrappedValue(); }  // NOLINT: reads like the value it wraps
    Parameter& operator=(Value value) {
        setWrappedValue(value);
        return *this;
    }
    Parameter& operator+=(Value value) requires(!std::is_same_v<Value, bool>) {
        setWrappedValue(wrappedValue() + value);
        return *this;
    }
    Parameter& operator-=(Value value) requires(!std::is_same_v<Value, bool>) {
        setWrappedValue(wrappedValue() - value);
        return *this;
    }

    std::shared_ptr<NodeParameter> projectedValue() const override { return param; }
    void setProjectedValue(std::shared_ptr<NodeParameter> parameter) { param = std::move(parameter); }

private:
    std::shared_ptr<NodeParameter> param;
};

}  // namespace sonora
