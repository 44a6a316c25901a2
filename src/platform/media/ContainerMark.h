// What the first bytes of a file say about its container: one that libsndfile reads, one that
// only FFmpeg reads, or none we know. Content decides, never the name's extension.
#pragma once

#include <string>

namespace platform::detail {

enum class ContainerMark { unknown, sndfile, ffmpeg };

ContainerMark containerMarkOf(const std::string& path);

}  // namespace platform::detail
