// Which chosen or dropped files the editor offers to import: audiovisual content.
#pragma once

#include "platform/foundation/URL.h"

#include <vector>

namespace tamberlo {

// True for a file whose MIME type (by name and content) is audio/* or video/*, or whose extension
// is one of the audio and movie extensions the editor knows (caf, aif, aiff, aifc, wav, bwf, mp3,
// m4a, aac, mp4, m4v, mov, flac, ogg, opus, snd, au, ts; any case) — the MIME database does not
// know every one of them, CAF among them.
bool isAudiovisualContent(const platform::URL& url);

// The URLs that are audiovisual content, in their order.
std::vector<platform::URL> audiovisualContentURLs(const std::vector<platform::URL>& urls);

}  // namespace tamberlo
