#include "Services/Analytics/TrackerHelper.h"

#include "Services/Analytics/KKGASystemInfo.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SystemFacts.h"

#include <QByteArray>
#include <QFile>

#include <pwd.h>
#include <unistd.h>

#include <utility>

namespace tamberlo {

namespace {
template <class Compute>
const std::string& kept(std::optional<std::string>& slot, Compute compute) {
    if (!slot) slot = compute();
    return *slot;
}

std::string infoValue(const char* key) {
    return platform::Bundle::main().objectForInfoDictionaryKey(key).value_or("Unknown");
}
}  // namespace

const std::string& TrackerHelper::applicationName() {
    return kept(applicationName_, [] { return infoValue("CFBundleName"); });
}

const std::string& TrackerHelper::applicationVersion() {
    return kept(applicationVersion_, [] { return infoValue("CFBundleVersion"); });
}

const std::string& TrackerHelper::userIdentifier() {
    return kept(userIdentifier_, [] {
        const std::string text = platformSerialNumber().value_or("(null)") + loginName();
        return QByteArray::fromStdString(text).toBase64().toStdString();
    });
}

const std::string& TrackerHelper::userAgentString() {
    return kept(userAgentString_, [] {
        const auto& facts = platform::SystemFacts::current();
        const std::optional<std::string> agent = facts.webUserAgent ? facts.webUserAgent() : std::nullopt;
        return agent && !agent->empty() ? *agent : std::string("Unknown-userAgentString");
    });
}

const std::string& TrackerHelper::systemInfo() {
    return kept(systemInfo_, [] { return systemVersion() + " " + KKGASystemInfo::primaryLanguage(); });
}

std::string TrackerHelper::systemVersion() { return "10.13及以上版本"; }

std::string TrackerHelper::systemVersionLabel(double number) {
    static const std::pair<double, const char*> table[] = {
        {1343.0, "10.10.0"},  {1344.0, "10.10.2"},  {1347.0, "10.10.3"},  {1348.0, "10.10.4"},
        {1349.0, "10.10.max"}, {1404.0, "10.11.0"}, {1404.13, "10.11.1"}, {1404.34, "10.11.2"},
        {1504.0, "10.11.3"},  {1504.6, "10.12.1"},  {1504.76, "10.12.2"},
    };
    for (const auto& [bound, label] : table)
        if (number <= bound) return label;
    return "10.13及以上版本";
}

std::optional<std::string> TrackerHelper::platformSerialNumber() {
    QFile file("/sys/class/dmi/id/product_serial");
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QByteArray serial = file.readAll().trimmed();
    if (serial.isEmpty()) return std::nullopt;
    return serial.toStdString();
}

std::string TrackerHelper::loginName() {
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_name) return entry->pw_name;
    return {};
}

}  // namespace tamberlo
