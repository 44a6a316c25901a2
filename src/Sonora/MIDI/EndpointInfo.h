// The description of one MIDI endpoint: the properties a user interface shows and the
// identifiers needed to open it. Equality and the hash leave the endpoint reference out.
#pragma once

#include "Sonora/MIDI/MIDIListener.h"

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>

namespace sonora {

struct EndpointInfo {
    std::string name, displayName, model, manufacturer, image, driverOwner;
    MIDIUniqueID midiUniqueID = 0;
    MIDIEndpointRef midiEndpointRef = 0;
    std::optional<MIDIPortRef> midiPortRef;

    EndpointInfo() = default;
    EndpointInfo(std::string name, std::string displayName, std::string model, std::string manufacturer,
                 std::string image, std::string driverOwner, MIDIUniqueID midiUniqueID, MIDIEndpointRef midiEndpointRef,
                 std::optional<MIDIPortRef> midiPortRef = std::nullopt);
    // The info of one platform endpoint.
    static EndpointInfo of(MIDIEndpointRef endpoint);

    size_t hashValue() const;
    bool operator==(const EndpointInfo& other) const;

    // JSON object with the nine keys ("midiPortRef" only when present).
    std::string encode() const;
    // Throws DecodingError when a key is missing or has the wrong type, or the text is no object.
    static EndpointInfo decode(const std::string& json);
};

struct DecodingError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace sonora

template <>
struct std::hash<sonora::EndpointInfo> {
    size_t operator()(const sonora::EndpointInfo& info) const { return info.hashValue(); }
};
