#include "platform/foundation/Bundle.h"

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

}  // namespace platform
