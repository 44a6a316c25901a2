// One clip of the editor: a piece of audio (an open audio file) placed at a start time on the
// timeline, with optional fades and a mute switch. Times are seconds.
#pragma once

#include "platform/avfaudio/AVAudioFile.h"

#include <memory>
#include <string>

namespace tamberlo {

class MusicModel {
public:
    // A clip with a new identity, no audio, start 0, no fades, not muted.
    MusicModel();
    static std::shared_ptr<MusicModel> make() { return std::make_shared<MusicModel>(); }

    // Identity text (a UUID); copied by newCopy, new for every other creation.
    std::string identify;
    // The clip's audio, open for reading; null when the clip refers to no file.
    std::shared_ptr<platform::AVAudioFile> file;
    // Display name; import sets the imported file's name.
    std::string name;
    // Where the clip begins on the timeline.
    double startTime = 0;
    // Length of the fade-in at the clip's start; 0 = none.
    double fadeInTime = 0;
    // Length of the fade-out at the clip's end; 0 = none.
    double fadeOutTime = 0;
    // The clip is silent in playback and in the export.
    bool isMute = false;

    // Seconds of audio in the file (0 without a file or without a sample rate).
    double duration() const;

    // The same clip for the history: same identity and fields, the same open file object.
    std::shared_ptr<MusicModel> newCopy() const;
    // A deep copy with a new identity and a new work file holding the whole audio; fades stay
    // values on the copy. Without a written work file the copy refers to no file.
    std::shared_ptr<MusicModel> duplicate() const;
};

// A new UUID in its standard upper-case text form.
std::string newIdentify();

}  // namespace tamberlo
