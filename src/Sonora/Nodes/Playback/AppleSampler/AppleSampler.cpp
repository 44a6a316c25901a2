#include "Sonora/Nodes/Playback/AppleSampler/AppleSampler.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/avfaudio/AVAudioFile.h"

#include <filesystem>

namespace sonora {

using platform::AVAudioUnitSampler;
using platform::NSErrorException;
using platform::URL;

namespace {
std::shared_ptr<AVAudioUnitSampler> makeSamplerUnit() {
    auto unit = std::make_shared<AVAudioUnitSampler>();
    // The unit renders at the audio layer's rate until a connection says otherwise.
    if (auto bus = unit->auAudioUnit()->outputBusses()[0]) bus->setFormat(Settings::audioFormat());
    return unit;
}
}  // namespace

AppleSampler::AppleSampler(std::optional<std::string> file) : samplerUnit_(makeSamplerUnit()) {
    internalAU_ = samplerUnit_->auAudioUnit();
    if (!file) return;
    try {
        loadWav(*file);
    } catch (const NSErrorException&) {
        Log({"Could not load " + *file});
    }
}

AppleSampler::~AppleSampler() = default;

std::shared_ptr<platform::AVAudioNode> AppleSampler::avAudioNode() const { return samplerUnit_; }

void AppleSampler::setSamplerUnit(std::shared_ptr<AVAudioUnitSampler> unit) { samplerUnit_ = std::move(unit); }

void AppleSampler::setAudioFiles(std::vector<std::shared_ptr<platform::AVAudioFile>> files) {
    try {
        loadAudioFiles(std::move(files));
    } catch (const NSErrorException&) {
        Log({"Could not load audio files"});
    }
}

float AppleSampler::tuning() const { return samplerUnit_->globalTuning() / 100.0f; }
void AppleSampler::setTuning(float semitones) { samplerUnit_->setGlobalTuning(semitones * 100.0f); }

void AppleSampler::setAmplitude(float amplitude) {
    amplitude_ = amplitude;
    samplerUnit_->setMasterGain(amplitude);
}

void AppleSampler::setVolume(float volume) {
    volume_ = volume;
    samplerUnit_->setMasterGain(volume * 90.0f - 90.0f);
}

void AppleSampler::setPan(float pan) {
    pan_ = pan;
    samplerUnit_->setStereoPan(pan * 100.0f);
}

platform::NSError AppleSampler::notFoundError() { return platform::NSError{"NSURLErrorDomain", 256, ""}; }

std::optional<URL> AppleSampler::locateFile(const std::string& path, const std::string& extension,
                                            const platform::Bundle& bundle) {
    if (!path.empty() && path.front() == '/') {
        const std::string candidate = path + "." + extension;
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) return URL(candidate);
    }
    return bundle.urlForResource(path, extension);
}

void AppleSampler::loadWav(const std::string& file, const platform::Bundle& bundle) {
    const auto url = locateFile(file, "wav", bundle);
    if (!url) {
        Log({"WAV file not found."});
        throw NSErrorException(notFoundError());
    }
    samplerUnit_->loadAudioFiles({*url});
    samplerUnit_->reset();
}

void AppleSampler::loadEXS24(const std::string& file) { loadInstrument(file, "exs", platform::Bundle::main()); }

void AppleSampler::loadInstrument(const std::string& file, const std::string& type, const platform::Bundle& bundle) {
    const auto url = locateFile(file, type, bundle);
    if (!url) {
        Log({"File not found: " + file});
        throw NSErrorException(notFoundError());
    }
    samplerUnit_->loadInstrument(*url);
    samplerUnit_->reset();
}

void AppleSampler::loadInstrument(const std::string& atPath) {
    samplerUnit_->loadInstrument(URL(atPath));
    samplerUnit_->reset();
}

void AppleSampler::loadAudioFile(std::shared_ptr<platform::AVAudioFile> file) {
    loadAudioFiles({std::move(file)});
}

void AppleSampler::loadAudioFiles(std::vector<std::shared_ptr<platform::AVAudioFile>> files) {
    audioFiles_ = std::move(files);
    std::vector<URL> urls;
    for (const auto& file : audioFiles_)
        if (file) urls.push_back(file->url());
    samplerUnit_->loadAudioFiles(urls);
    samplerUnit_->reset();
}

std::pair<uint8_t, uint8_t> AppleSampler::bankMSBAndLSB(int bank) {
    const uint8_t msb = bank <= 127 ? platform::kAUSampler_DefaultMelodicBankMSB
                                    : platform::kAUSampler_DefaultPercussionBankMSB;
    return {msb, uint8_t(bank % 128)};
}

void AppleSampler::loadSoundFontBank(const std::string& file, int preset, uint8_t msb, uint8_t lsb,
                                     const platform::Bundle& bundle) {
    const auto url = locateFile(file, "sf2", bundle);
    if (!url) {
        Log({"Soundfont file not found: " + file});
        throw NSErrorException(notFoundError());
    }
    try {
        samplerUnit_->loadSoundBankInstrument(*url, uint8_t(preset), msb, lsb);
    } catch (const NSErrorException&) {
        Log({"Error loading SoundFont " + file});
        throw;
    }
    samplerUnit_->reset();
}

void AppleSampler::loadSoundFont(const std::string& file, int preset, int type, const platform::Bundle& bundle) {
    loadSoundFontBank(file, preset, uint8_t(type), 0, bundle);
}

void AppleSampler::loadSoundFont(const std::string& file, int preset, Bank bank, const platform::Bundle& bundle) {
    const auto [msb, lsb] = bankMSBAndLSB(bank.number);
    loadSoundFontBank(file, preset, msb, lsb, bundle);
}

void AppleSampler::loadMelodicSoundFont(const std::string& file, int preset, const platform::Bundle& bundle) {
    loadSoundFont(file, preset, int(platform::kAUSampler_DefaultMelodicBankMSB), bundle);
}

void AppleSampler::loadPercussiveSoundFont(const std::string& file, int preset, const platform::Bundle& bundle) {
    loadSoundFont(file, preset, int(platform::kAUSampler_DefaultPercussionBankMSB), bundle);
}

void AppleSampler::play(uint8_t noteNumber, uint8_t velocity, uint8_t channel) {
    samplerUnit_->startNote(noteNumber, velocity, channel);
}

void AppleSampler::stop(uint8_t noteNumber, uint8_t channel) { samplerUnit_->stopNote(noteNumber, channel); }

void AppleSampler::setPitchbend(uint16_t amount, uint8_t channel) { samplerUnit_->sendPitchBend(amount, channel); }

void AppleSampler::resetSampler() { samplerUnit_->reset(); }

}  // namespace sonora
