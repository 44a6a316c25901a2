// sonora-tool's kernel-node commands checked from the shell: fixtures made with sox and numpy.
#pragma once

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

class FxTool : public ::testing::Test {
protected:
    void SetUp() override {
        using testsupport::q;
        if (!testsupport::haveTool("sox")) GTEST_SKIP() << "sox missing";
        ASSERT_EQ(testsupport::run("sox -n -r 44100 -c 2 -b 16 " + q(t / "tone.wav") + " synth 2 sine 1000 gain -6"), 0);
        // A 0.5 DC stereo file, 2 s, written as raw floats.
        std::string dc(88200 * 2 * 4, '\0');
        const float half = 0.5f;
        for (size_t i = 0; i < dc.size(); i += 4) dc.replace(i, 4, reinterpret_cast<const char*>(&half), 4);
        testsupport::writeFile(t / "dc.f32", dc);
        ASSERT_EQ(testsupport::run("sox -t f32 -r 44100 -c 2 " + q(t / "dc.f32") + " " + q(t / "dc.wav")), 0);
    }
    // Runs `sonora-tool ARGS`; the exit status.
    int tool(const std::string& args) { return testsupport::run(testsupport::q(testsupport::toolPath("sonora-tool")) + " " + args); }
    // The file's samples, interleaved, through `sonora-tool dump`.
    std::vector<float> samples(const std::string& name) {
        const auto out = t / (name + ".f32");
        EXPECT_EQ(tool("dump " + testsupport::q(t / name) + " " + testsupport::q(out)), 0);
        return testsupport::readFloats(out);
    }
    std::string path(const std::string& name) { return testsupport::q(t / name); }
    testsupport::ScratchDir t;
};
