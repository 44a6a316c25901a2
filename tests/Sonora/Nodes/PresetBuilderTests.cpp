// The sampler preset writer: numbering, key ranges, trigger rules, envelopes, escaping and the
// failures, read back by Python's plistlib and by the sampler unit.
#include "Sonora/Nodes/Playback/AppleSampler/PresetBuilder.h"
#include "main/TestSupport.h"
#include "platform/audiotoolbox/detail/SamplerInstrument.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace sonora;

namespace {

// One line per layer: "L<id> Z<id> root min max waveform loop [trigger N] voices N attack release",
// then one line per file reference "Sample:N path", and "name <top name> / <instrument name>".
std::string summary(const std::filesystem::path& preset) {
    const std::string script = R"(
import plistlib, sys
p = plistlib.load(open(sys.argv[1], 'rb'))
for l in p['Instrument']['Layers']:
    z = l['Zones']
    stages = {s['stage']: s for s in l['Envelopes'][0]['Stages']}
    zs = ' '.join('Z%d %d %d %d %d %s' % (x['ID'], x['root key'], x['min key'], x['max key'], x['waveform'],
                  x['loop enabled']) for x in z)
    print('L%d %s%s voices %s attack %r release %r' % (l['ID'], zs,
          ' trigger %d' % l['trigger mode'] if 'trigger mode' in l else '', l.get('voice count'),
          stages[1]['time'], stages[5]['time']))
for k, v in sorted(p['file-references'].items()):
    print(k, v)
print('name', p['name'], '/', p['Instrument']['name'])
)";
    testsupport::writeFile(preset.parent_path() / "summary.py", script);
    int status = -1;
    const std::string out = testsupport::capture("/usr/bin/python3 " + testsupport::q(preset.parent_path() / "summary.py") +
                                                     " " + testsupport::q(preset) + " 2>&1",
                                                 &status);
    EXPECT_EQ(status, 0) << out;
    return out;
}

SampleDescription sample(std::optional<int64_t> root, const std::string& file, std::optional<int64_t> start,
                         std::optional<int64_t> end, std::optional<std::string> mode = std::nullopt) {
    SampleDescription d{{"filename", file}};
    if (root) d["rootnote"] = *root;
    if (start) d["startnote"] = *start;
    if (end) d["endnote"] = *end;
    if (mode) d["triggerMode"] = *mode;
    return d;
}

}  // namespace

TEST(PresetBuilder, NumbersKeyRangesAndTriggerRules) {
    testsupport::ScratchDir dir;
    const auto path = dir / "p.aupreset";
    PresetBuilder::createAUPreset({sample(60, "a.wav", 48, 72, "loop"),
                                   sample(62, "a.wav", std::nullopt, std::nullopt, "hold"),
                                   sample(std::nullopt, "b.wav", 1, 2),
                                   sample(64, "c.wav", 48, std::nullopt, "trigger"),
                                   sample(65, "b.wav", 10, 20, "repeat"),
                                   sample(66, "d.wav", 0, 127, "anything"),
                                   sample(67, "d.wav", 0, 127)},
                                  path.string(), "Piano", 0.01, 0.5);
    EXPECT_EQ(summary(path),
              "L1 Z0 60 48 72 268435457 True voices 1 attack 0.01 release 0.5\n"
              "L2 Z1 62 62 62 268435457 False voices 1 attack 0.01 release 0.5\n"
              "L4 Z3 64 64 64 268435459 False trigger 11 voices 1 attack 0.01 release 0.5\n"
              "L5 Z4 65 10 20 268435458 False trigger 11 voices 1 attack 0.01 release 0.5\n"
              "L6 Z5 66 0 127 268435460 False trigger 11 voices 1 attack 0.01 release 0.5\n"
              "L7 Z6 67 0 127 268435460 False trigger 11 voices 1 attack 0.01 release 0.5\n"
              "Sample:268435457 a.wav\nSample:268435458 b.wav\nSample:268435459 c.wav\nSample:268435460 d.wav\n"
              "name Piano / Code Generated Instrument\n");
    // The sampler unit reads what the writer wrote.
    const auto preset = platform::detail::readAUPreset(platform::URL(path));
    ASSERT_EQ(preset.layers.size(), 6u);
    EXPECT_EQ(preset.layers[0].zones[0].file.filePath(), dir / "a.wav");
    EXPECT_EQ(preset.layers[0].zones[0].loopEnabled, true);
    EXPECT_FALSE(preset.layers[0].ignoreNoteOff);
    EXPECT_TRUE(preset.layers[2].ignoreNoteOff);
    EXPECT_EQ(preset.layers[1].voiceCount, 1);
    EXPECT_DOUBLE_EQ(preset.layers[1].attack, 0.01);
    EXPECT_DOUBLE_EQ(preset.layers[1].release, 0.5);
}

