#include "TamberloMac/Model/TrackModel.h"

#include "Sonora/AudioFiles/AVAudioFileUtilities.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/Model/AVAudioFileDuration.h"
#include "TamberloMac/Playback/Player.h"
#include "TamberloMac/detail/DebugText.h"

#include <algorithm>
#include <iostream>

namespace tamberlo {

namespace {

// Writes frames [from, to) of the clip's file as a work file and opens it again for reading;
// null when extraction or reopening fails.
std::shared_ptr<platform::AVAudioFile> extractFrames(platform::AVAudioFile& file, int64_t from, int64_t to) {
    const double rate = file.processingFormat().sampleRate();
    const platform::URL path(MusicFileManager::shared().nextOperatePath());
    // Frame ÷ rate maps back to exactly that frame inside the extraction.
    auto written = sonora::extract(file, path, double(from) / rate, double(to) / rate, 0, 0);
    if (!written) return nullptr;
    const platform::URL url = written->url();
    written.reset();  // closes it, so the data is complete before it is read
    try {
        return platform::AVAudioFile::forReading(url);
    } catch (const platform::NSErrorException&) {
        return nullptr;
    }
}

}  // namespace

TrackModel::TrackModel() : identify(newIdentify()) {}

double TrackModel::duration() const {
    if (musics.empty() || !musics.back()) return 0;
    return musics.back()->startTime + musics.back()->duration();
}

void TrackModel::deleteMusicWithMusic(const std::shared_ptr<MusicModel>& music) {
    std::erase(musics, music);
}

bool TrackModel::holds(const std::shared_ptr<MusicModel>& music) const {
    return music && std::find(musics.begin(), musics.end(), music) != musics.end();
}

std::shared_ptr<TrackModel> TrackModel::newCopy() const {
    auto copy = TrackModel::make();
    copy->identify = identify;
    copy->name = name;
    copy->musics.reserve(musics.size());
    for (const auto& music : musics) copy->musics.push_back(music ? music->newCopy() : nullptr);
    return copy;
}

std::shared_ptr<TrackModel> TrackModel::duplicate() const {
    auto copy = TrackModel::make();
    copy->name = duplicateTrackName(name);
    copy->musics.reserve(musics.size());
    for (const auto& music : musics)
        if (music) copy->musics.push_back(music->duplicate());
    return copy;
}

void TrackModel::splitAtTime(double time) {
    // The cut is decided in frames of the clip's file: a time a fraction of a frame after the
    // clip's start must not become an empty first half (which extraction reads as "whole file").
    std::shared_ptr<MusicModel> clip;
    size_t index = 0;
    int64_t offsetFrames = 0;
    int64_t lengthFrames = 0;
    for (size_t i = 0; i < musics.size(); ++i) {
        const auto& music = musics[i];
        if (!music || !music->file) continue;
        const double rate = music->file->processingFormat().sampleRate();
        const int64_t length = music->file->length();
        if (!(rate > 0) || length <= 0) continue;
        const auto offset = sonora::secondsToFrame(time - music->startTime, rate);
        if (!offset || *offset < 1 || *offset >= length) continue;
        clip = music;
        index = i;
        offsetFrames = *offset;
        lengthFrames = length;
    }
    if (!clip) return;

    auto first = extractFrames(*clip->file, 0, offsetFrames);
    auto second = extractFrames(*clip->file, offsetFrames, lengthFrames);

    std::cout << "splitTime===" << detail::debugNumber(time) << ",startTime===" << detail::debugNumber(clip->startTime)
              << ",duration===" << detail::debugNumber(clip->duration()) << std::endl;

    Player& player = Player::shared();
    if (player.selectMusic() == clip) player.setSelectMusic(nullptr);

    musics.erase(musics.begin() + std::ptrdiff_t(index));
    if (first) {
        auto half = MusicModel::make();
        half->file = std::move(first);
        half->startTime = clip->startTime;
        musics.insert(musics.begin() + std::ptrdiff_t(index), half);
        player.setSelectMusic(half);
        ++index;
    }
    if (second) {
        auto half = MusicModel::make();
        half->file = std::move(second);
        half->startTime = time;
        musics.insert(musics.begin() + std::ptrdiff_t(index), half);
    }
}

std::string duplicateTrackName(const std::string& name) {
    if (name.empty()) return "-1";
    // Split as a file path, so that a name with a colon ("intro:take.wav") is not read as a URL
    // scheme and cut short.
    const platform::URL path(name);
    return path.deletingPathExtension().path() + "-1." + path.pathExtension();
}

}  // namespace tamberlo
