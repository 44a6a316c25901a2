#include "platform/foundation/Bundle.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform {

namespace {
Bundle::InfoDictionary compiledInInfo() {
    return {
        {"CFBundleDisplayName", "Tamberlo"},
        {"CFBundleIdentifier", "io.tamberlo.Tamberlo"},
        {"CFBundleName", "Tamberlo"},
        {"CFBundleShortVersionString", "0.1.0"},
        {"CFBundleVersion", "1"},
        {"NSMicrophoneUsageDescription",
         "Tamberlo 需要使用麦克风来录制音频。Tamberlo needs the microphone to record audio."},
    };
}
}  // namespace

Bundle::Bundle() : info_(compiledInInfo()) {}

Bundle& Bundle::main() {
    static Bundle bundle;
    return bundle;
}

Bundle::InfoDictionary Bundle::infoDictionary() const {
    std::lock_guard lock(mutex_);
    return info_;
}

std::optional<std::string> Bundle::objectForInfoDictionaryKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto it = info_.find(key);
    if (it == info_.end()) return std::nullopt;
    return it->second;
}

void Bundle::setInfoDictionaryForTesting(InfoDictionary dictionary) {
    std::lock_guard lock(mutex_);
    info_ = std::move(dictionary);
}

void Bundle::restoreInfoDictionary() {
    std::lock_guard lock(mutex_);
    info_ = compiledInInfo();
}

std::string Bundle::resourcePath() const {
    std::lock_guard lock(mutex_);
    if (resourcePath_) return *resourcePath_;
    if (const char* env = std::getenv("TAMBERLO_RESOURCES"); env && *env) return env;
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string("Resources") : (executable.parent_path() / "Resources").string();
}

void Bundle::setResourcePath(const std::string& path) {
    std::lock_guard lock(mutex_);
    resourcePath_ = path;
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& type) const {
    if (name.empty()) return std::nullopt;
    const std::string file = type.empty() ? name : name + "." + type;
    const auto path = std::filesystem::path(resourcePath()) / file;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    return path.string();
}

}  // namespace platform
