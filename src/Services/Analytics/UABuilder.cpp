#include "Services/Analytics/UABuilder.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/OSLog.h"
#include "platform/foundation/SystemFacts.h"

#include <QtGlobal>

#include <regex>
#include <sys/utsname.h>
#include <unordered_map>

namespace tamberlo::UABuilder {

namespace {
const platform::OSLog analyticsLog{"io.tamberlo.Tamberlo", "analytics"};
}

std::optional<std::map<std::string, std::string>> getIPAddresses() {
    const auto list = platform::SystemFacts::current().interfaceAddresses();
    if (!list || list->empty()) return std::nullopt;
    std::map<std::string, std::string> table;
    for (const auto& address : *list) table[address.name + (address.isIPv6 ? "/ipv6" : "/ipv4")] = address.address;
    return table;
}

std::string getIPAddress(bool preferIPv4) {
    static const char* const v4First[] = {"utun0/ipv4", "utun0/ipv6", "en0/ipv4", "en0/ipv6", "pdp_ip0/ipv4", "pdp_ip0/ipv6"};
    static const char* const v6First[] = {"utun0/ipv6", "utun0/ipv4", "en0/ipv6", "en0/ipv4", "pdp_ip0/ipv6", "pdp_ip0/ipv4"};
    const auto addresses = getIPAddresses();
    std::optional<std::string> candidate;
    for (const char* key : preferIPv4 ? v4First : v6First) {
        candidate.reset();
        if (addresses) {
            const auto it = addresses->find(key);
            if (it != addresses->end()) candidate = it->second;
        }
        if (candidate && isValidatIP(*candidate)) break;
    }
    return candidate.value_or("0.0.0.0");
}

bool isValidatIP(const std::string& text) {
    if (text.empty()) return false;
    static const std::regex pattern(
        "^([01]?\\d\\d?|2[0-4]\\d|25[0-5])\\.([01]?\\d\\d?|2[0-4]\\d|25[0-5])\\.([01]?\\d\\d?|2[0-4]\\d|25[0-5])\\.([01]?"
        "\\d\\d?|2[0-4]\\d|25[0-5])$");
    return std::regex_match(text, pattern);
}

std::string deviceNameForMachine(const std::string& machine) {
    static const std::unordered_map<std::string, std::string> names = [] {
        const std::pair<const char*, std::vector<const char*>> table[] = {
            {"Simulator", {"i386"}},
            {"Mac", {"x86_64"}},
            {"iPod Touch", {"iPod1,1", "iPod2,1", "iPod3,1", "iPod4,1", "iPod7,1"}},
            {"iPhone", {"iPhone1,1", "iPhone1,2", "iPhone2,1"}},
            {"iPhone 4", {"iPhone3,1", "iPhone3,3"}},
            {"iPhone 4S", {"iPhone4,1"}},
            {"iPhone 5", {"iPhone5,1", "iPhone5,2"}},
            {"iPhone 5c", {"iPhone5,3", "iPhone5,4"}},
            {"iPhone 5s", {"iPhone6,1", "iPhone6,2"}},
            {"iPhone 6 Plus", {"iPhone7,1"}},
            {"iPhone 6", {"iPhone7,2"}},
            {"iPhone 6S", {"iPhone8,1"}},
            {"iPhone 6S Plus", {"iPhone8,2"}},
            {"iPhone SE", {"iPhone8,4"}},
            {"iPhone 7", {"iPhone9,1", "iPhone9,3"}},
            {"iPhone 7 Plus", {"iPhone9,2", "iPhone9,4"}},
            {"iPhone 8", {"iPhone10,1", "iPhone10,4"}},
            {"iPhone 8 Plus", {"iPhone10,2", "iPhone10,5"}},
            {"iPhone X", {"iPhone10,3", "iPhone10,6"}},
            {"iPhone XS", {"iPhone11,2"}},
            {"iPhone XS Max", {"iPhone11,4", "iPhone11,6"}},
            {"iPhone XR", {"iPhone11,8"}},
            {"iPhone 11", {"iPhone12,1"}},
            {"iPhone 11 Pro", {"iPhone12,3"}},
            {"iPhone 11 Pro Max", {"iPhone12,5"}},
            {"iPad", {"iPad1,1", "iPad3,1", "iPad3,4"}},
            {"iPad 2", {"iPad2,1"}},
            {"iPad Mini", {"iPad2,5", "iPad4,4", "iPad4,5", "iPad4,7"}},
            {"iPad Air", {"iPad4,1", "iPad4,2"}},
            {"iPad Pro (12.9\")", {"iPad6,7", "iPad6,8"}},
            {"iPad Pro (9.7\")", {"iPad6,3", "iPad6,4"}},
        };
        std::unordered_map<std::string, std::string> map;
        for (const auto& [name, keys] : table)
            for (const char* key : keys) map[key] = name;
        return map;
    }();
    if (const auto it = names.find(machine); it != names.end()) return it->second;
    if (machine.find("iPod") != std::string::npos) return "iPod Touch";
    if (machine.find("iPad") != std::string::npos) return "iPad";
    if (machine.find("iPhone") != std::string::npos) return "iPhone";
    return "Unknown";
}

std::string getRealDeviceName() { return deviceNameForMachine(platform::SystemFacts::current().machine().value_or("")); }

std::string getUAString() {
    const auto& bundle = platform::Bundle::main();
    const auto release = platform::SystemFacts::current().osRelease();
    utsname name{};
    const std::string kernel = uname(&name) == 0 ? name.release : "(null)";
    const auto version = release.find("VERSION_ID");
    return bundle.objectForInfoDictionaryKey("CFBundleName").value_or("(null)") + " " +
           bundle.objectForInfoDictionaryKey("CFBundleShortVersionString").value_or("(null)") + " (" +
           getRealDeviceName() + "; " + (version == release.end() ? "(null)" : version->second) + ") QtNetwork/" +
           qVersion() + " Linux/" + kernel;
}

}  // namespace tamberlo::UABuilder
