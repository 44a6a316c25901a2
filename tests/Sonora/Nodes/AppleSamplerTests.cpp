// The sampler node: file lookup, bank numbers, level controls, loaders and their failures,
// rendered through an engine.
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "Sonora/Nodes/Playback/AppleSampler/AppleSampler.h"
#include "main/TestSupport.h"
#include "platform/audiotoolbox/AVAudioUnitSampler.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

using namespace sonora;
using platform::NSErrorException;

namespace {

const std::string kSoundFont = "/usr/share/sounds/sf2/TimGM6mb";
bool haveSoundFont() { return std::filesystem::exists(kSoundFont + ".sf2"); }

double rmsOf(const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer) {
    if (!buffer || buffer->frameLength() == 0) return 0;
    const float* samples = buffer->floatChannelData()[0];
    double sum = 0;
    for (uint32_t i = 0; i < buffer->frameLength(); ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / buffer->frameLength());
}

// Renders the sampler alone for `seconds` after `play` ran.
double renderedRMS(const std::shared_ptr<AppleSampler>& sampler, const std::function<void()>& play, double seconds = 0.5) {
    AudioEngine engine;
    engine.setOutput(sampler);
    engine.startTest(seconds);
    play();
    const auto rendered = engine.render(seconds);
    engine.stop();
    return rmsOf(rendered);
}

}  // namespace

TEST(AppleSampler, BankNumbersBecomeMSBAndLSB) {
    const struct {
        int bank;
        uint8_t msb, lsb;
    } cases[] = {{0, 121, 0}, {5, 121, 5}, {127, 121, 127}, {128, 120, 0}, {130, 120, 2}, {255, 120, 127}, {256, 120, 0}};
    for (const auto& c : cases) {
        const auto [msb, lsb] = AppleSampler::bankMSBAndLSB(c.bank);
        EXPECT_EQ(msb, c.msb) << c.bank;
        EXPECT_EQ(lsb, c.lsb) << c.bank;
    }
}

TEST(AppleSampler, LevelControlsWriteTheUnit) {
    AppleSampler sampler;
    EXPECT_TRUE(sampler.connections().empty());
    EXPECT_EQ(sampler.avAudioNode(), sampler.samplerUnit());
    EXPECT_EQ(sampler.internalAU(), sampler.samplerUnit()->auAudioUnit());
    sampler.setVolume(0.5f);
    EXPECT_EQ(sampler.samplerUnit()->masterGain(), -45.0f);
    sampler.setAmplitude(-6);
    EXPECT_EQ(sampler.samplerUnit()->masterGain(), -6.0f);
    EXPECT_EQ(sampler.volume(), 0.5f);
    sampler.setPan(-1);
    EXPECT_EQ(sampler.samplerUnit()->stereoPan(), -100.0f);
    sampler.setTuning(2);
    EXPECT_EQ(sampler.samplerUnit()->globalTuning(), 200.0f);
    EXPECT_EQ(sampler.tuning(), 2.0f);

    auto other = std::make_shared<platform::AVAudioUnitSampler>();
    sampler.setSamplerUnit(other);
    EXPECT_EQ(sampler.avAudioNode(), other);
}

