// The compiled-in tables of user-visible texts, keyed by their Chinese source text.
#pragma once

#include <map>
#include <string>

namespace tamberlo::detail {

using LocalizationTable = std::map<std::string, std::string>;

// The table of a localization ("zh-Hans", "en"), or null when none is shipped.
const LocalizationTable* localizationTable(const std::string& localization);

}  // namespace tamberlo::detail
