// Argument parsing and error printing shared by sonora-tool's commands.
#pragma once

#include "Sonora/Nodes/Node.h"
#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <memory>
#include <utility>
#include <vector>

namespace tool {

// The whole text as a finite number; nullopt for anything else (empty, trailing characters, inf, nan).
std::optional<double> parseNumber(const std::string& text);

// As parseNumber, and at least 0.
std::optional<double> parseNonNegative(const std::string& text);

// A whole number that fits 32 bits unsigned.
std::optional<uint32_t> parseCount(const std::string& text);

// FILE@REST split at the last '@', so that file names may hold '@'; nullopt without '@' or a file name.
std::optional<std::pair<std::string, std::string>> splitClip(const std::string& text);

// Writes a command's usage (whole lines) to stderr; returns 2, the exit status for bad arguments.
int printUsage(const char* lines);

// One line on stderr: "sonora-tool: <text>".
void printError(const std::string& text);

// One line on stderr: "sonora-tool: <description> (<domain> <code>)".
void printError(const platform::NSError& error);

// Settings of a 32-bit float stereo file at `sampleRate`, the form the tool writes rendered audio in.
platform::AVAudioSettings floatStereoSettings(double sampleRate);

// The frames of a render of `seconds` (at most `limit`, when given) at `rate` into OUT as 32-bit
// float stereo. Throws
// std::runtime_error, naming the length, when they would not fit in the free space of the file
// system OUT is on, so that a file stating an absurd length is refused before anything is written.
int64_t renderFrames(const std::string& out, double seconds, std::optional<double> limit, double rate);

// The rate of the files the engine commands play.
inline constexpr double kInputRate = 44100;

// IN (44100 Hz, mono or stereo) as two channels of samples; throws for anything else.
std::vector<std::vector<float>> readInput(const std::string& path);

// A source node that plays its samples from its first render on, then silence.
class BufferSource : public sonora::Node {
public:
    explicit BufferSource(std::vector<std::vector<float>> samples);
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override;

private:
    std::shared_ptr<platform::AVAudioNode> node_;
};

// A source node that plays IN (44100 Hz, mono or stereo; throws for anything else) from its first
// render on, then silence, reading the file a piece at a time as it plays, so that a long file
// costs no more memory than a short one. For offline renders: reading happens in the render call.
class FileSource : public sonora::Node {
public:
    explicit FileSource(const std::string& path);
    // Frames in the file.
    int64_t length() const { return length_; }
    // Throws what a read during the render threw (the frames after it played as silence).
    void checkReads() const;
    std::vector<std::shared_ptr<sonora::Node>> connections() const override { return {}; }
    std::shared_ptr<platform::AVAudioNode> avAudioNode() const override;

private:
    struct Reader;
    std::shared_ptr<Reader> reader_;
    int64_t length_ = 0;
    std::shared_ptr<platform::AVAudioNode> node_;
};

}  // namespace tool
