// The error domain and codes of media readers and writers.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr const char* AVFoundationErrorDomain = "AVFoundationErrorDomain";

inline constexpr int64_t AVErrorUnknown = -11800;
inline constexpr int64_t AVErrorDiskFull = -11807;
inline constexpr int64_t AVErrorDecodeFailed = -11821;
inline constexpr int64_t AVErrorFileAlreadyExists = -11823;
inline constexpr int64_t AVErrorFileFormatNotRecognized = -11828;
inline constexpr int64_t AVErrorFileFailedToParse = -11829;
inline constexpr int64_t AVErrorEncoderNotFound = -11834;
inline constexpr int64_t AVErrorOperationNotAllowed = -11862;

}  // namespace platform
