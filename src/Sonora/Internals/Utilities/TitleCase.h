// Turning identifiers into labels: "cutoffFrequency" → "Cutoff Frequency".
#pragma once

#include <string>

namespace sonora {

// titleCaseFromCamelCase: a blank before every capital letter (A–Z), white space trimmed at both
// ends, then each word capitalised (first letter upper case, the rest lower case).
std::string titleCaseFromCamelCase(const std::string& text);

}  // namespace sonora
