#include "platform/audiotoolbox/AVAudioUnit.h"

namespace platform {

AVAudioUnit::AVAudioUnit(std::shared_ptr<AUAudioUnit> unit)
    : AVAudioNode(unit->inputBusses().count(), unit->outputBusses().count(), unit) {
    // Units whose input bus count changes (mixers) keep the node's bus count in step.
    if (unit->inputBusses().isCountChangeable() && !unit->inputBusses().countChangeHandler) {
        unit->inputBusses().countChangeHandler = [this](uint32_t, uint32_t newCount) {
            setNumberOfInputs(newCount);
            return true;
        };
    }
}

void AVAudioUnit::instantiate(const AudioComponentDescription& description, AudioComponentInstantiationOptions options,
                              const std::function<void(std::shared_ptr<AVAudioUnit>, std::optional<NSError>)>& completion) {
    NSError error;
    auto unit = AUAudioUnit::instantiate(description, options, &error);
    if (!completion) return;
    if (!unit) return completion(nullptr, error);
    completion(std::make_shared<AVAudioUnit>(std::move(unit)), std::nullopt);
}

AVAudioUnit::~AVAudioUnit() {
    if (auto unit = auAudioUnit()) unit->inputBusses().countChangeHandler = nullptr;
}

AudioUnit AVAudioUnit::audioUnit() const { return auAudioUnit()->audioUnit(); }

AudioComponentDescription AVAudioUnit::audioComponentDescription() const {
    return auAudioUnit()->componentDescription();
}

std::string AVAudioUnit::name() const { return auAudioUnit()->audioUnitName; }

AVAudioFormat AVAudioUnit::defaultOutputFormat(AVAudioNodeBus bus) const {
    if (auto b = auAudioUnit()->outputBusses()[bus]) return b->format();
    return {};
}

AVAudioFormat AVAudioUnit::defaultInputFormat(AVAudioNodeBus bus) const {
    if (auto b = auAudioUnit()->inputBusses()[bus]) return b->format();
    return {};
}

}  // namespace platform
