#include "platform/media/FFmpegLibrary.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/detail/SharedLibraries.h"
#include "platform/media/FFmpegSupport.h"

#include <iterator>

namespace platform::detail {

namespace {

enum class Library { util, codec, format };

// The run-time names of the libraries whose headers we compile against (their major versions are
// their ABI): libavformat.so.59 goes with the libavformat 59 headers, and so on. In the order they
// need each other: libavformat needs libavcodec, both need libavutil.
constexpr const char* kLibraryNames[] = {
    "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
};

constexpr SharedLibraries kFFmpeg{"FFmpeg", kLibraryNames,
                                  "Files that need it (MP3, AAC, M4A, ...) cannot be read or written."};

void resolve(SharedLibraryLoader& loader, FFmpegLibrary& table) {
#define TAMBERLO_FFMPEG_RESOLVE(library, name) loader.find(table.name, size_t(Library::library), #name);
    TAMBERLO_FFMPEG_FUNCTIONS(TAMBERLO_FFMPEG_RESOLVE)
#undef TAMBERLO_FFMPEG_RESOLVE
}

// Failures reach callers as NSErrors, not as FFmpeg's console lines.
void quiet(const FFmpegLibrary& table) { table.av_log_set_level(AV_LOG_QUIET); }

const LoadedLibraries<FFmpegLibrary>& loadedOnce() { return loadOnce(kFFmpeg, resolve, quiet); }

}  // namespace

const FFmpegLibrary* loadFFmpeg(std::string* failure) { return loadedOnce().get(failure); }

const FFmpegLibrary& ffmpeg() { return loadedOnce().require(kAudioFileUnsupportedFileTypeError); }

std::vector<std::string> ffmpegLibraryNames() { return {std::begin(kLibraryNames), std::end(kLibraryNames)}; }

}  // namespace platform::detail