TEST(PresetBuilder, TextsAreEscapedAndAnEmptyListHasNoZones) {
    testsupport::ScratchDir dir;
    const auto path = dir / "p.aupreset";
    PresetBuilder::createAUPreset({sample(69, "Drums & Bass <live>.wav", 0, 127)}, path.string(), "A & <B>", 0, 0);
    EXPECT_EQ(summary(path),
              "L1 Z0 69 0 127 268435457 False trigger 11 voices 1 attack 0.0 release 0.0\n"
              "Sample:268435457 Drums & Bass <live>.wav\nname A & <B> / Code Generated Instrument\n");

    PresetBuilder::createAUPreset({}, path.string(), "Empty", std::nullopt, std::nullopt);
    EXPECT_EQ(summary(path), "L0  voices None attack 0.0 release 0.0\nname Empty / Code Generated Instrument\n");
    EXPECT_EQ(testsupport::readFile(path).find("***ZONES***"), std::string::npos);
}

TEST(PresetBuilder, BadDescriptionsAndAMissingEnvelopeWriteNothing) {
    testsupport::ScratchDir dir;
    const struct {
        std::vector<SampleDescription> samples;
        std::optional<double> attack, release;
    } cases[] = {
        {{sample(60, "a.wav", 0, 127)}, std::nullopt, 0.5},
        {{sample(60, "a.wav", 0, 127)}, 0.1, std::nullopt},
        {{SampleDescription{{"rootnote", int64_t(60)}}}, 0.1, 0.1},                        // no filename
        {{sample(60, "a.wav", 0, 127), SampleDescription{{"filename", int64_t(3)}}}, 0.1, 0.1},  // not text
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto path = dir / ("p" + std::to_string(i) + ".aupreset");
        PresetBuilder::createAUPreset(cases[i].samples, path.string(), "X", cases[i].attack, cases[i].release);
        EXPECT_FALSE(std::filesystem::exists(path)) << i;
    }
    // An unwritable path is logged, not thrown.
    EXPECT_NO_THROW(PresetBuilder::createAUPreset({}, (dir / "no" / "such" / "p.aupreset").string(), "X", 0, 0));
}

TEST(PresetBuilder, Fragments) {
    EXPECT_EQ(PresetBuilder::generateLayerConnections(1).find("<integer>816840960</integer>") != std::string::npos &&
                  PresetBuilder::generateLayerConnections(1).find("<integer>1343226112</integer>") != std::string::npos &&
                  PresetBuilder::generateLayerConnections(1).find("<integer>536871168</integer>") != std::string::npos,
              true);
    EXPECT_EQ(PresetBuilder::generateRealEntry("gain", 0), "        <key>gain</key>\n        <real>0.0</real>\n");
    EXPECT_EQ(PresetBuilder::generateFilter(20000, 0).find("<real>20000.0</real>") != std::string::npos, true);
    EXPECT_EQ(PresetBuilder::generateLFO(0, 0, 0, 3), "                        <dict>\n"
                                                      "                            <key>ID</key>\n"
                                                      "                            <integer>0</integer>\n"
                                                      "                            <key>delay</key>\n"
                                                      "                            <real>0.0</real>\n"
                                                      "                            <key>enabled</key>\n"
                                                      "                            <true/>\n"
                                                      "                            <key>rate</key>\n"
                                                      "                            <real>3.0</real>\n"
                                                      "                        </dict>\n");
    EXPECT_NE(PresetBuilder::generateLFO(0, 2, 0, 3).find("<key>waveform</key>"), std::string::npos);
    EXPECT_NE(PresetBuilder::generateZone(0, 60, 0, 127, INT64_MAX, 5, false).find("<integer>9223372036854775807</integer>"),
              std::string::npos);
    EXPECT_EQ(PresetBuilder::generateFileRef(268435457, "a&b"),
              "            <key>Sample:268435457</key>\n            <string>a&amp;b</string>\n");
    const SampleDescription dict = PresetBuilder::generateDict(60, "x.wav", 48, 72);
    EXPECT_EQ(dict.size(), 4u);
    EXPECT_EQ(std::get<int64_t>(dict.at("startnote")), 48);
    EXPECT_EQ(sampleTriggerMode("loop"), SampleTriggerMode::Loop);
    EXPECT_EQ(sampleTriggerMode("Loop"), std::nullopt);
    EXPECT_EQ(rawValue(SampleTriggerMode::Repeat), "repeat");
}
