// What incoming MIDI is handed to: listeners get each event by kind, transformers rewrite the
// list of events of a packet before the listeners see it. Every requirement has an empty default.
#pragma once

#include "Sonora/MIDI/MIDIEvent.h"
#include "platform/coremidi/MIDIObjects.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace sonora {

using MIDIUniqueID = platform::MIDIUniqueID;
using MIDIPortRef = platform::MIDIPortRef;
using MIDIEndpointRef = platform::MIDIEndpointRef;
using MIDIClientRef = platform::MIDIClientRef;
using MIDIByte = uint8_t;

class MIDIListener {
public:
    virtual ~MIDIListener() = default;
    using PortID = std::optional<MIDIUniqueID>;
    using Stamp = std::optional<MIDITimeStamp>;

    virtual void receivedMIDINoteOn(MIDIByte /*noteNumber*/, MIDIByte /*velocity*/, MIDIByte /*channel*/, PortID /*portID*/,
                                    Stamp /*timeStamp*/) {}
    virtual void receivedMIDINoteOff(MIDIByte /*noteNumber*/, MIDIByte /*velocity*/, MIDIByte /*channel*/, PortID /*portID*/,
                                     Stamp /*timeStamp*/) {}
    virtual void receivedMIDIController(MIDIByte /*controller*/, MIDIByte /*value*/, MIDIByte /*channel*/, PortID /*portID*/,
                                        Stamp /*timeStamp*/) {}
    // Polyphonic key pressure.
    virtual void receivedMIDIAftertouch(MIDIByte /*noteNumber*/, MIDIByte /*pressure*/, MIDIByte /*channel*/, PortID /*portID*/,
                                        Stamp /*timeStamp*/) {}
    // Channel pressure.
    virtual void receivedMIDIAftertouch(MIDIByte /*pressure*/, MIDIByte /*channel*/, PortID /*portID*/, Stamp /*timeStamp*/) {}
    virtual void receivedMIDIPitchWheel(uint16_t /*pitchWheelValue*/, MIDIByte /*channel*/, PortID /*portID*/, Stamp /*timeStamp*/) {}
    virtual void receivedMIDIProgramChange(MIDIByte /*program*/, MIDIByte /*channel*/, PortID /*portID*/, Stamp /*timeStamp*/) {}
    // The whole message of a system status.
    virtual void receivedMIDISystemCommand(const std::vector<MIDIByte>& /*data*/, PortID /*portID*/, Stamp /*timeStamp*/) {}
    virtual void receivedMIDISetupChange() {}
    virtual void receivedMIDIPropertyChange(const platform::MIDIObjectPropertyChangeNotification& /*propertyChangeInfo*/) {}
    virtual void receivedMIDINotification(const platform::MIDINotification& /*notification*/) {}

    // Removal compares identity.
    bool isEqualTo(const MIDIListener& other) const { return this == &other; }
};

class MIDITransformer {
public:
    virtual ~MIDITransformer() = default;
    // Default: logs "MIDI Transformer called" and returns the list unchanged.
    virtual std::vector<MIDIEvent> transform(std::vector<MIDIEvent> eventList);
    bool isEqualTo(const MIDITransformer& other) const { return this == &other; }
};

}  // namespace sonora
