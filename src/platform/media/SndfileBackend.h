// Audio files through libsndfile: WAV, AIFF/AIFC, CAF, FLAC, Ogg, AU, W64 and the other containers
// it knows, read and written with exact integer scaling (never libsndfile's own float conversion
// of integer data).
#pragma once

#include "platform/media/AudioFileBackend.h"

#include <memory>
#include <string>

namespace platform::detail {

// The containers a new file can have.
enum class SndfileContainer { caf, wav, aiff, aifc, au };

// Opens a file for reading. nullptr when libsndfile does not recognise the content, or when the
// content is one FFmpeg reads better (MPEG audio); `failure` then receives libsndfile's reason.
std::unique_ptr<AudioFileBackend> openSndfileForReading(const std::string& path, std::string* failure);

// Creates (replacing) a file holding linear PCM as `format` describes (bits 8/16/24/32 integer or
// 32/64 float; the container decides the byte order). Throws NSErrorException.
std::unique_ptr<AudioFileBackend> createSndfileForWriting(const std::string& path, SndfileContainer container,
                                                          const AudioStreamBasicDescription& format);

}  // namespace platform::detail
