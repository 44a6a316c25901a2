// The application bundle: its information dictionary, compiled into the program, and its
// resources, files in a folder the program names (by default "Resources" beside the executable).
#pragma once

#include "platform/foundation/URL.h"

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

    // URLForResource:withExtension:. The file `name` + "." + `extension` in the resources folder
    // (no dot when the extension is empty); none when it does not exist or when the name would lead
    // out of the folder ("..", a leading "/" counts from the folder, links are followed).
    std::optional<URL> urlForResource(const std::string& name, const std::string& extension) const;
    URL resourceURL() const;
    void setResourceURL(URL folder);

    // Tests replace the dictionary to see how callers cope with other values or missing keys.
    void setInfoDictionaryForTesting(InfoDictionary dictionary);
    // Puts the compiled-in dictionary back.
    void restoreInfoDictionary();

private:
    Bundle();
    mutable std::mutex mutex_;
    InfoDictionary info_;
    URL resources_;
};

}  // namespace platform
