// Which of the bundle's localizations the user gets: the one match of the user's languages that
// the interface texts, the event log's "language" and the analytics hits' "ul" all share.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The localizations the bundle ships, in the order of their preference when nothing matches.
const std::vector<std::string>& availableLocalizations();

// The localization a list of user languages (BCP 47, best first) asks for: the first language that
// matches one — zh-CN, zh-SG, zh-Hans… → zh-Hans; zh-TW, zh-HK, zh-MO, zh-Hant… → zh-Hant; en… → en —
// or "en" when none does.
std::string preferredLocalization(const std::vector<std::string>& userLanguages);
// The user's languages: the system locale's UI languages, unless set for testing.
std::vector<std::string> preferredLanguages();
// Replaces the user's languages (tests); none puts the system's back.
void setPreferredLanguagesForTesting(std::optional<std::vector<std::string>> languages);

// The first of the bundle's preferred localizations for this user.
inline std::string currentLocalization() { return preferredLocalization(preferredLanguages()); }

}  // namespace platform
