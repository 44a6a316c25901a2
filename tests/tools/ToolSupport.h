// Argument parsing and error printing shared by sonora-tool's commands.
#pragma once

#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/foundation/NSError.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

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

}  // namespace tool
