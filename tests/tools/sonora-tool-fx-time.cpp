#include "sonora-tool-fx-time.h"

#include "Sonora/Nodes/Effects/Reverb.h"
#include "Sonora/Nodes/Effects/TimePitch.h"
#include "Sonora/Nodes/Effects/VariSpeed.h"

#include <cmath>
#include <stdexcept>

namespace {

[[noreturn]] void noProperty(const std::string& name) { throw std::invalid_argument("the node has no property " + name); }

}  // namespace

std::optional<TimeEffectSubject> makeTimeEffectNode(const std::string& name, const std::shared_ptr<sonora::Node>& input) {
    if (name == "reverb") {
        auto reverb = std::make_shared<sonora::Reverb>(input);
        return TimeEffectSubject{reverb,
                                 [reverb](const std::string& property, float value) {
                                     if (property == "dryWetMix") return reverb->setDryWetMix(value);
                                     if (property == "preset")
                                         return reverb->loadFactoryPreset(
                                             platform::AVAudioUnitReverbPreset(std::lround(value)));
                                     noProperty(property);
                                 },
                                 [reverb] { reverb->stop(); }};
    }
    if (name == "timePitch") {
        auto timePitch = std::make_shared<sonora::TimePitch>(input);
        return TimeEffectSubject{timePitch,
                                 [timePitch](const std::string& property, float value) {
                                     if (property == "rate") return timePitch->setRate(value);
                                     if (property == "pitch") return timePitch->setPitch(value);
                                     if (property == "overlap") return timePitch->setOverlap(value);
                                     noProperty(property);
                                 },
                                 [timePitch] { timePitch->stop(); }};
    }
    if (name == "variSpeed") {
        auto variSpeed = std::make_shared<sonora::VariSpeed>(input);
        return TimeEffectSubject{variSpeed,
                                 [variSpeed](const std::string& property, float value) {
                                     if (property == "rate") return variSpeed->setRate(value);
                                     noProperty(property);
                                 },
                                 [variSpeed] { variSpeed->stop(); }};
    }
    return std::nullopt;
}
