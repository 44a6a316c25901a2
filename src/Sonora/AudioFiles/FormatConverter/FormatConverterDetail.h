// Small helpers shared by the converter's source files.
#pragma once

#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>

namespace sonora::detail {

inline std::string lowercased(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// FormatConverter::completionProxy for work that outlives its converter: the output URL is copied.
void completionProxy(const std::optional<platform::URL>& outputURL, const std::optional<platform::NSError>& error,
                     bool deleteOutputOnError, const FormatConverter::CompletionHandler& completionHandler);

}  // namespace sonora::detail
