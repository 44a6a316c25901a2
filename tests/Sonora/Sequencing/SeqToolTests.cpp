// sonora-tool's sequencer commands against midicsv and the crafted 96-PPQ file.
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <vector>

using namespace testsupport;

namespace {

bool has(const std::vector<std::string>& all, const std::string& line) {
    return std::find(all.begin(), all.end(), line) != all.end();
}

std::vector<std::string> startingWith(const std::vector<std::string>& all, const std::string& prefix) {
    std::vector<std::string> result;
    for (const auto& line : all)
        if (line.rfind(prefix, 0) == 0) result.push_back(line);
    return result;
}

std::vector<std::filesystem::path> corpus() {
    std::vector<std::filesystem::path> files;
    for (const char* dir : {"/usr/share/games/openttd/baseset/openmsx", "/usr/share/planetblupi/music"}) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(dir, error))
            if (entry.path().extension() == ".mid") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

class SeqTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(run("python3 " + q(toolPath("seq-files.py")) + " " + q(crafted)), 0);
    }
    std::string seq(const std::string& args, int* status = nullptr) {
        return capture("timeout 60 " + q(toolPath("sonora-tool")) + " " + args + " 2>/dev/null", status);
    }
    ScratchDir dir;
    std::filesystem::path crafted = dir / "crafted.mid";
};

}  // namespace

TEST_F(SeqTool, CorpusRoundTripAgreesWithMidicsv) {
    const auto files = corpus();
    if (!haveTool("midicsv") || files.empty())
        GTEST_SKIP() << "midicsv, openttd-openmsx or planetblupi-music-midi is not installed";
    std::string arguments;
    for (const auto& file : files) arguments += " " + q(file);
    int status = -1;
    const std::string report = capture("python3 " + q(toolPath("seq-roundtrip-check.py")) + " " +
                                           q(toolPath("sonora-tool")) + arguments + " " + q(crafted),
                                       &status);
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find(std::to_string(files.size() + 1) + " files, 0 failures"), std::string::npos) << report;
}

TEST_F(SeqTool, InfoOfTheCraftedFileBeforeAndAfterSetTempo) {
    int status = -1;
    const auto info = lines(seq("seq-info " + q(crafted) + " --dump", &status));
    ASSERT_EQ(status, 0);
    EXPECT_EQ(info.at(0), "resolution 96");
    EXPECT_EQ(startingWith(info, "track "), (std::vector<std::string>{"track 0 InitializedTrack length 7.75 notes 16"}));
    EXPECT_EQ(startingWith(info, "tempo "), (std::vector<std::string>{"tempo 0 100", "tempo 4 140"}));
    EXPECT_EQ(startingWith(info, "timesig "), (std::vector<std::string>{"timesig 0 6/8"}));
    for (const char* line : {"MIDI Note @:0.0 note:60 velocity:90 duration:0.25 channel:1",
                             "MIDI Channel Message @2.0 data1:7 data2:100 status:controllerChange",
                             "MIDI Program Change @ 4.0 - program: 0 - channel: 1"})
        EXPECT_TRUE(has(info, line)) << line;
    EXPECT_EQ(startingWith(info, "MIDI Note @:").size(), 16u);

    const auto changed = lines(seq("seq-info " + q(crafted) + " --set-tempo 300", &status));
    ASSERT_EQ(status, 0);
    EXPECT_EQ(startingWith(changed, "tempo "), (std::vector<std::string>{"tempo 0 280"}));
    EXPECT_EQ(startingWith(changed, "timesig "), (std::vector<std::string>{"timesig 0 6/8"}));
}

TEST_F(SeqTool, RoundTripOfTheCraftedFileAndBadInputs) {
    int status = -1;
    EXPECT_EQ(seq("seq-roundtrip " + q(crafted) + " " + q(dir / "out.mid"), &status),
              "tracks 1 resolution 96 length 7.75\n");
    EXPECT_EQ(status, 0);
    const auto again = lines(seq("seq-info " + q(dir / "out.mid"), &status));
    EXPECT_TRUE(has(again, "resolution 480"));
    EXPECT_TRUE(has(again, "timesig 0 6/8"));

    writeFile(dir / "cut.mid", readFile(crafted).substr(0, 60));
    for (const auto& bad : {dir / "cut.mid", dir / "missing.mid", dir.path()}) {
        seq("seq-info " + q(bad), &status);
        EXPECT_TRUE(status == 0 || status == 1) << bad << " exited " << status;
    }
}

TEST_F(SeqTool, MidiplayerPlaysEveryEventAtItsFrameAndSoundsLikeFluidsynth) {
    const std::filesystem::path font = "/usr/share/sounds/sf2/TimGM6mb.sf2";
    if (!haveTool("fluidsynth") || !haveTool("sox") || !haveTool("midicsv") || !std::filesystem::exists(font) ||
        run("/usr/bin/python3 -c 'import numpy' 2>/dev/null") != 0)
        GTEST_SKIP() << "fluidsynth, sox, midicsv, numpy or the TimGM6mb SoundFont is not installed";
    int status = -1;
    const std::string report = capture("/usr/bin/python3 " + q(toolPath("midiplayer-check.py")) + " " +
                                           q(toolPath("sonora-tool")) + " " + q(crafted) + " " + q(font) + " " +
                                           q(dir.path()) + " 2>&1",
                                       &status);
    EXPECT_EQ(status, 0) << report;
    EXPECT_NE(report.find("messages 34,"), std::string::npos) << report;
}
