// The sampler unit playing sound files and presets: pitch from the root key, the file's rate and
// the bend, velocity gain, loops, envelopes, trigger mode, voice counts, and presets that are no
// presets, and sound files that state absurd lengths or rates.
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

using namespace platform;
using V = std::vector<float>;

namespace {

struct Loop {
    int start, end;
};

// A sine file; with `root` an instrument chunk (root key, keys 0-127, and the loop when given).
void writeSine(const std::filesystem::path& path, double rate, double frequency, double seconds,
               std::optional<int> root = std::nullopt, std::optional<Loop> loop = std::nullopt) {
    SF_INFO info{};
    info.samplerate = int(rate);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr);
    if (root) {
        SF_INSTRUMENT instrument{};
        instrument.basenote = char(*root);
        instrument.key_lo = 0;
        instrument.key_hi = 127;
        instrument.velocity_lo = 0;
        instrument.velocity_hi = 127;
        if (loop) {
            instrument.loop_count = 1;
            instrument.loops[0].mode = SF_LOOP_FORWARD;
            instrument.loops[0].start = unsigned(loop->start);
            instrument.loops[0].end = unsigned(loop->end);
            instrument.loops[0].count = 0;
        }
        sf_command(file, SFC_SET_INSTRUMENT, &instrument, sizeof instrument);
    }
    V samples(size_t(rate * seconds));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = float(0.5 * std::sin(2 * std::numbers::pi * frequency * double(i) / rate));
    sf_writef_float(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
}

class Rig {
public:
    Rig() { EXPECT_TRUE(sampler.auAudioUnit()->allocateRenderResources()); }
    V render(size_t frames) {
        V left(frames), right(frames);
        std::vector<unsigned char> storage(AudioBufferListSize(2));
        auto* list = reinterpret_cast<AudioBufferList*>(storage.data());
        const auto render = sampler.auAudioUnit()->renderBlock();
        for (size_t at = 0; at < frames; at += 512) {
            const uint32_t n = uint32_t(std::min<size_t>(512, frames - at));
            list->mNumberBuffers = 2;
            list->mBuffers[0] = {1, uint32_t(n * sizeof(float)), left.data() + at};
            list->mBuffers[1] = {1, uint32_t(n * sizeof(float)), right.data() + at};
            AudioTimeStamp time;
            time.mSampleTime = double(sampleTime_);
            AudioUnitRenderActionFlags flags = 0;
            EXPECT_EQ(render(&flags, &time, n, 0, list, nullptr), noErr);
            sampleTime_ += n;
        }
        EXPECT_EQ(left, right);  // mono files sound on both sides
        return left;
    }
    AVAudioUnitSampler sampler;

private:
    int64_t sampleTime_ = 0;
};

double peak(const V& v, size_t from = 0, size_t to = SIZE_MAX) {
    double p = 0;
    for (size_t i = from; i < std::min(to, v.size()); ++i) p = std::max(p, double(std::abs(v[i])));
    return p;
}

// Frequency from the zero crossings of a clean sine.
double frequency(const V& v, double rate = 44100) {
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = 1; i < v.size(); ++i)
        if (v[i - 1] < 0 && v[i] >= 0) {
            if (crossings == 0) first = i;
            last = i;
            ++crossings;
        }
    return crossings > 1 ? double(crossings - 1) * rate / double(last - first) : 0;
}

std::string presetWithLayers(const std::string& layers, const std::string& references) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>Instrument</key><dict><key>Layers</key><array>" +
           layers + "</array><key>unknown</key><date>2020-01-01T00:00:00Z</date></dict>" +
           "<key>file-references</key><dict>" + references + "</dict><key>voice count</key><integer>16</integer></dict></plist>\n";
}

std::string layer(const std::string& zones, double attack, double release, const std::string& extra = "") {
    return "<dict><key>Envelopes</key><array><dict><key>Stages</key><array>"
           "<dict><key>stage</key><integer>1</integer><key>time</key><real>" + std::to_string(attack) + "</real></dict>"
           "<dict><key>stage</key><integer>5</integer><key>time</key><real>" + std::to_string(release) + "</real></dict>"
           "</array></dict></array><key>Zones</key><array>" + zones + "</array>" + extra + "</dict>";
}

std::string zone(int root, int lo, int hi, bool loop = false, int waveform = 268435457) {
    return "<dict><key>root key</key><integer>" + std::to_string(root) + "</integer><key>min key</key><integer>" +
           std::to_string(lo) + "</integer><key>max key</key><integer>" + std::to_string(hi) +
           "</integer><key>loop enabled</key>" + (loop ? "<true/>" : "<false/>") +
           "<key>waveform</key><integer>" + std::to_string(waveform) + "</integer></dict>";
}

}  // namespace

