// The sampler's zone instrument: sound files played at a pitch ratio with linear interpolation,
// a linear attack and release, and a fixed number of voices per layer (the oldest is taken over).
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace platform::detail {

namespace {

// Longest sound file a zone takes (frames); protects against files claiming absurd lengths.
constexpr sf_count_t kMaximumFrames = sf_count_t(1) << 28;
constexpr int kMaximumVoices = 256;
constexpr float kBendRange = 2.0f;  // semitones at either end of the pitch wheel

struct Sample {
    std::vector<float> left, right;
    double rate = 44100;
    int rootKey = 60, minKey = 0, maxKey = 127;
    bool hasLoop = false;
    size_t loopStart = 0, loopEnd = 0;
};

[[noreturn]] void fail(OSStatus status, const std::string& text) {
    throw NSErrorException(makeOSStatusError(status, text));
}

std::shared_ptr<Sample> readSample(const URL& url) {
    SF_INFO info{};
    SNDFILE* file = sf_open(url.path().c_str(), SFM_READ, &info);
    if (!file) {
        std::error_code ec;
        if (!std::filesystem::exists(url.filePath(), ec))
            fail(kAudioUnitErr_FileNotFound, "The sound file \"" + url.path() + "\" does not exist.");
        fail(kAudioUnitErr_InvalidFile, "\"" + url.path() + "\" is no sound file: " + sf_strerror(nullptr));
    }
    auto sample = std::make_shared<Sample>();
    const auto close = [&] { sf_close(file); };
    if (info.channels < 1 || info.samplerate < 1 || info.frames < 1 || info.frames > kMaximumFrames) {
        close();
        fail(kAudioUnitErr_InvalidFile, "\"" + url.path() + "\" holds no usable sound.");
    }
    sample->rate = info.samplerate;
    // The stated length is only a claim (a compressed file's header can state any): the frames are
    // read in blocks, and only those the file really holds take memory.
    const size_t channels = size_t(info.channels);
    constexpr sf_count_t kBlockFrames = 4096;
    std::vector<float> block(size_t(kBlockFrames) * channels);
    for (sf_count_t total = 0; total < info.frames;) {
        const sf_count_t n = sf_readf_float(file, block.data(), std::min(kBlockFrames, info.frames - total));
        if (n < 1) break;
        for (size_t i = 0; i < size_t(n); ++i) {
            sample->left.push_back(block[i * channels]);
            sample->right.push_back(block[i * channels + (channels > 1 ? 1 : 0)]);
        }
        total += n;
    }
    SF_INSTRUMENT instrument{};
    const bool hasInstrument = sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument) == SF_TRUE;
    close();
    const size_t frames = sample->left.size();
    if (frames < 1) fail(kAudioUnitErr_InvalidFile, "\"" + url.path() + "\" could not be read.");
    if (hasInstrument) {
        const auto key = [](int value, int fallback) { return value >= 0 && value <= 127 ? value : fallback; };
        sample->rootKey = key(instrument.basenote, 60);
        sample->minKey = key(instrument.key_lo, 0);
        sample->maxKey = key(instrument.key_hi, 127);
        if (instrument.loop_count > 0 && instrument.loops[0].mode != SF_LOOP_NONE) {
            const size_t start = instrument.loops[0].start, end = std::min<size_t>(instrument.loops[0].end, frames);
            if (start + 1 < end) {
                sample->hasLoop = true;
                sample->loopStart = start;
                sample->loopEnd = end;
            }
        }
    }
    return sample;
}

struct Zone {
    std::shared_ptr<const Sample> sample;
    int rootKey, minKey, maxKey;
    bool loop;
    size_t loopStart, loopEnd;
    size_t layer;
};

struct Voice {
    const Zone* zone = nullptr;  // null: free
    uint8_t channel = 0, note = 0;
    double position = 0;
    float gain = 0;
    float envelope = 0;
    float step = 0;  // envelope change per frame: up while attacking, down while releasing
    bool releasing = false;
    uint64_t started = 0;
};

struct Layer {
    double attack, release;
    bool ignoreNoteOff;
    std::vector<Voice> voices;
};

class ZoneInstrument final : public SamplerInstrument {
public:
    ZoneInstrument(const SamplerPreset& preset, double sampleRate) : sampleRate_(sampleRate) {
        // A file named under several spellings is decoded once.
        std::map<std::string, std::shared_ptr<Sample>> samples;
        for (const SamplerLayer& source : preset.layers) {
            const size_t layerIndex = layers_.size();
            layers_.push_back({std::max(0.0, source.attack), std::max(0.0, source.release), source.ignoreNoteOff,
                               std::vector<Voice>(size_t(std::clamp(source.voiceCount, 1, kMaximumVoices)))});
            for (const SamplerZone& z : source.zones) {
                auto& sample = samples[fileIdentity(z.file.path())];
                if (!sample) sample = readSample(z.file);
                Zone zone{sample, z.rootKey.value_or(sample->rootKey), z.minKey.value_or(sample->minKey),
                          z.maxKey.value_or(sample->maxKey), z.loopEnabled.value_or(sample->hasLoop), 0, 0, layerIndex};
                if (zone.loop) {
                    zone.loopStart = sample->hasLoop ? sample->loopStart : 0;
                    zone.loopEnd = sample->hasLoop ? sample->loopEnd : sample->left.size();
                    if (zone.loopEnd < zone.loopStart + 2) zone.loop = false;
                }
                zones_.push_back(zone);
            }
        }
    }

    double sampleRate() const override { return sampleRate_; }
    void setSampleRate(double sampleRate) override { sampleRate_ = sampleRate; }

    void handleMIDI(const uint8_t* bytes, size_t length) override {
        if (length == 0) return;
        const uint8_t status = bytes[0];
        if (status == 0xFF) {
            silence();
            bend_.fill(0);
            return;
        }
        if (status < 0x80 || status >= 0xF0) return;
        const uint8_t channel = status & 0x0F;
        const uint8_t data1 = length > 1 ? bytes[1] & 0x7F : 0;
        const uint8_t data2 = length > 2 ? bytes[2] & 0x7F : 0;
        switch (status & 0xF0) {
        case 0x90:
            if (data2 > 0) {
                noteOn(channel, data1, data2);
                break;
            }
            [[fallthrough]];
        case 0x80: noteOff(channel, data1, false); break;
        case 0xB0:
            if (data1 == 120) silence(channel);
            else if (data1 == 123) noteOff(channel, 0, true);
            else if (data1 == 121) bend_[channel] = 0;
            break;
        case 0xE0: bend_[channel] = (float((data2 << 7) | data1) - 8192.0f) / 8192.0f * kBendRange; break;
        default: break;
        }
    }

    void setTuning(float cents) override { tuning_ = cents; }

    void render(float* left, float* right, uint32_t frames) override {
        std::fill_n(left, frames, 0.0f);
        std::fill_n(right, frames, 0.0f);
        for (Layer& layer : layers_)
            for (Voice& voice : layer.voices)
                if (voice.zone) renderVoice(voice, left, right, frames);
    }

private:
    void noteOn(uint8_t channel, uint8_t note, uint8_t velocity) {
        const float gain = float(velocity) / 127.0f;
        for (const Zone& zone : zones_) {
            if (note < zone.minKey || note > zone.maxKey) continue;
            Layer& layer = layers_[zone.layer];
            Voice* voice = &layer.voices[0];
            for (Voice& v : layer.voices) {
                if (!v.zone) {
                    voice = &v;
                    break;
                }
                if (v.started < voice->started) voice = &v;
            }
            *voice = Voice{&zone, channel, note, 0.0, gain * gain, 1.0f, 0.0f, false, ++clock_};
            if (layer.attack > 0) {
                voice->envelope = 0;
                voice->step = float(1.0 / (layer.attack * sampleRate_));
            }
        }
    }

    void noteOff(uint8_t channel, uint8_t note, bool allNotes) {
        for (Layer& layer : layers_) {
            if (layer.ignoreNoteOff) continue;
            for (Voice& voice : layer.voices) {
                if (!voice.zone || voice.releasing || voice.channel != channel || (!allNotes && voice.note != note)) continue;
                if (layer.release <= 0) {
                    voice.zone = nullptr;
                    continue;
                }
                voice.releasing = true;
                voice.step = -float(voice.envelope / (layer.release * sampleRate_));
            }
        }
    }

    void silence(int channel = -1) {
        for (Layer& layer : layers_)
            for (Voice& voice : layer.voices)
                if (channel < 0 || voice.channel == channel) voice.zone = nullptr;
    }

    void renderVoice(Voice& voice, float* left, float* right, uint32_t frames) {
        const Zone& zone = *voice.zone;
        const Sample& sample = *zone.sample;
        const double semitones = double(voice.note) - zone.rootKey + tuning_ / 100.0 + bend_[voice.channel];
        const double ratio = std::exp2(semitones / 12.0) * sample.rate / sampleRate_;
        const size_t length = sample.left.size();
        for (uint32_t i = 0; i < frames; ++i) {
            if (zone.loop) {
                if (voice.position >= double(zone.loopEnd)) {
                    // A step may span many passes of a short loop (a high note of a file with a
                    // high rate): they are skipped at once, not one by one.
                    const double span = double(zone.loopEnd - zone.loopStart);
                    voice.position -= span;
                    if (voice.position >= double(zone.loopEnd)) {
                        voice.position = double(zone.loopStart) + std::fmod(voice.position - double(zone.loopStart), span);
                        if (voice.position >= double(zone.loopEnd)) voice.position = double(zone.loopStart);  // rounding
                    }
                }
            } else if (voice.position >= double(length - 1)) {
                voice.zone = nullptr;
                return;
            }
            const size_t index = size_t(voice.position);
            const float fraction = float(voice.position - double(index));
            // Past the loop's last frame the next one is the loop's first.
            const size_t next = zone.loop && index + 1 >= zone.loopEnd ? zone.loopStart : std::min(index + 1, length - 1);
            const float l = sample.left[index] + (sample.left[next] - sample.left[index]) * fraction;
            const float r = sample.right[index] + (sample.right[next] - sample.right[index]) * fraction;
            const float level = voice.gain * voice.envelope;
            left[i] += l * level;
            right[i] += r * level;
            voice.position += ratio;
            if (voice.step != 0) {
                voice.envelope += voice.step;
                if (voice.envelope >= 1.0f) {
                    voice.envelope = 1.0f;
                    voice.step = 0;
                } else if (voice.envelope <= 0.0f) {
                    voice.zone = nullptr;
                    return;
                }
            }
        }
    }

    double sampleRate_;
    float tuning_ = 0;
    std::array<float, 16> bend_{};
    uint64_t clock_ = 0;
    std::vector<Zone> zones_;
    std::vector<Layer> layers_;
};

}  // namespace

std::string fileIdentity(const std::string& path) {
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0) return path;
    return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" + std::to_string(info.st_size) + ":" +
           std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
}

std::unique_ptr<SamplerInstrument> makeZoneInstrument(const SamplerPreset& preset, double sampleRate) {
    return std::make_unique<ZoneInstrument>(preset, sampleRate);
}

}  // namespace platform::detail
