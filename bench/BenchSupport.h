// Timing, peer commands and the fixture folder shared by the benchmarks.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace bench {

// Each figure is the best of this many runs.
inline constexpr int kRuns = 3;

// Whether a peer's own output reaches the terminal.
enum class Output { shown, hidden };

// Wall-clock seconds of one run of `work`.
double seconds(const std::function<void()>& work);

// The shortest of kRuns runs of `work`, in seconds.
double best(const std::function<void()>& work);

// A path quoted for the shell.
std::string q(const std::filesystem::path& path);

// Runs a shell command; a failure ends the benchmark (status 1) with the command on stderr.
void mustRun(const std::string& command, Output output = Output::shown);

// The best time of a peer's command, which must succeed.
double bestCommand(const std::string& command, Output output = Output::shown);

// Whether `tool` is on the PATH.
bool haveTool(const std::string& tool);

// A new, empty folder for this run's fixtures under the temporary folder, named for the benchmark;
// a failure ends the benchmark (status 1).
std::filesystem::path makeFixtureFolder();

}  // namespace bench
