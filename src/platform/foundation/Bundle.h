// The application bundle: here only its information dictionary, compiled into the program.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

class Bundle {
public:
    using InfoDictionary = std::map<std::string, std::string>;

    // The application's own bundle.
    static Bundle& main();

    // A copy of the information dictionary (CFBundleIdentifier, CFBundleShortVersionString, ...).
    InfoDictionary infoDictionary() const;
    // One value of the information dictionary; none when the key is missing.
    std::optional<std::string> objectForInfoDictionaryKey(const std::string& key) const;
    // CFBundleIdentifier; none when missing.
    std::optional<std::string> bundleIdentifier() const { return objectForInfoDictionaryKey("CFBundleIdentifier"); }

    // pathForResource:ofType:: "<resourcePath>/<name>.<type>" when that file exists.
    std::optional<std::string> pathForResource(const std::string& name, const std::string& type) const;
    // The resources folder: TAMBERLO_RESOURCES, else "Resources" beside the executable.
    std::string resourcePath() const;
    void setResourcePath(const std::string& path);

    // Tests replace the dictionary to see how callers cope with other values or missing keys.
    void setInfoDictionaryForTesting(InfoDictionary dictionary);
    // Puts the compiled-in dictionary back.
    void restoreInfoDictionary();

private:
    Bundle();
    mutable std::mutex mutex_;
    InfoDictionary info_;
    std::optional<std::string> resourcePath_;
};

}  // namespace platform
