// A channel layout named by its tag. The tags known here: kAudioChannelLayoutTag_DiscreteInOrder
// (147 << 16) | n, and the mono and stereo tags; the low 16 bits of a tag count its channels.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

using AudioChannelLayoutTag = uint32_t;
inline constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_Mono = (100u << 16) | 1;
inline constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_Stereo = (101u << 16) | 2;
inline constexpr AudioChannelLayoutTag kAudioChannelLayoutTag_DiscreteInOrder = 147u << 16;

class AVAudioChannelLayout {
public:
    // init(layoutTag:): none for a tag of another family or with no channels.
    static std::optional<AVAudioChannelLayout> layoutWithLayoutTag(AudioChannelLayoutTag tag) {
        const uint32_t family = tag >> 16;
        if ((tag & 0xFFFF) == 0) return std::nullopt;
        if (family != 147 && tag != kAudioChannelLayoutTag_Mono && tag != kAudioChannelLayoutTag_Stereo) return std::nullopt;
        return AVAudioChannelLayout(tag);
    }

    AudioChannelLayoutTag layoutTag() const { return tag_; }
    uint32_t channelCount() const { return tag_ & 0xFFFF; }
    bool operator==(const AVAudioChannelLayout&) const = default;

private:
    explicit AVAudioChannelLayout(AudioChannelLayoutTag tag) : tag_(tag) {}
    AudioChannelLayoutTag tag_;
};

}  // namespace platform