TEST(AppleSampler, LocatesAbsolutePathsThenBundleResources) {
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir / "abs.wav", "x");
    std::filesystem::create_directories(dir / "res" / "sub");
    testsupport::writeFile(dir / "res" / "kit.wav", "x");
    testsupport::writeFile(dir / "res" / "sub" / "deep.wav", "x");
    testsupport::writeFile(dir / "outside.wav", "x");
    std::filesystem::create_symlink(dir / "outside.wav", dir / "res" / "link.wav");
    auto& bundle = platform::Bundle::main();
    const platform::URL saved = bundle.resourceURL();
    bundle.setResourceURL(dir / "res");

    AppleSampler sampler;
    const std::string absolute = (dir / "abs").string();
    const struct {
        std::string name;
        std::optional<std::filesystem::path> found;
    } cases[] = {
        {absolute, dir / "abs.wav"},
        {"kit", dir / "res" / "kit.wav"},
        {"sub/deep", dir / "res" / "sub" / "deep.wav"},
        {"/kit", dir / "res" / "kit.wav"},  // no such absolute file: the bundle's "kit"
        {"missing", std::nullopt},
        {"../outside", std::nullopt},
        {"sub/../../outside", std::nullopt},
        {"link", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto url = sampler.locateFile(c.name, "wav", bundle);
        ASSERT_EQ(url.has_value(), c.found.has_value()) << c.name;
        if (url) {
            EXPECT_EQ(std::filesystem::weakly_canonical(url->filePath()), std::filesystem::weakly_canonical(*c.found))
                << c.name;
        }
    }
    bundle.setResourceURL(saved);
}

TEST(AppleSampler, LookupFailuresThrowTheNotFoundError) {
    AppleSampler sampler;
    const std::function<void()> loads[] = {
        [&] { sampler.loadWav("no-such-sample"); },
        [&] { sampler.loadEXS24("no-such-instrument"); },
        [&] { sampler.loadInstrument("no-such-instrument", "aupreset"); },
        [&] { sampler.loadSoundFont("no-such-bank", 0, 121); },
        [&] { sampler.loadSoundFont("no-such-bank", 0, AppleSampler::Bank{128}); },
        [&] { sampler.loadMelodicSoundFont("/no/such/bank", 0); },
    };
    for (size_t i = 0; i < std::size(loads); ++i) {
        try {
            loads[i]();
            ADD_FAILURE() << i << " did not throw";
        } catch (const NSErrorException& e) {
            EXPECT_EQ(e.error().domain, "NSURLErrorDomain") << i;
            EXPECT_EQ(e.error().code, 256) << i;
        }
    }
    // The initializer logs and makes the object anyway.
    AppleSampler empty(std::string("no-such-sample"));
    EXPECT_TRUE(empty.audioFiles().empty());
}

TEST(AppleSampler, SoundFontPlaysThroughTheEngineAndABadBankKeepsIt) {
    if (!haveSoundFont()) GTEST_SKIP() << "no SoundFont";
    testsupport::ScratchDir dir;
    testsupport::writeFile(dir / "bad.sf2", "not a bank");
    auto sampler = std::make_shared<AppleSampler>();
    EXPECT_EQ(renderedRMS(sampler, [&] { sampler->play(60, 100); }), 0.0);
    sampler->loadMelodicSoundFont(kSoundFont, 0);
    EXPECT_THROW(sampler->loadMelodicSoundFont((dir / "bad").string(), 0), NSErrorException);
    EXPECT_THROW(sampler->loadSoundFont(kSoundFont, 0, AppleSampler::Bank{3}), NSErrorException);
    EXPECT_GT(renderedRMS(sampler, [&] { sampler->play(60, 100); }), 0.001);
    sampler->loadPercussiveSoundFont(kSoundFont, 0);
    EXPECT_GT(renderedRMS(sampler, [&] { sampler->play(38, 100, 9); }), 0.001);  // snare
    sampler->setVolume(0);
    EXPECT_LT(renderedRMS(sampler, [&] { sampler->play(38, 100, 9); }), 1e-4);
}

TEST(AppleSampler, WritingAudioFilesThatFailLogsAndKeepsTheArray) {
    testsupport::ScratchDir dir;
    ASSERT_EQ(testsupport::run("sox -n -r 44100 " + testsupport::q(dir / "a.wav") + " synth 0.1 sine 440"), 0);
    auto file = platform::AVAudioFile::forReading(platform::URL(dir / "a.wav"));
    std::filesystem::remove(dir / "a.wav");
    AppleSampler sampler;
    sampler.setAudioFiles({file});
    ASSERT_EQ(sampler.audioFiles().size(), 1u);
    EXPECT_EQ(sampler.audioFiles()[0], file);
}
