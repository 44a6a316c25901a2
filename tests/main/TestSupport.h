// Small helpers shared by the tests: scratch folders, outside tools and signal fixtures.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// Spins the main run loop until `done` returns true or `seconds` have passed; false on the deadline.
bool spinUntil(const std::function<bool()>& done, double seconds = 20);

// A fresh folder under the test's private HOME, removed when the object goes away.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// True when the named program is on PATH.
bool haveTool(const std::string& name);

// Runs a shell command; returns its exit status (-1 when it could not run).
int run(const std::string& command);

// Runs a shell command and returns what it printed on stdout.
std::string capture(const std::string& command, int* status = nullptr);

// The lines of a text (without their line ends).
std::vector<std::string> lines(const std::string& text);

// The whole content of a file, or an empty string.
std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// A format-1 Standard MIDI File at 480 ticks per beat holding these track bodies (each closed with
// an end of track).
std::string midiFile(const std::vector<std::string>& tracks);

// Raw little-endian float32 samples of a file.
std::vector<float> readFloats(const std::filesystem::path& path);

// Where the test drivers (sonora-tool, ...) were built.
std::filesystem::path toolPath(const std::string& name);

// Quotes a path for the shell.
std::string q(const std::filesystem::path& path);

}  // namespace testsupport
