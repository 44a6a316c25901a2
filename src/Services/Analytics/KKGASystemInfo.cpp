#include "Services/Analytics/KKGASystemInfo.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Localization.h"
#include "platform/foundation/SystemFacts.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace tamberlo::KKGASystemInfo {

std::optional<std::string> appName() {
    const auto& bundle = platform::Bundle::main();
    if (auto name = bundle.objectForInfoDictionaryKey("CFBundleDisplayName")) return name;
    return bundle.objectForInfoDictionaryKey("CFBundleName");
}

std::optional<std::string> appVersion() { return platform::Bundle::main().objectForInfoDictionaryKey("CFBundleVersion"); }

std::string CPUType() {
    const auto machine = platform::SystemFacts::current().machine();
    if (!machine) return "an Unknown Processor";
    const std::string& m = *machine;
    if (m == "x86_64" || m == "amd64" || (m.size() == 4 && m[0] == 'i' && m.substr(2) == "86")) return "Intel";
    if (m.rfind("ppc", 0) == 0 || m.rfind("powerpc", 0) == 0) return "PowerPC";
    return "Unknown";
}

std::string machineModel() {
    const std::string model = platform::SystemFacts::current().productName();
    return model.empty() ? "Just an Apple Computer" : model;
}

std::string primaryLanguage() { return platform::currentLocalization(); }

std::string screenResolutionString() {
    const auto screen = platform::SystemFacts::current().mainScreen();
    if (!screen) return "0x0";
    return std::to_string(screen->width) + "x" + std::to_string(screen->height);
}

std::optional<std::string> screenDepthString() {
    const auto screen = platform::SystemFacts::current().mainScreen();
    if (!screen) return std::nullopt;
    switch (screen->depth) {
    case 24:
    case 32: return "24-bits";
    case 48:
    case 64: return "64-bits";
    case 96:
    case 128: return "128-bits";
    default: return std::nullopt;
    }
}

std::string operatingSystemVersionString() {
    const auto release = platform::SystemFacts::current().osRelease();
    long parts[3] = {0, 0, 0};
    if (const auto it = release.find("VERSION_ID"); it != release.end()) {
        const char* text = it->second.c_str();
        for (long& part : parts) {
            char* end = nullptr;
            part = std::strtol(text, &end, 10);
            if (end == text || *end != '.') break;
            text = end + 1;
        }
    }
    return std::to_string(parts[0]) + "_" + std::to_string(parts[1]) + "_" + std::to_string(parts[2]);
}

}  // namespace tamberlo::KKGASystemInfo

namespace tamberlo {

std::string buildKKGAUserAgentString() {
    using namespace KKGASystemInfo;
    return "Pinemoth/" + appVersion().value_or("(null)") + " (Macintosh; " + CPUType() + " Mac OS X " +
           operatingSystemVersionString() + "; " + machineModel() + ")";
}

std::string KKGAUserAgentString() {
    static const std::string text = buildKKGAUserAgentString();
    return text;
}

}  // namespace tamberlo
