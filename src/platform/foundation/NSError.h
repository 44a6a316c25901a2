// Errors as the platform reports them: an NSError value, thrown inside NSErrorException by calls
// that throw, and OSStatus codes returned by C-style calls.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

using OSStatus = int32_t;
inline constexpr OSStatus noErr = 0;
// A bad argument to a C-style call.
inline constexpr OSStatus kAudio_ParamError = -50;

inline constexpr const char* NSOSStatusErrorDomain = "NSOSStatusErrorDomain";
inline constexpr const char* NSCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* NSPOSIXErrorDomain = "NSPOSIXErrorDomain";

struct NSError {
    std::string domain;
    int64_t code = 0;
    std::string localizedDescription;

    // "Error Domain=<domain> Code=<code> \"<description>\"", as the platform prints an error.
    std::string description() const;
};

class NSErrorException : public std::exception {
public:
    explicit NSErrorException(NSError error);
    const NSError& error() const noexcept { return error_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    NSError error_;
    std::string what_;
};

// Builds an OSStatus error with a description.
NSError makeOSStatusError(OSStatus status, const std::string& description);

// A four-character code ('WAVE', 'lpcm', ...) as its text, or the decimal number when it is not
// printable.
std::string fourCharCodeString(uint32_t code);

}  // namespace platform
