#include "Sonora/Internals/Utilities/TitleCase.h"

#include <cctype>

namespace sonora {

namespace {
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
}  // namespace

std::string titleCaseFromCamelCase(const std::string& text) {
    std::string spaced;
    spaced.reserve(text.size() * 2);
    for (const char c : text) {
        if (c >= 'A' && c <= 'Z') spaced += ' ';
        spaced += c;
    }
    size_t first = 0;
    size_t last = spaced.size();
    while (first < last && isBlank(spaced[first])) ++first;
    while (last > first && isBlank(spaced[last - 1])) --last;

    std::string result;
    result.reserve(last - first);
    bool wordStart = true;
    for (size_t i = first; i < last; ++i) {
        const unsigned char c = static_cast<unsigned char>(spaced[i]);
        if (isBlank(char(c))) {
            result += char(c);
            wordStart = true;
            continue;
        }
        result += char(wordStart ? std::toupper(c) : std::tolower(c));
        wordStart = false;
    }
    return result;
}

}  // namespace sonora
