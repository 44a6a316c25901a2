// MIDI controller numbers with names.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sonora {

enum class MIDIControl : uint8_t {
    modulationWheel = 1, breathControl = 2, footControl = 4, portamento = 5, dataEntry = 6, mainVolume = 7,
    balance = 8, pan = 10, expression = 11, damperOnOff = 64, portamentoOnOff = 65, sustenutoOnOff = 66,
    softPedalOnOff = 67, soundVariation = 70, resonance = 71, releaseTime = 72, attackTime = 73, cutoff = 74,
    soundControl6 = 75, soundControl7 = 76, soundControl8 = 77, soundControl9 = 78, soundControl10 = 79,
    gpButton1 = 80, gpButton2 = 81, gpButton3 = 82, gpButton4 = 83, reverbLevel = 91, tremoloLevel = 92,
    chorusLevel = 93, celesteLevel = 94, phaserLevel = 95, dataEntryPlus = 96, dataEntryMinus = 97,
    NrpnLsb = 98, NrpnMsb = 99, RpnLsb = 100, RpnMsb = 101, allSoundsOff = 120, allControllersOff = 121,
    localControlOnOff = 122, allNotesOff = 123, omniModeOff = 124, omniModeOn = 125, monoOperation = 126,
    polyOperation = 127, cc0 = 0, cc3 = 3, cc9 = 9,
    cc12 = 12, cc13, cc14, cc15, cc16, cc17, cc18, cc19, cc20, cc21, cc22, cc23, cc24, cc25, cc26, cc27,
    cc28, cc29, cc30, cc31, cc32,
    modulationWheelLsb = 33, breathControllerLsb = 34, footControlLsb = 35, portamentoLsb = 37,
    dataEntryLsb = 38, mainVolumeLsb = 39, balanceLsb = 40, panLsb = 42, expressionLsb = 43,
    effectControl1Lsb = 44, effectControl2Lsb = 45,
};

// init(rawValue:): none for the numbers without a case and for 128 and above.
std::optional<MIDIControl> MIDIControlFromRawValue(uint8_t number);
std::string description(MIDIControl control);

}  // namespace sonora
