#include "TamberloMac/Shell/Localized.h"

#include "TamberloMac/Shell/LocalizationTables.h"

namespace tamberlo {

bool hasLocalizationTable(const std::string& localization) { return detail::localizationTable(localization) != nullptr; }

std::string localized(const std::string& key, const std::string& localization) {
    const auto* table = detail::localizationTable(localization);
    if (!table) return key;
    const auto it = table->find(key);
    return it == table->end() ? key : it->second;
}

std::string localized(const std::string& key) { return localized(key, platform::currentLocalization()); }

QString localizedText(const char* key) { return QString::fromStdString(localized(key)); }

}  // namespace tamberlo
