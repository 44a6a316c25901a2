// The sampler's SoundFont instrument, on FluidSynth (loaded with the first SoundFont). One synth per
// loaded preset: a new load builds a new synth beside the playing one, so the swap leaves no gap.
// The synth is driven from the render thread only (its thread-safe API is off); its voices are
// allocated when it is made.
//
// A bank's parsed presets and sample data take several MB and are the same for every sampler that
// plays it, so they are loaded once per process and shared: each synth holds a thin sound font that
// hands out the shared bank's presets, and the bank is unloaded when its last synth goes. What a
// synth costs on its own is its voices and buffers, bounded by kVoices.
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/audiotoolbox/AudioUnit.h"
#include "platform/audiotoolbox/detail/FluidSynthLibrary.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

namespace platform::detail {

namespace {

constexpr int kChannels = 16;
// Voices per sampler (FluidSynth's default is 256, about 10 KB each): a sampler plays one preset,
// and a sequence gives every track a sampler of its own.
constexpr int kVoices = 64;

[[noreturn]] void fail(OSStatus status, const std::string& text) {
    throw NSErrorException(makeOSStatusError(status, text));
}

// The process's loaded banks, keyed by the file's identity. Each bank is held by a loader synth of
// its own that never plays; the synths that play it get a handle sound font whose presets are the
// bank's. A bank goes with its loader when its last handle is freed: deleting the loader (rather
// than unloading the bank from it) leaves no retry timer behind if the synthesizer still counts a
// sample as in use.
class SharedSoundBanks {
public:
    static SharedSoundBanks& instance() {
        // Never destroyed: a sampler may be freed during static destruction.
        static auto* banks = new SharedSoundBanks;
        return *banks;
    }

    // A sound font for one synth (freed by the synth), or null when the file is no SoundFont.
    fluid_sfont_t* acquire(const std::string& path) {
        const FluidSynthLibrary& fs = fluidSynth();
        const auto key = fileIdentity(path);
        std::lock_guard lock(mutex_);
        auto found = banks_.find(key);
        if (found == banks_.end()) {
            Bank bank;
            bank.settings = fs.new_fluid_settings();
            fs.fluid_settings_setint(bank.settings, "synth.polyphony", 1);
            fs.fluid_settings_setint(bank.settings, "synth.threadsafe-api", 0);
            fs.fluid_settings_setint(bank.settings, "synth.reverb.active", 0);
            fs.fluid_settings_setint(bank.settings, "synth.chorus.active", 0);
            fs.fluid_settings_setint(bank.settings, "synth.dynamic-sample-loading", 0);
            bank.loader = fs.new_fluid_synth(bank.settings);
            const int id = bank.loader ? fs.fluid_synth_sfload(bank.loader, path.c_str(), 0) : FLUID_FAILED;
            bank.font = id == FLUID_FAILED ? nullptr : fs.fluid_synth_get_sfont_by_id(bank.loader, id);
            if (!bank.font) {
                unload(bank);
                return nullptr;
            }
            found = banks_.emplace(key, bank).first;
        }
        Bank& bank = found->second;
        fluid_sfont_t* handle = fs.new_fluid_sfont(handleName, handlePreset, handleIterationStart, handleIterationNext, handleFree);
        if (!handle) {
            if (bank.users == 0) drop(found);
            return nullptr;
        }
        fs.fluid_sfont_set_data(handle, new Handle{key, bank.font});
        ++bank.users;
        return handle;
    }

    // Frees a handle acquire() made that no synth took.
    static void release(fluid_sfont_t* handle) { handleFree(handle); }

private:
    struct Bank {
        fluid_settings_t* settings = nullptr;
        fluid_synth_t* loader = nullptr;
        fluid_sfont_t* font = nullptr;
        int users = 0;
    };
    struct Handle {
        std::string key;
        fluid_sfont_t* font;
    };

    static fluid_sfont_t* font(fluid_sfont_t* handle) { return static_cast<Handle*>(fluidSynth().fluid_sfont_get_data(handle))->font; }
    static const char* handleName(fluid_sfont_t* handle) { return fluidSynth().fluid_sfont_get_name(font(handle)); }
    static fluid_preset_t* handlePreset(fluid_sfont_t* handle, int bank, int program) {
        return fluidSynth().fluid_sfont_get_preset(font(handle), bank, program);
    }
    static void handleIterationStart(fluid_sfont_t* handle) { fluidSynth().fluid_sfont_iteration_start(font(handle)); }
    static fluid_preset_t* handleIterationNext(fluid_sfont_t* handle) { return fluidSynth().fluid_sfont_iteration_next(font(handle)); }
    static int handleFree(fluid_sfont_t* handle) {
        std::unique_ptr<Handle> data(static_cast<Handle*>(fluidSynth().fluid_sfont_get_data(handle)));
        fluidSynth().delete_fluid_sfont(handle);
        instance().releaseBank(data->key);
        return 0;
    }

