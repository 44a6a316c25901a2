#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"

#include "ConverterFixtures.h"
#include "main/TestSupport.h"

#include <gtest/gtest.h>

using namespace converterfixtures;
using sonora::FormatConverter;
using testsupport::ScratchDir;
namespace fs = std::filesystem;

TEST(FormatConverterOptions, DefaultsClampAndFileDerivedValues) {
    FormatConverter::Options options;
    EXPECT_EQ(options.bitRate(), 128000u);
    EXPECT_EQ(options.bitDepthRule, FormatConverter::BitDepthRule::lessThanOrEqual);
    EXPECT_TRUE(options.eraseFile);
    EXPECT_FALSE(options.format || options.sampleRate || options.bitDepth || options.channels || options.isInterleaved);
    for (auto [set, stored] : {std::pair{500000u, 320000u}, {1000u, 64000u}, {192000u, 192000u}}) {
        options.setBitRate(set);
        EXPECT_EQ(options.bitRate(), stored) << set;
    }

    ScratchDir dir;
    writeTone(dir / "tone.WAV", 48000, 2, 4800, 24);
    const auto fromFile = FormatConverter::Options::fromURL(platform::URL(dir / "tone.WAV"));
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(fromFile->format, "WAV") << "the extension is taken unchanged";
    EXPECT_EQ(fromFile->sampleRate, 48000.0);
    EXPECT_EQ(fromFile->bitDepth, 24u);
    EXPECT_EQ(fromFile->channels, 2u);
    EXPECT_EQ(fromFile->bitRate(), 128000u);
    EXPECT_FALSE(FormatConverter::Options::fromURL(platform::URL(dir / "missing.wav")));
}

TEST(FormatConverter, TablesAndCompressionProbe) {
    EXPECT_EQ(FormatConverter::outputFormats(), (std::vector<std::string>{"wav", "aif", "caf", "m4a"}));
    EXPECT_EQ(FormatConverter::inputFormats().size(), 17u);

    ScratchDir dir;
    writeTone(dir / "pcm.wav", 44100, 1, 4410);
    fs::copy_file(dir / "pcm.wav", dir / "pcm-no-extension");
    fs::copy_file(dir / "pcm.wav", dir / "pcm.xyz");
    const struct {
        fs::path path;
        bool ignoreExtension;
        std::optional<bool> compressed;
    } cases[] = {
        {"a.wav", false, false}, {"a.AIFF", false, false}, {"a.bwf", false, false},  {"a.caf", false, false},
        {"a.m4a", false, true},  {"a.MP3", false, true},   {"a.flac", false, true},  {"a.ogg", false, true},
        {dir / "pcm-no-extension", false, false},            // probed: linear PCM
        {dir / "pcm.xyz", false, false},                     // probed
        {dir / "missing.xyz", false, false},                 // cannot be probed: counts as PCM
        {dir / "missing.wav", true, std::nullopt},           // probe only: no answer
        {dir / "pcm.wav", true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatConverter::isCompressed(platform::URL(c.path), c.ignoreExtension), c.compressed) << c.path;
    }
    EXPECT_EQ(FormatConverter::isPCM(platform::URL("x.m4a")), false);
}

