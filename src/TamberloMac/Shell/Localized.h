// User-visible texts. Every text is looked up by its Chinese source text in the table of the first
// preferred localization; a missing table or key gives the key itself.
#pragma once

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

// The localizations the program knows, in the order of their preference when nothing matches.
const std::vector<std::string>& availableLocalizations();

// The localization a list of user languages (BCP 47, best first) asks for: the first language that
// matches one — zh-CN, zh-SG, zh-Hans… → zh-Hans; zh-TW, zh-HK, zh-MO, zh-Hant… → zh-Hant; en… → en —
// or "en" when none does.
std::string preferredLocalization(const std::vector<std::string>& userLanguages);
// The user's languages: the system locale's UI languages, unless set for testing.
std::vector<std::string> preferredLanguages();
// Replaces the user's languages (tests); none puts the system's back.
void setPreferredLanguagesForTesting(std::optional<std::vector<std::string>> languages);

// True when the localization ships a table of texts.
bool hasLocalizationTable(const std::string& localization);

}  // namespace tamberlo