    void releaseBank(const std::string& key) {
        std::lock_guard lock(mutex_);
        const auto found = banks_.find(key);
        if (found != banks_.end() && --found->second.users == 0) drop(found);
    }

    void drop(std::map<std::string, Bank>::iterator bank) {
        unload(bank->second);
        banks_.erase(bank);
    }

    static void unload(const Bank& bank) {
        if (bank.loader) fluidSynth().delete_fluid_synth(bank.loader);
        if (bank.settings) fluidSynth().delete_fluid_settings(bank.settings);
    }

    std::mutex mutex_;
    std::map<std::string, Bank> banks_;
};

class SoundBankInstrument final : public SamplerInstrument {
public:
    SoundBankInstrument(const URL& url, int bank, int program, double sampleRate)
        : url_(url), bank_(bank), program_(program) {
        build(sampleRate);
    }
    ~SoundBankInstrument() override { destroy(); }

    double sampleRate() const override { return sampleRate_; }
    void setSampleRate(double sampleRate) override {
        if (sampleRate == sampleRate_) return;
        destroy();
        try {
            build(sampleRate);
        } catch (const NSErrorException&) {
            // The file went away since it was loaded: silence.
        }
    }

    void handleMIDI(const uint8_t* bytes, size_t length) override {
        if (length == 0 || !synth_) return;
        settled_ = false;
        const uint8_t status = bytes[0];
        if (status == 0xFF) return resetVoices();
        if (status < 0x80 || status >= 0xF0) return;
        const int channel = status & 0x0F;
        const int data1 = length > 1 ? bytes[1] & 0x7F : 0;
        const int data2 = length > 2 ? bytes[2] & 0x7F : 0;
        switch (status & 0xF0) {
        case 0x80: fs_->fluid_synth_noteoff(synth_, channel, data1); break;
        case 0x90:
            if (data2 == 0) fs_->fluid_synth_noteoff(synth_, channel, data1);
            else fs_->fluid_synth_noteon(synth_, channel, data1, data2);
            break;
        case 0xA0: fs_->fluid_synth_key_pressure(synth_, channel, data1, data2); break;
        case 0xB0: fs_->fluid_synth_cc(synth_, channel, data1, data2); break;
        case 0xC0: fs_->fluid_synth_program_change(synth_, channel, data1); break;
        case 0xD0: fs_->fluid_synth_channel_pressure(synth_, channel, data1); break;
        case 0xE0: fs_->fluid_synth_pitch_bend(synth_, channel, data1 | (data2 << 7)); break;
        default: break;
        }
    }

    void setTuning(float cents) override {
        if (!synth_) return;
        settled_ = false;
        const float semitones = std::trunc(cents / 100.0f);
        for (int channel = 0; channel < kChannels; ++channel) {
            fs_->fluid_synth_set_gen(synth_, channel, GEN_COARSETUNE, semitones);
            fs_->fluid_synth_set_gen(synth_, channel, GEN_FINETUNE, cents - semitones * 100.0f);
        }
    }

    void render(float* left, float* right, uint32_t frames) override {
        if (!synth_) {
            std::fill_n(left, frames, 0.0f);
            std::fill_n(right, frames, 0.0f);
            return;
        }
        // A settled synthesizer without voices writes only zeros, so whole blocks of its silence are
        // written here instead: its block grid stays where it was, and nothing in its output depends
        // on how many silent blocks went by (voice ages count from each voice's own start).
        const bool silent = fs_->fluid_synth_get_active_voice_count(synth_) == 0;
        if (silent && settled_ && blockPhase_ == 0 && frames % blockFrames_ == 0) {
            std::fill_n(left, frames, 0.0f);
            std::fill_n(right, frames, 0.0f);
            return;
        }
        fs_->fluid_synth_write_float(synth_, int(frames), left, 0, 1, right, 0, 1);
        blockPhase_ = (blockPhase_ + frames) % blockFrames_;
        // Settled: a render of several whole blocks began and ended without a voice and no message
        // came since, so every queued change and finished voice has been dealt with.
        settled_ = silent && frames >= 4 * blockFrames_ && fs_->fluid_synth_get_active_voice_count(synth_) == 0;
    }

private:
    void resetVoices() {
        fs_->fluid_synth_all_sounds_off(synth_, -1);
        for (int channel = 0; channel < kChannels; ++channel) {
            fs_->fluid_synth_cc(synth_, channel, 121, 0);  // reset all controllers
            fs_->fluid_synth_pitch_bend(synth_, channel, 8192);
        }
    }