TEST(SamplerZones, AudioFilesPlayAtTheirRootKeyRateAndBend) {
    testsupport::ScratchDir dir;
    writeSine(dir / "a69.wav", 44100, 440, 1, 69);
    writeSine(dir / "plain.wav", 22050, 441, 1);  // no chunk: root 60
    const struct {
        const char* file;
        uint8_t note;
        uint16_t bend;
        double expected;
    } cases[] = {
        {"a69.wav", 69, 8192, 440}, {"a69.wav", 81, 8192, 880}, {"a69.wav", 57, 8192, 220},
        {"a69.wav", 69, 16383, 440 * std::pow(2.0, 2 * 8191.0 / 8192 / 12)}, {"a69.wav", 69, 0, 440 * std::pow(2.0, -2.0 / 12)},
        {"plain.wav", 60, 8192, 441}, {"plain.wav", 72, 8192, 882},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.sampler.loadAudioFiles({URL(dir / c.file)});
        rig.sampler.sendPitchBend(c.bend, 0);
        rig.sampler.startNote(c.note, 127, 0);
        const V out = rig.render(11025);
        EXPECT_NEAR(frequency(out), c.expected, c.expected * 0.003) << c.file << " note " << int(c.note);
        EXPECT_NEAR(peak(out), 0.5, 0.01) << c.file;
    }
}

TEST(SamplerZones, VelocityGainLoopAndTheEndOfTheSound) {
    testsupport::ScratchDir dir;
    writeSine(dir / "short.wav", 44100, 441, 0.1, 69);
    writeSine(dir / "looped.wav", 44100, 441, 0.1, 69, Loop{0, 4400});
    Rig once;
    once.sampler.loadInstrument(URL(dir / "short.wav"));
    once.sampler.startNote(69, 64, 0);
    const V a = once.render(8820);
    EXPECT_NEAR(peak(a, 0, 4000), 0.5 * (64.0 / 127) * (64.0 / 127), 0.005);
    EXPECT_EQ(peak(a, 4410), 0.0);

    Rig looped;
    looped.sampler.loadAudioFiles({URL(dir / "looped.wav")});
    looped.sampler.startNote(69, 127, 0);
    const V b = looped.render(44100);
    EXPECT_NEAR(peak(b, 40000), 0.5, 0.01);
    EXPECT_NEAR(frequency(b), 441, 1.5);
    looped.sampler.stopNote(69, 0);
    EXPECT_EQ(peak(looped.render(1024)), 0.0);
}

TEST(SamplerZones, PresetEnvelopeTriggerModeAndVoiceCount) {
    testsupport::ScratchDir dir;
    writeSine(dir / "s.wav", 44100, 441, 2);
    const std::string refs = "<key>Sample:268435457</key><string>s.wav</string>";
    // Layer 1 (keys 0-63): 0.1 s attack, 0.1 s release, one voice. Layer 2 (64-127): trigger mode 11.
    testsupport::writeFile(dir / "p.aupreset",
                           presetWithLayers(layer(zone(60, 0, 63), 0.1, 0.1, "<key>voice count</key><integer>1</integer>") +
                                                layer(zone(72, 64, 127), 0, 0, "<key>trigger mode</key><integer>11</integer>"),
                                            refs));
    Rig rig;
    rig.sampler.loadInstrument(URL(dir / "p.aupreset"));
    rig.sampler.startNote(60, 127, 0);
    const V attack = rig.render(8820);
    EXPECT_LT(peak(attack, 0, 441), 0.05);
    EXPECT_GT(peak(attack, 4410, 8820), 0.45);
    rig.sampler.startNote(62, 127, 0);  // takes the layer's only voice
    rig.sampler.stopNote(60, 0);        // that voice plays 62: nothing happens
    EXPECT_NEAR(frequency(rig.render(22050)), 441 * std::pow(2.0, 2.0 / 12), 2);
    rig.sampler.stopNote(62, 0);
    const V release = rig.render(8820);
    EXPECT_GT(peak(release, 0, 441), 0.3);
    EXPECT_EQ(peak(release, 4410 + 64), 0.0);

    rig.sampler.startNote(84, 127, 0);
    rig.sampler.stopNote(84, 0);  // ignored in trigger mode 11
    const V triggered = rig.render(22050);
    EXPECT_NEAR(frequency(triggered), 882, 3);
    EXPECT_GT(peak(triggered, 20000), 0.45);
}

