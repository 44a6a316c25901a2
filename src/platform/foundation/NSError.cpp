#include "platform/foundation/NSError.h"

#include <cctype>

namespace platform {

std::string NSError::description() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + localizedDescription + "\"";
}

NSErrorException::NSErrorException(NSError error) : error_(std::move(error)), what_(error_.description()) {}

NSError makeOSStatusError(OSStatus status, const std::string& description) {
    return NSError{NSOSStatusErrorDomain, status, description};
}

std::string fourCharCodeString(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned char c = static_cast<unsigned char>((code >> shift) & 0xFF);
        if (!std::isprint(c)) return std::to_string(static_cast<int32_t>(code));
        text += static_cast<char>(c);
    }
    return text;
}

}  // namespace platform
