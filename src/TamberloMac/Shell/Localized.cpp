#include "TamberloMac/Shell/Localized.h"

#include "TamberloMac/Shell/LocalizationTables.h"

#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace tamberlo {

namespace {

std::mutex languagesMutex;
std::optional<std::vector<std::string>> testLanguages;

std::string normalised(std::string tag) {
    std::replace(tag.begin(), tag.end(), '_', '-');
    std::transform(tag.begin(), tag.end(), tag.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    // "zh_CN.UTF-8" style tags carry an encoding after the point.
    if (const auto dot = tag.find('.'); dot != std::string::npos) tag.resize(dot);
    return tag;
}

bool isOrStartsWith(const std::string& tag, const std::string& prefix) {
    return tag == prefix || tag.rfind(prefix + "-", 0) == 0;
}

std::optional<std::string> match(const std::string& language) {
    const std::string tag = normalised(language);
    for (const char* simplified : {"zh-cn", "zh-sg", "zh-hans"})
        if (isOrStartsWith(tag, simplified)) return "zh-Hans";
    for (const char* traditional : {"zh-tw", "zh-hk", "zh-mo", "zh-hant"})
        if (isOrStartsWith(tag, traditional)) return "zh-Hant";
    if (isOrStartsWith(tag, "en")) return "en";
    return std::nullopt;
}

}  // namespace

const std::vector<std::string>& availableLocalizations() {
    static const std::vector<std::string> localizations{"en", "zh-Hans", "zh-Hant"};
    return localizations;
}

std::string preferredLocalization(const std::vector<std::string>& userLanguages) {
    for (const auto& language : userLanguages)
        if (auto localization = match(language)) return *localization;
    return "en";
}

std::vector<std::string> preferredLanguages() {
    {
        std::lock_guard lock(languagesMutex);
        if (testLanguages) return *testLanguages;
    }
    std::vector<std::string> languages;
    for (const QString& language : QLocale::system().uiLanguages()) languages.push_back(language.toStdString());
    return languages;
}

void setPreferredLanguagesForTesting(std::optional<std::vector<std::string>> languages) {
    std::lock_guard lock(languagesMutex);
    testLanguages = std::move(languages);
}

bool hasLocalizationTable(const std::string& localization) { return detail::localizationTable(localization) != nullptr; }

std::string localized(const std::string& key, const std::string& localization) {
    const auto* table = detail::localizationTable(localization);
    if (!table) return key;
    const auto it = table->find(key);
    return it == table->end() ? key : it->second;
}

std::string localized(const std::string& key) { return localized(key, preferredLocalization(preferredLanguages())); }

QString localizedText(const char* key) { return QString::fromStdString(localized(key)); }

}  // namespace tamberlo
