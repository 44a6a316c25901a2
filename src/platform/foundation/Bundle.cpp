#include "platform/foundation/Bundle.h"

#include <algorithm>
#include <filesystem>

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

Bundle::Bundle() : info_(compiledInInfo()) {
    std::error_code ec;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) resources_ = URL(executable.parent_path() / "Resources");
}

std::optional<URL> Bundle::urlForResource(const std::string& name, const std::string& extension) const {
    namespace fs = std::filesystem;
    if (name.empty()) return std::nullopt;
    const fs::path folder = resourceURL().filePath();
    if (folder.empty()) return std::nullopt;
    const std::string file = extension.empty() ? name : name + "." + extension;
    const fs::path relative = fs::path(file).relative_path().lexically_normal();
    if (relative.empty() || *relative.begin() == "..") return std::nullopt;
    std::error_code ec;
    const fs::path root = fs::weakly_canonical(folder, ec);
    if (ec) return std::nullopt;
    const fs::path candidate = fs::weakly_canonical(root / relative, ec);
    if (ec || !fs::is_regular_file(candidate, ec)) return std::nullopt;
    // Links may point anywhere: the file itself must lie inside the folder.
    const auto [end, rest] = std::mismatch(root.begin(), root.end(), candidate.begin(), candidate.end());
    if (end != root.end()) return std::nullopt;
    return URL(root / relative);
}

URL Bundle::resourceURL() const {
    std::lock_guard lock(mutex_);
    return resources_;
}

void Bundle::setResourceURL(URL folder) {
    std::lock_guard lock(mutex_);
    resources_ = std::move(folder);
}

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

}  // namespace platform
