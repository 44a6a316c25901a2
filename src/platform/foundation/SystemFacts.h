// What the online services report about the machine, the clock and the screen, read from the
// system (os-release, uname, DMI, statx, getifaddrs, QScreen). Every answer is a replaceable
// function, so tests give fixed facts and get the same bytes every run.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform {

struct InterfaceAddress {
    std::string name;     // after aliasing: "en0", "utun0", "pdp_ip0", or the system's own name
    bool isIPv6 = false;
    std::string address;  // numeric text
};

struct ScreenFacts {
    int width = 0;   // the primary screen in logical pixels
    int height = 0;
    int depth = 0;   // bits per pixel
};

struct SystemFacts {
    // Seconds since 1970 (fractional).
    std::function<double()> now;
    // A new UUID in upper-case 36-character form.
    std::function<std::string()> makeUUID;
    // The system time zone's name ("Asia/Shanghai") and the locale's identifier ("zh_CN").
    std::function<std::string()> timeZoneName;
    std::function<std::string()> localeIdentifier;
    // NAME and VERSION_ID of /etc/os-release (missing keys left out).
    std::function<std::map<std::string, std::string>()> osRelease;
    // The machine field of uname ("x86_64"); none when uname fails.
    std::function<std::optional<std::string>()> machine;
    // /sys/class/dmi/id/product_name, trimmed; empty when unknown.
    std::function<std::string()> productName;
    // The birth time of the file in seconds since 1970; none when it cannot be read.
    std::function<std::optional<double>(const std::string& path)> creationDate;
    // The program's own file (it stands for the bundle's information file).
    std::function<std::string()> executablePath;
    // Addresses of the interfaces that are up. The default-route interface also appears as
    // "en0", the first tun/wg interface as "utun0", a wwan interface as "pdp_ip0". None when the
    // list cannot be read.
    std::function<std::optional<std::vector<InterfaceAddress>>()> interfaceAddresses;
    // The primary screen; none without a GUI application or a screen.
    std::function<std::optional<ScreenFacts>()> mainScreen;
    // The user agent a web view of this machine sends; none when it cannot be made. Main thread.
    std::function<std::optional<std::string>()> webUserAgent;

    // The facts in use (tests assign their own members; `restoreSystemFacts` puts the system's back).
    static SystemFacts& current();
    // The facts read from this machine.
    static SystemFacts system();
};

void restoreSystemFacts();

}  // namespace platform
