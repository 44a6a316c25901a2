#include "main/TestSupport.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

bool spinUntil(const std::function<bool()>& done, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

ScratchDir::ScratchDir() {
    static std::atomic<int> counter{0};
    const char* home = std::getenv("HOME");
    std::filesystem::path base = home ? home : std::filesystem::temp_directory_path().string();
    path_ = base / ("scratch-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

bool haveTool(const std::string& name) {
    return run("command -v " + name + " >/dev/null 2>&1") == 0;
}

int run(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::string capture(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status) *status = -1;
        return out;
    }
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, n);
    const int rc = ::pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string midiFile(const std::vector<std::string>& tracks) {
    const auto be32 = [](size_t v) { return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; };
    std::string file = "MThd" + be32(6) + std::string("\0\1", 2) + char(tracks.size() >> 8) + char(tracks.size()) +
                       std::string("\1\xE0", 2);
    for (std::string body : tracks) {
        body += std::string("\0\xFF\x2F\0", 4);
        file += "MTrk" + be32(body.size()) + body;
    }
    return file;
}

std::vector<float> readFloats(const std::filesystem::path& path) {
    const std::string bytes = readFile(path);
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

std::filesystem::path toolPath(const std::string& name) {
    return std::filesystem::path(TAMBERLO_TOOLS_DIR) / name;
}

std::string q(const std::filesystem::path& path) {
    std::string s = "'";
    for (char c : path.string()) {
        if (c == '\'') s += "'\\''";
        else s += c;
    }
    return s + "'";
}

}  // namespace testsupport
