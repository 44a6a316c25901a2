#include "BenchSupport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

// The running benchmark's name, for its messages.
const char* name() { return program_invocation_short_name; }

}  // namespace

double seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double best(const std::function<void()>& work) {
    double t = 1e300;
    for (int i = 0; i < kRuns; ++i) t = std::min(t, seconds(work));
    return t;
}

std::string q(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

void mustRun(const std::string& command, Output output) {
    const std::string line = output == Output::hidden ? command + " >/dev/null 2>&1" : command;
    if (std::system(line.c_str()) != 0) {
        std::fprintf(stderr, "%s: failed: %s\n", name(), command.c_str());
        std::exit(1);
    }
}

double bestCommand(const std::string& command, Output output) {
    return best([&] { mustRun(command, output); });
}

bool haveTool(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null").c_str()) == 0; }

std::filesystem::path makeFixtureFolder() {
    std::error_code error;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(error);
    std::string pattern = ((error ? std::filesystem::path("/tmp") : temp) / (std::string(name()) + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) {
        std::fprintf(stderr, "%s: cannot create a folder like %s\n", name(), pattern.c_str());
        std::exit(1);
    }
    return buffer.data();
}

}  // namespace bench