TEST(FormatConverter, StartRefusesBadRequestsWithItsOwnErrors) {
    ScratchDir dir;
    writeTone(dir / "in.wav", 44100, 2, 4410);
    fs::copy_file(dir / "in.wav", dir / "in.flac");
    testsupport::writeFile(dir / "exists.wav", "keep me");

    FormatConverter::Options keep;
    keep.eraseFile = false;
    FormatConverter::Options aiff;
    aiff.format = "aiff";
    const struct {
        const char* name;
        std::optional<fs::path> in, out;
        std::optional<FormatConverter::Options> options;
        bool clearOptions;
        std::string message;
    } cases[] = {
        {"no input", std::nullopt, dir / "o.wav", {}, false, "Input file can't be nil."},
        {"no output", dir / "in.wav", std::nullopt, {}, false, "Output file can't be nil."},
        {"flac is not an input format", dir / "in.flac", dir / "o.wav", {}, false,
         "The input file format is in an incompatible format: flac"},
        {"existing output without eraseFile", dir / "in.wav", dir / "exists.wav", keep, false,
         "The output file exists already. You need to choose a unique URL or delete the file."},
        {"existing output without options", dir / "in.wav", dir / "exists.wav", {}, true,
         "The output file exists already. You need to choose a unique URL or delete the file."},
        {"no options", dir / "in.wav", dir / "o.wav", {}, true, "Options can't be nil."},
        {"mp3 cannot be produced", dir / "in.wav", dir / "o.mp3", {}, false,
         "The output file format isn't able to be produced by this class."},
        {"aiff is no PCM output key", dir / "in.wav", dir / "o.aif", aiff, false, "Output file must be caf, wav or aif."},
        {"no extension, not a file: the PCM path cannot open it", dir / "missing", dir / "o.wav", {}, false,
         "Unable to open the input file."},
    };
    for (const auto& c : cases) {
        auto converter = std::make_shared<FormatConverter>(c.in ? std::optional<platform::URL>(*c.in) : std::nullopt,
                                                           c.out ? std::optional<platform::URL>(*c.out) : std::nullopt,
                                                           c.options);
        if (c.clearOptions) converter->setOptions(std::nullopt);
        const Outcome outcome = run(converter);
        EXPECT_EQ(outcome.calls, 1) << c.name;
        ASSERT_TRUE(outcome.error) << c.name;
        EXPECT_EQ(outcome.error->localizedDescription, c.message) << c.name;
        EXPECT_EQ(outcome.error->code, 1) << c.name;
        EXPECT_EQ(outcome.error->domain, FormatConverter::errorDomain) << c.name;
        EXPECT_TRUE(outcome.beforeStartReturned) << c.name;
        EXPECT_FALSE(fs::exists(dir / "o.wav") || fs::exists(dir / "o.mp3") || fs::exists(dir / "o.aif")) << c.name;
    }
    EXPECT_EQ(testsupport::readFile(dir / "exists.wav"), "keep me");
    EXPECT_EQ(std::string(FormatConverter::errorDomain).substr(std::string(FormatConverter::errorDomain).size() - 22),
              ".FormatConverter.error");
}

TEST(FormatConverter, DispatchFollowsTheOutputAndInputKinds) {
    ScratchDir dir;
    writeTone(dir / "in.WAV", 44100, 2, 44100);
    testsupport::writeFile(dir / "old.caf", "an older output");

    // PCM output: the PCM path, synchronously; an existing output is replaced.
    platform::LogSink::clear();
    Outcome pcm = convert(dir / "in.WAV", dir / "old.caf");
    EXPECT_EQ(pcm.calls, 1);
    EXPECT_FALSE(pcm.error) << pcm.message();
    EXPECT_TRUE(pcm.beforeStartReturned);
    EXPECT_TRUE(logged("Warning: removing existing file at"));
    EXPECT_EQ(fileDataFormat(dir / "old.caf").mFormatID, platform::kAudioFormatLinearPCM);

    // PCM input, compressed output: the asset reader and writer, finishing later on another thread.
    Outcome aac = convert(dir / "in.WAV", dir / "out.m4a");
    EXPECT_EQ(aac.calls, 1);
    EXPECT_FALSE(aac.error) << aac.message();
    EXPECT_EQ(fileDataFormat(dir / "out.m4a").mFormatID, platform::kAudioFormatMPEG4AAC);

    // An m4a name with options.format "wav": a WAV file under that name, from the compressed path.
    FormatConverter::Options wav;
    wav.format = "wav";
    Outcome named = convert(dir / "in.WAV", dir / "a.m4a", wav);
    EXPECT_FALSE(named.error) << named.message();
    EXPECT_EQ(testsupport::readFile(dir / "a.m4a").substr(8, 4), "WAVE");

    // Compressed input and output: decoded to <output>_TEMP.wav first, which is gone afterwards.
    testsupport::writeFile(dir / "again_TEMP.wav", "stale");
    platform::LogSink::clear();
    Outcome twice = convert(dir / "out.m4a", dir / "again.m4a");
    EXPECT_EQ(twice.calls, 1);
    EXPECT_FALSE(twice.error) << twice.message();
    EXPECT_TRUE(logged((dir / "again_TEMP.wav").string())) << "the stale temporary file was removed with a warning";
    EXPECT_FALSE(fs::exists(dir / "again_TEMP.wav"));
    EXPECT_EQ(fileDataFormat(dir / "again.m4a").mFormatID, platform::kAudioFormatMPEG4AAC);
}

TEST(FormatConverter, NoHandlerStillConverts) {
    ScratchDir dir;
    writeTone(dir / "in.caf", 44100, 1, 4410);
    auto converter = std::make_shared<FormatConverter>(platform::URL(dir / "in.caf"), platform::URL(dir / "o.wav"));
    converter->start();
    EXPECT_EQ(fileDataFormat(dir / "o.wav").mBitsPerChannel, 16u);
}
