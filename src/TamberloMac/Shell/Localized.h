// User-visible texts. Every text is looked up by its Chinese source text in the table of the first
// preferred localization; a missing table or key gives the key itself.
#pragma once

#include "platform/foundation/Localization.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace tamberlo {

// The text for `key` in the first preferred localization (the key when there is none).
std::string localized(const std::string& key);
// localized() as a QString, for the window's labels, buttons and menus.
QString localizedText(const char* key);
// The text for `key` in the named localization ("zh-Hans", "en", ...); the key when the
// localization has no table or the table no entry.
std::string localized(const std::string& key, const std::string& localization);

// Which localization the user gets is the bundle's business.
using platform::availableLocalizations;
using platform::preferredLanguages;
using platform::preferredLocalization;
using platform::setPreferredLanguagesForTesting;

// True when the localization ships a table of texts.
bool hasLocalizationTable(const std::string& localization);

}  // namespace tamberlo
