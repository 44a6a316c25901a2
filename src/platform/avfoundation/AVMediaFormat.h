// The kinds of media a track can hold.
#pragma once

namespace platform {

enum class AVMediaType { audio, video, text, other };

}  // namespace platform
