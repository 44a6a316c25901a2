#include "platform/foundation/SystemFacts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QLocale>
#include <QTimeZone>
#include <QScreen>
#include <QTextStream>
#include <QUuid>

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>

namespace platform {

namespace {

std::map<std::string, std::string> readOsRelease() {
    std::map<std::string, std::string> values;
    std::ifstream in("/etc/os-release");
    if (!in) in.open("/usr/lib/os-release");
    std::string line;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        if (key != "NAME" && key != "VERSION_ID") continue;
        std::string value = line.substr(equals + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        values[key] = value;
    }
    return values;
}

std::optional<std::string> unameMachine() {
    utsname name{};
    if (uname(&name) != 0) return std::nullopt;
    return std::string(name.machine);
}

std::string trimmedFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && std::isspace((unsigned char)text.back())) text.pop_back();
    return text;
}

std::optional<double> birthTime(const std::string& path) {
    struct statx info {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &info) != 0 || !(info.stx_mask & STATX_BTIME)) return std::nullopt;
    return double(info.stx_btime.tv_sec) + double(info.stx_btime.tv_nsec) / 1e9;
}

std::string executable() {
    char buffer[4096];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    return std::string(buffer, size_t(length));
}

// The interface that carries the default route (/proc/net/route, destination 0).
std::string defaultRouteInterface() {
    std::ifstream in("/proc/net/route");
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        char name[64] = {};
        unsigned long destination = 1;
        if (std::sscanf(line.c_str(), "%63s %lx", name, &destination) == 2 && destination == 0) return name;
    }
    return {};
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::optional<std::vector<InterfaceAddress>> readInterfaceAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return std::nullopt;
    const std::string route = defaultRouteInterface();
    std::string tunnel;
    std::vector<InterfaceAddress> addresses;
    for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !(entry->ifa_flags & IFF_UP)) continue;
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = family == AF_INET ? static_cast<const void*>(&reinterpret_cast<sockaddr_in*>(entry->ifa_addr)->sin_addr)
                                            : static_cast<const void*>(&reinterpret_cast<sockaddr_in6*>(entry->ifa_addr)->sin6_addr);
        if (!inet_ntop(family, raw, text, sizeof text)) continue;
        const std::string name = entry->ifa_name;
        const InterfaceAddress address{name, family == AF_INET6, text};
        addresses.push_back(address);
        // The names the reports were written for on the original platform.
        if (!route.empty() && name == route) addresses.push_back({"en0", address.isIPv6, text});
        if (startsWith(name, "tun") || startsWith(name, "wg")) {
            if (tunnel.empty()) tunnel = name;
            if (name == tunnel) addresses.push_back({"utun0", address.isIPv6, text});
        }
        if (startsWith(name, "wwan")) addresses.push_back({"pdp_ip0", address.isIPv6, text});
    }
    freeifaddrs(list);
    if (addresses.empty()) return std::nullopt;
    return addresses;
}

std::optional<ScreenFacts> primaryScreen() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return std::nullopt;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return std::nullopt;
    const QRect geometry = screen->geometry();
    return ScreenFacts{geometry.width(), geometry.height(), screen->depth()};
}

// What a web view of this machine would answer for navigator.userAgent.
std::optional<std::string> synthesizedWebUserAgent() {
    const auto machine = unameMachine();
    if (!machine) return std::nullopt;
    return "Mozilla/5.0 (X11; Linux " + *machine + ") AppleWebKit/605.1.15 (KHTML, like Gecko)";
}

}  // namespace

SystemFacts SystemFacts::system() {
    SystemFacts facts;
    facts.now = [] { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; };
    facts.makeUUID = [] { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString(); };
    facts.timeZoneName = [] { return QTimeZone::systemTimeZoneId().toStdString(); };
    facts.localeIdentifier = [] { return QLocale::system().name().toStdString(); };
    facts.osRelease = readOsRelease;
    facts.machine = unameMachine;
    facts.productName = [] { return trimmedFile("/sys/class/dmi/id/product_name"); };
    facts.creationDate = birthTime;
    facts.executablePath = executable;
    facts.interfaceAddresses = readInterfaceAddresses;
    facts.mainScreen = primaryScreen;
    facts.webUserAgent = synthesizedWebUserAgent;
    return facts;
}

SystemFacts& SystemFacts::current() {
    static SystemFacts facts = system();
    return facts;
}

void restoreSystemFacts() { SystemFacts::current() = SystemFacts::system(); }

}  // namespace platform
