// Effect nodes: one input bus, one output bus, and a bypass that passes the input through.
// AVAudioUnitEffect(description) makes the unit registered for the description; the built-in
// effects register themselves before the first lookup. AVAudioUnitTimeEffect is the base of the
// effects that change time (their units pull other frame counts than they render).
#pragma once

#include "platform/audiotoolbox/AVAudioUnit.h"

#include <stdexcept>

namespace platform {

class AVAudioUnitEffect : public AVAudioUnit {
public:
    // Throws std::invalid_argument when no unit is registered for the description.
    explicit AVAudioUnitEffect(const AudioComponentDescription& description);

    bool bypass() const { return auAudioUnit()->shouldBypassEffect(); }
    void setBypass(bool bypass) { auAudioUnit()->setShouldBypassEffect(bypass); }

    std::string className() const override { return "AVAudioUnitEffect"; }

protected:
    explicit AVAudioUnitEffect(std::shared_ptr<AUAudioUnit> unit) : AVAudioUnit(std::move(unit)) {}
};

class AVAudioUnitTimeEffect : public AVAudioUnit {
public:
    explicit AVAudioUnitTimeEffect(const AudioComponentDescription& description);

    bool bypass() const { return auAudioUnit()->shouldBypassEffect(); }
    void setBypass(bool bypass) { auAudioUnit()->setShouldBypassEffect(bypass); }

    std::string className() const override { return "AVAudioUnitTimeEffect"; }
    bool pullsAtOwnPace() const override { return true; }

protected:
    explicit AVAudioUnitTimeEffect(std::shared_ptr<AUAudioUnit> unit) : AVAudioUnit(std::move(unit)) {}
};

// The registered unit for a description, or std::invalid_argument naming it. Registers the
// built-in effect units on first use.
std::shared_ptr<AUAudioUnit> makeEffectUnit(const AudioComponentDescription& description);

// Registers the built-in effect units ('aufx'/'appl'); safe to call any number of times.
void registerBuiltInEffectUnits();

}  // namespace platform