    void build(double sampleRate) {
        sampleRate_ = sampleRate;
        blockPhase_ = 0;
        settled_ = false;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(url_.filePath(), ec))
            fail(kAudioUnitErr_FileNotFound, "The sound bank \"" + url_.path() + "\" does not exist.");
        // Only SoundFonts: the synthesizer would also try other formats (DLS) on anything else.
        char header[12] = {};
        std::ifstream(url_.filePath(), std::ios::binary).read(header, sizeof header);
        if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "sfbk", 4) != 0)
            fail(kAudioUnitErr_InvalidFile, "\"" + url_.path() + "\" is no SoundFont.");
        std::string missing;
        fs_ = loadFluidSynth(&missing);
        if (!fs_)
            fail(kAudioUnitErr_InvalidFile, "\"" + url_.path() + "\" cannot be played without FluidSynth, which cannot be loaded: " +
                                                missing + ".");
        settings_ = fs_->new_fluid_settings();
        fs_->fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
        fs_->fluid_settings_setint(settings_, "synth.threadsafe-api", 0);
        fs_->fluid_settings_setint(settings_, "synth.reverb.active", 0);
        fs_->fluid_settings_setint(settings_, "synth.chorus.active", 0);
        fs_->fluid_settings_setint(settings_, "synth.midi-channels", kChannels);
        fs_->fluid_settings_setint(settings_, "synth.audio-channels", 1);
        fs_->fluid_settings_setint(settings_, "synth.cpu-cores", 1);
        fs_->fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 0);
        fs_->fluid_settings_setint(settings_, "synth.polyphony", kVoices);
        synth_ = fs_->new_fluid_synth(settings_);
        if (!synth_) {
            destroy();
            fail(kAudioUnitErr_InvalidFile, "The SoundFont synthesizer could not be made.");
        }
        fluid_sfont_t* shared = SharedSoundBanks::instance().acquire(url_.path());
        const int id = shared ? fs_->fluid_synth_add_sfont(synth_, shared) : FLUID_FAILED;
        if (id == FLUID_FAILED) {
            if (shared) SharedSoundBanks::release(shared);
            destroy();
            fail(kAudioUnitErr_InvalidFile, "\"" + url_.path() + "\" is no SoundFont.");
        }
        fluid_sfont_t* font = fs_->fluid_synth_get_sfont_by_id(synth_, id);
        if (!font || !fs_->fluid_sfont_get_preset(font, bank_, program_)) {
            destroy();
            fail(kAudioUnitErr_InvalidPropertyValue, "\"" + url_.path() + "\" has no preset " +
                                                         std::to_string(program_) + " in bank " + std::to_string(bank_) + ".");
        }
        blockFrames_ = uint32_t(std::max(1, fs_->fluid_synth_get_internal_bufsize(synth_)));
        // Mono-timbral: every channel plays the preset, channel 10 included.
        const int type = bank_ >= 128 ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC;
        for (int channel = 0; channel < kChannels; ++channel) {
            fs_->fluid_synth_set_channel_type(synth_, channel, type);
            fs_->fluid_synth_program_select(synth_, channel, id, bank_, program_);
        }
    }

    void destroy() {
        if (synth_) fs_->delete_fluid_synth(synth_);
        if (settings_) fs_->delete_fluid_settings(settings_);
        synth_ = nullptr;
        settings_ = nullptr;
    }

    URL url_;
    int bank_;
    int program_;
    double sampleRate_ = 0;
    const FluidSynthLibrary* fs_ = nullptr;  // set once the file is known to be a SoundFont
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    // Render thread: where the synthesizer stands in its block, and whether it is settled in silence.
    uint32_t blockFrames_ = 64;
    uint32_t blockPhase_ = 0;
    bool settled_ = false;
};

}  // namespace

std::unique_ptr<SamplerInstrument> makeSoundBankInstrument(const URL& url, int bank, int program, double sampleRate) {
    return std::make_unique<SoundBankInstrument>(url, bank, program, sampleRate);
}

}  // namespace platform::detail
