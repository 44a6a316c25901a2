// sonora-tool smf against midicsv on real files and on the edge files, and on inputs it must survive.
#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

using namespace testsupport;

namespace {

std::string smf(const std::filesystem::path& file, int* status = nullptr) {
    return capture("timeout 10 " + q(toolPath("sonora-tool")) + " smf " + q(file) + " 2>/dev/null", status);
}

// The lines of chunk `i`: its chunk line and its event lines.
std::vector<std::string> chunkLines(const std::string& output, int i) {
    std::vector<std::string> result;
    const std::string prefix = std::to_string(i) + " ";
    const std::string chunkPrefix = "chunk " + prefix;
    for (const auto& line : lines(output))
        if (line.rfind(prefix, 0) == 0 || line.rfind(chunkPrefix, 0) == 0) result.push_back(line);
    return result;
}

class SMFTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(run("python3 " + q(toolPath("smf-edge-files.py")) + " " + q(dir.path())), 0);
    }
    ScratchDir dir;
};

}  // namespace

TEST_F(SMFTool, CorpusFilesAgreeWithMidicsv) {
    const std::vector<std::string> corpus = {
        "/usr/share/games/openttd/baseset/openmsx/tttheme2.mid",
        "/usr/share/games/openttd/baseset/openmsx/5432gone_redfarn.mid",
        "/usr/share/planetblupi/music/music000.mid",
        "/usr/share/planetblupi/music/music004.mid",
    };
    std::string files;
    for (const auto& file : corpus)
        if (std::filesystem::exists(file)) files += " " + q(file);
    if (!haveTool("midicsv") || files.empty())
        GTEST_SKIP() << "midicsv, openttd-openmsx or planetblupi-music-midi is not installed";
    int status = -1;
    const std::string report = capture("python3 " + q(toolPath("smf-vs-midicsv.py")) + " " +
                                           q(toolPath("sonora-tool")) + files,
                                       &status);
    EXPECT_EQ(status, 0) << report;
}

TEST_F(SMFTool, EdgeFileAgreesWithMidicsvAndSurvivesAlienChunksAndCuts) {
    const std::string edge = smf(dir / "edge.mid");
    ASSERT_FALSE(edge.empty());
    EXPECT_NE(edge.find("chunk 1 length 1.333333 channel 7 meta 2 name Melody"), std::string::npos) << edge;
    if (haveTool("midicsv")) {
        int status = -1;
        const std::string report = capture("python3 " + q(toolPath("smf-vs-midicsv.py")) + " " +
                                               q(toolPath("sonora-tool")) + " " + q(dir / "edge.mid"),
                                           &status);
        EXPECT_EQ(status, 0) << report;
    }
    EXPECT_EQ(smf(dir / "edge-alien.mid"), edge);

    const std::string cut = smf(dir / "edge-cut.mid");
    for (int chunk : {0, 1}) EXPECT_EQ(chunkLines(cut, chunk), chunkLines(edge, chunk)) << chunk;
    const auto whole = chunkLines(edge, 2), shortened = chunkLines(cut, 2);
    ASSERT_GE(shortened.size(), 4u);
    for (size_t i = 1; i <= 3; ++i) EXPECT_EQ(shortened[i], whole[i]);  // its 3 complete events
}

TEST_F(SMFTool, BadInputsEndWithoutCrashOrHang) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename().string().rfind("bad-", 0) != 0) continue;
        ++files;
        int status = -1;
        const std::string out = smf(entry.path(), &status);
        EXPECT_TRUE(status == 0 || status == 1) << entry.path() << " exited " << status;
        if (entry.is_directory()) {
            EXPECT_EQ(status, 1);
        } else {
            EXPECT_EQ(out.rfind("header ", 0), 0u) << entry.path();
        }
    }
    EXPECT_GE(files, 15);
    int status = -1;
    smf(dir / "missing.mid", &status);
    EXPECT_EQ(status, 1);
}
