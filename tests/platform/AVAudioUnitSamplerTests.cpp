// The sampler unit rendered directly: SoundFont presets through FluidSynth, its MIDI at the
// event's frame, gain, pan, tuning, reset, and loads that fail while a note keeps sounding.
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <numbers>
#include <thread>
#include <vector>

using namespace platform;
using V = std::vector<float>;

namespace {

const char* kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

struct Stereo {
    V left, right;
};

// Renders the unit directly, `block` frames a cycle, continuing its sample time.
class Rig {
public:
    explicit Rig(uint32_t block = 512) : block_(block) {
        EXPECT_TRUE(sampler.auAudioUnit()->allocateRenderResources());
    }
    Stereo render(size_t frames) {
        Stereo out{V(frames), V(frames)};
        std::vector<unsigned char> storage(AudioBufferListSize(2));
        auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
        const auto render = sampler.auAudioUnit()->renderBlock();
        for (size_t at = 0; at < frames; at += block_) {
            const uint32_t n = uint32_t(std::min<size_t>(block_, frames - at));
            list->mNumberBuffers = 2;
            list->mBuffers[0] = {1, uint32_t(n * sizeof(float)), out.left.data() + at};
            list->mBuffers[1] = {1, uint32_t(n * sizeof(float)), out.right.data() + at};
            AudioTimeStamp time;
            time.mSampleTime = double(sampleTime_);
            time.mFlags = kAudioTimeStampSampleTimeValid;
            AudioUnitRenderActionFlags flags = 0;
            EXPECT_EQ(render(&flags, &time, n, 0, list, nullptr), noErr);
            sampleTime_ += n;
        }
        return out;
    }
    AVAudioUnitSampler sampler;

private:
    uint32_t block_;
    int64_t sampleTime_ = 0;
};

double rms(const V& v, size_t from = 0, size_t to = SIZE_MAX) {
    to = std::min(to, v.size());
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(v[i]) * v[i];
    return to > from ? std::sqrt(sum / double(to - from)) : 0;
}

// The strongest frequency between lo and hi Hz, to 1 Hz (Goertzel over the whole signal).
double peakFrequency(const V& v, double rate, int lo, int hi) {
    double best = 0, bestFrequency = 0;
    for (int f = lo; f <= hi; ++f) {
        const double w = 2 * std::cos(2 * std::numbers::pi * f / rate);
        double s1 = 0, s2 = 0;
        for (float x : v) {
            const double s = x + w * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        const double power = s1 * s1 + s2 * s2 - w * s1 * s2;
        if (power > best) best = power, bestFrequency = f;
    }
    return bestFrequency;
}

bool haveSoundFont() { return std::filesystem::exists(kSoundFont); }

}  // namespace

TEST(AVAudioUnitSampler, BankNumbersFromMSBAndLSB) {
    const struct {
        uint8_t msb, lsb;
        int bank;
    } cases[] = {{0x79, 0, 0}, {0x79, 5, 5}, {0x78, 0, 128}, {0x78, 2, 130}, {0, 0, 0}, {0, 7, 7}, {1, 3, 131}};
    for (const auto& c : cases) EXPECT_EQ(AVAudioUnitSampler::soundBankNumber(c.msb, c.lsb), c.bank) << int(c.msb);
}

TEST(AVAudioUnitSampler, SilentUntilLoadedThenPlaysTheSoundFontNoteAtItsPitch) {
    if (!haveSoundFont()) GTEST_SKIP() << "no SoundFont";
    Rig rig;
    EXPECT_EQ(rig.sampler.auAudioUnit()->componentDescription().componentType, kAudioUnitType_MusicDevice);
    rig.sampler.startNote(69, 100, 0);
    EXPECT_EQ(rms(rig.render(4096).left), 0.0);

    rig.sampler.loadSoundBankInstrument(kSoundFont, 0, kAUSampler_DefaultMelodicBankMSB, 0);
    rig.sampler.startNote(69, 100, 0);
    const Stereo out = rig.render(44100);
    EXPECT_GT(rms(out.left), 0.001);
    EXPECT_NEAR(peakFrequency(out.left, 44100, 300, 1000), 440, 2);

    // Every channel plays the preset, channel 10 too.
    for (uint8_t channel : {uint8_t(5), uint8_t(9)}) {
        Rig other;
        other.sampler.loadInstrument(URL(kSoundFont));
        other.sampler.startNote(69, 100, channel);
        EXPECT_NEAR(peakFrequency(other.render(22050).left, 44100, 300, 1000), 440, 2) << int(channel);
    }
}

TEST(AVAudioUnitSampler, NotesStartAtTheirFrameWithinTheCycle) {
    if (!haveSoundFont()) GTEST_SKIP() << "no SoundFont";
    Rig rig;
    rig.sampler.loadSoundBankInstrument(kSoundFont, 0, 0x79, 0);
    const uint8_t on[3] = {0x90, 60, 127};
    rig.sampler.auAudioUnit()->scheduleMIDIEventBlock()(AUEventSampleTimeImmediate + 300, 0, 3, on);
    const Stereo out = rig.render(1024);
    size_t first = 0;
    while (first < out.left.size() && out.left[first] == 0 && out.right[first] == 0) ++first;
    // The synthesizer starts a voice at its next 64-frame step.
    EXPECT_GE(first, 300u);
    EXPECT_LT(first, 300u + 64 + 32);
}

TEST(AVAudioUnitSampler, GainPanAndTuning) {
    if (!haveSoundFont()) GTEST_SKIP() << "no SoundFont";
    auto play = [](float gain, float pan, float cents, uint8_t note) {
        Rig rig;
        rig.sampler.loadSoundBankInstrument(kSoundFont, 0, 0x79, 0);
        rig.sampler.setMasterGain(gain);
        rig.sampler.setStereoPan(pan);
        rig.sampler.setGlobalTuning(cents);
        rig.sampler.startNote(note, 100, 0);
        return rig.render(22050);
    };
    const Stereo plain = play(0, 0, 0, 69);
    const Stereo quieter = play(-6, 0, 0, 69);
    EXPECT_NEAR(rms(quieter.left) / rms(plain.left), std::pow(10.0, -6.0 / 20), 1e-3);
    const Stereo left = play(0, -100, 0, 69);
    EXPECT_EQ(rms(left.right), 0.0);
    EXPECT_NEAR(rms(left.left), rms(plain.left), 1e-6);
    EXPECT_NEAR(peakFrequency(play(0, 0, 1200, 57).left, 44100, 300, 1000), 440, 2);
    EXPECT_NEAR(peakFrequency(play(0, 0, -50, 70).left, 44100, 300, 1000), 452.9, 2);  // 440 × 2^(1/24)

    AVAudioUnitSampler sampler;
    const struct {
        float set, gain, pan, tuning;
    } clamps[] = {{-200, -90, -100, -200}, {-3000, -90, -100, -2400}, {50, 12, 50, 50}, {500, 12, 100, 500}, {NAN, 0, 0, 0}};
    for (const auto& c : clamps) {
        sampler.setMasterGain(c.set);
        sampler.setStereoPan(c.set);
        sampler.setGlobalTuning(c.set);
        EXPECT_EQ(sampler.masterGain(), c.gain) << c.set;
        EXPECT_EQ(sampler.stereoPan(), c.pan) << c.set;
        EXPECT_EQ(sampler.globalTuning(), c.tuning) << c.set;
    }
}

TEST(AVAudioUnitSampler, ResetSilencesTheVoicesAndKeepsTheInstrument) {
    if (!haveSoundFont()) GTEST_SKIP() << "no SoundFont";
    Rig rig;
    rig.sampler.loadSoundBankInstrument(kSoundFont, 0, 0x79, 0);
    rig.sampler.startNote(60, 100, 0);
    rig.sampler.sendPitchBend(16383, 0);
    ASSERT_GT(rms(rig.render(4096).left), 0.001);
    rig.sampler.reset();
    const Stereo after = rig.render(4096);
    EXPECT_LT(rms(after.left, 512), 1e-6);
    rig.sampler.startNote(69, 100, 0);
    const Stereo again = rig.render(22050);
    EXPECT_GT(rms(again.left), 0.001);
    // The bend went back to the centre with the reset.
    EXPECT_NEAR(peakFrequency(again.left, 44100, 300, 1000), 440, 2);
}

TEST(AVAudioUnitSampler, SamplersOfOneBankPlayAlikeAndOutliveEachOther) {
    if (!haveSoundFont()) GTEST_SKIP() << "no SoundFont";
    const auto note = [](Rig& rig) {
        rig.sampler.loadSoundBankInstrument(kSoundFont, 0, 0x79, 0);
        rig.sampler.startNote(69, 100, 0);
        return rig.render(4096).left;
    };
    auto first = std::make_unique<Rig>(), second = std::make_unique<Rig>();
    const V sound = note(*first);
    ASSERT_GT(rms(sound), 0.001);
    EXPECT_EQ(note(*second), sound);
    // The bank stays while a sampler plays it, and a sampler made after every other went loads it again.
    first.reset();
    EXPECT_GT(rms(second->render(4096).left), 0.001);
    second.reset();
    Rig third;
    EXPECT_EQ(note(third), sound);
}

TEST(AVAudioUnitSampler, AFailedLoadThrowsAndTheOldInstrumentKeepsPlaying) {
    if (!haveSoundFont()) GTEST_SKIP() << "no SoundFont";
    testsupport::ScratchDir dir;
    // A SoundFont header over a body that is none.
    static const char corrupt[] = "RIFF\x10\x00\x00\x00sfbkLIST garbage garbage";
    testsupport::writeFile(dir / "corrupt.sf2", std::string(corrupt, sizeof corrupt - 1));
    ASSERT_EQ(testsupport::run("sox -n -r 44100 " + testsupport::q(dir / "tone.wav") + " synth 0.2 sine 440"), 0);
    std::filesystem::copy_file(dir / "tone.wav", dir / "tone.sf2");
    testsupport::writeFile(dir / "piano.exs", "not an instrument");

    Rig rig;
    rig.sampler.loadSoundBankInstrument(kSoundFont, 0, 0x79, 0);
    rig.sampler.startNote(69, 100, 0);
    const double playing = rms(rig.render(4096).left);
    ASSERT_GT(playing, 0.001);

    const std::function<void()> loads[] = {
        [&] { rig.sampler.loadSoundBankInstrument(URL(dir / "missing.sf2"), 0, 0x79, 0); },
        [&] { rig.sampler.loadSoundBankInstrument(URL(dir / "corrupt.sf2"), 0, 0x79, 0); },
        [&] { rig.sampler.loadSoundBankInstrument(URL(dir / "tone.sf2"), 0, 0x79, 0); },
        [&] { rig.sampler.loadSoundBankInstrument(kSoundFont, 0, 0x79, 3); },  // no bank 3
        [&] { rig.sampler.loadInstrument(URL(dir / "piano.exs")); },
        [&] { rig.sampler.loadInstrument(URL(dir / "notes.txt")); },
        [&] { rig.sampler.loadInstrument(URL(dir / "missing.sf2")); },
    };
    for (size_t i = 0; i < std::size(loads); ++i) {
        EXPECT_THROW(loads[i](), NSErrorException) << i;
        EXPECT_GT(rms(rig.render(512).left), 1e-4) << "the note stopped after load " << i;
    }
}

TEST(AVAudioUnitSampler, MIDIAndLoadsFromOtherThreadsWhileRendering) {
    if (!haveSoundFont()) GTEST_SKIP() << "no SoundFont";
    Rig rig(256);
    rig.sampler.loadSoundBankInstrument(kSoundFont, 0, 0x79, 0);
    std::atomic<bool> done{false};
    std::thread renderer([&] {
        while (!done.load()) rig.render(256);
    });
    std::thread player([&] {
        for (int i = 0; i < 2000; ++i) {
            rig.sampler.startNote(uint8_t(40 + i % 40), 90, uint8_t(i % 16));
            rig.sampler.sendController(7, uint8_t(i % 128), 0);
            rig.sampler.stopNote(uint8_t(40 + (i + 20) % 40), uint8_t(i % 16));
            if (i % 200 == 0) rig.sampler.setGlobalTuning(float(i % 7) * 10);
        }
    });
    for (int program : {1, 2, 3}) rig.sampler.loadSoundBankInstrument(kSoundFont, uint8_t(program), 0x79, 0);
    player.join();
    done = true;
    renderer.join();
    // What the player left queued is taken first, so the reset finds room in the queue.
    rig.render(1024);
    rig.sampler.reset();
    EXPECT_EQ(rms(rig.render(1024).left), 0.0) << "the reset left voices sounding";
    // Which instrument the player's last volume reached depends on the threads' timing; the
    // reset keeps a channel's volume, so the note gets a known one.
    rig.sampler.sendController(7, 127, 0);
    rig.sampler.startNote(69, 100, 0);
    EXPECT_GT(rms(rig.render(8192).left), 0.001);
}
