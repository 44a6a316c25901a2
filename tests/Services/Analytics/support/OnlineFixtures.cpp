#include "Services/Analytics/support/OnlineFixtures.h"

#include "platform/foundation/Localization.h"

#include <cstdio>

namespace onlinetest {

std::string fixedUUID(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "00000000-0000-0000-0000-%012d", n);
    return text;
}

FixedFacts::FixedFacts() {
    auto& facts = platform::SystemFacts::current();
    facts.now = [this] { return now; };
    facts.makeUUID = [this] { return fixedUUID(++uuids); };
    facts.timeZoneName = [] { return std::string("Asia/Shanghai"); };
    facts.localeIdentifier = [] { return std::string("zh_CN"); };
    facts.osRelease = [] { return std::map<std::string, std::string>{{"NAME", "Debian GNU/Linux"}, {"VERSION_ID", "12"}}; };
    facts.machine = [] { return std::optional<std::string>("x86_64"); };
    facts.productName = [] { return std::string(); };
    facts.executablePath = [] { return std::string("/opt/tamberlo/bin/tamberlo"); };
    facts.creationDate = [this](const std::string& path) -> std::optional<double> {
        return path == "/opt/tamberlo/bin/tamberlo" ? bundleCreated : documentsCreated;
    };
    facts.interfaceAddresses = [] {
        return std::optional<std::vector<platform::InterfaceAddress>>({{"lo", false, "127.0.0.1"},
                                                                       {"eth0", false, "10.0.0.7"},
                                                                       {"en0", false, "10.0.0.7"},
                                                                       {"en0", true, "fd00::7"}});
    };
    facts.mainScreen = [] { return std::optional<platform::ScreenFacts>(); };
    facts.webUserAgent = [] {
        return std::optional<std::string>("Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/605.1.15 (KHTML, like Gecko)");
    };
    platform::setPreferredLanguagesForTesting(std::vector<std::string>{"zh-CN"});
}

FixedFacts::~FixedFacts() {
    platform::restoreSystemFacts();
    platform::setPreferredLanguagesForTesting(std::nullopt);
}

}  // namespace onlinetest
