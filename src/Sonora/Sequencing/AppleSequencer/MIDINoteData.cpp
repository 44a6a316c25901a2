#include "Sonora/Sequencing/AppleSequencer/MIDINoteData.h"

#include "Sonora/Internals/Utilities/Log.h"

namespace sonora {

bool MIDINoteData::operator==(const MIDINoteData& other) const {
    return noteNumber == other.noteNumber && velocity == other.velocity && channel == other.channel &&
           duration.beats == other.duration.beats && position.beats == other.position.beats;
}

std::string MIDINoteData::description() const {
    return "note: " + std::to_string(noteNumber) + "\nvelocity: " + std::to_string(velocity) +
           "\nchannel: " + std::to_string(channel) + "\nduration: " + LogItem(duration.beats).text() +
           "\nposition: " + LogItem(position.beats).text();
}

}  // namespace sonora