TEST(SamplerZones, PresetsThatAreNoPresetsThrowAndTheOldInstrumentPlaysOn) {
    testsupport::ScratchDir dir;
    writeSine(dir / "s.wav", 44100, 441, 2, 69);
    testsupport::writeFile(dir / "fake.wav", "RIFF nothing");
    const std::string refs = "<key>Sample:268435457</key><string>s.wav</string>";
    std::string deep;
    for (int i = 0; i < 5000; ++i) deep += "<array>";
    const std::string cases[] = {
        "",
        "not xml at all",
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Instrument</key>",
        "<plist version=\"1.0\"><array/></plist>",
        "<plist version=\"1.0\">" + deep + "</plist>",
        "<plist version=\"1.0\"><dict><key>Instrument</key><string>x</string></dict></plist>",
        presetWithLayers(layer(zone(69, 0, 127, false, 268435458), 0, 0), refs),           // no such reference
        presetWithLayers(layer(zone(300, 0, 127), 0, 0), refs),                              // key out of range
        presetWithLayers(layer("<dict><key>waveform</key><string>x</string></dict>", 0, 0), refs),
        presetWithLayers(layer(zone(69, 0, 127), 0, 0), "<key>Sample:268435457</key><string>missing.wav</string>"),
        presetWithLayers(layer(zone(69, 0, 127), 0, 0), "<key>Sample:268435457</key><string>fake.wav</string>"),
        presetWithLayers("<dict><key>Zones</key><array><integer>1</integer></array></dict>", refs),
        "<plist version=\"1.0\"><dict><key>a</key><integer>99999999999999999999999</integer></dict></plist>",
        "<plist version=\"1.0\"><dict><key>a</key><real>nan</real></dict></plist>",
        "<plist version=\"1.0\"><dict><key>a</key><dict><foo/></dict></dict></plist>",
        "<!DOCTYPE plist [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]><plist version=\"1.0\"><string>&b;</string></plist>",
    };
    Rig rig;
    rig.sampler.loadAudioFiles({URL(dir / "s.wav")});
    rig.sampler.startNote(69, 127, 0);
    rig.render(512);
    for (size_t i = 0; i < std::size(cases); ++i) {
        testsupport::writeFile(dir / "bad.aupreset", cases[i]);
        EXPECT_THROW(rig.sampler.loadInstrument(URL(dir / "bad.aupreset")), NSErrorException) << i;
        EXPECT_GT(peak(rig.render(512)), 0.45) << "the note stopped after case " << i;
    }
    EXPECT_THROW(rig.sampler.loadInstrument(URL(dir / "missing.aupreset")), NSErrorException);
    EXPECT_THROW(rig.sampler.loadAudioFiles({URL(dir / "s.wav"), URL(dir / "fake.wav")}), NSErrorException);
    EXPECT_THROW(rig.sampler.loadAudioFiles({}), NSErrorException);
    EXPECT_GT(peak(rig.render(512)), 0.45);

    // Unknown keys and elements of known kinds are passed over.
    testsupport::writeFile(dir / "good.aupreset", presetWithLayers(layer(zone(69, 0, 127), 0, 0, "<key>new</key><data>AAAA</data>"), refs));
    EXPECT_NO_THROW(rig.sampler.loadInstrument(URL(dir / "good.aupreset")));
}

TEST(SamplerZones, AFileClaimingMoreFramesThanItHoldsTakesWhatItHolds) {
    testsupport::ScratchDir dir;
    // A tenth of a second of FLAC whose header claims 2^28 - 1 frames.
    {
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 2;
        info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open((dir / "claims.flac").c_str(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        V samples(2 * 4410);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = float(0.5 * std::sin(2 * std::numbers::pi * 441 * double(i / 2) / 44100));
        sf_writef_float(file, samples.data(), 4410);
        sf_close(file);
        auto bytes = testsupport::readFile(dir / "claims.flac");
        ASSERT_GT(bytes.size(), 26u);
        ASSERT_EQ(bytes.substr(0, 4), "fLaC");
        // The stream information's 36-bit sample count starts at the low half of byte 21.
        const uint64_t claimed = (uint64_t(1) << 28) - 1;
        bytes[21] = char((uint8_t(bytes[21]) & 0xF0) | uint8_t(claimed >> 32));
        for (int i = 0; i < 4; ++i) bytes[size_t(22 + i)] = char(uint8_t(claimed >> (24 - 8 * i)));
        testsupport::writeFile(dir / "claims.flac", bytes);
    }
    Rig claims;
    claims.sampler.loadAudioFiles({URL(dir / "claims.flac")});
    claims.sampler.startNote(60, 127, 0);
    const V a = claims.render(8820);
    EXPECT_NEAR(peak(a, 0, 4000), 0.5, 0.01);
    EXPECT_EQ(peak(a, 4410), 0.0);
}

TEST(SamplerZones, AShortLoopOfAFastFileSkipsWholePassesAtOnce) {
    testsupport::ScratchDir dir;
    // A file at 2 GHz looping two frames, played 127 keys above its root: every output frame
    // steps over millions of passes of the loop.
    writeSine(dir / "fast.wav", 2e9, 5e8, 4.5e-9, 0, Loop{1, 3});
    Rig fast;
    fast.sampler.loadAudioFiles({URL(dir / "fast.wav")});
    fast.sampler.startNote(127, 127, 0);
    const V b = fast.render(4096);
    EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](float x) { return std::isfinite(x) && std::abs(x) <= 0.5f; }));
    EXPECT_GT(peak(b), 0.1);
}
