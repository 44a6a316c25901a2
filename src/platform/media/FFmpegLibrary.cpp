#include "platform/media/FFmpegLibrary.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/foundation/OSLog.h"
#include "platform/media/FFmpegSupport.h"

#include <dlfcn.h>

#include <iterator>

namespace platform::detail {

namespace {

enum class Library { util, codec, format };

// The run-time names of the libraries whose headers we compile against (their major versions are
// their ABI): libavformat.so.59 goes with the libavformat 59 headers, and so on.
constexpr const char* kLibraryNames[] = {
    "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR),
    "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR),
    "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR),
};
constexpr size_t kLibraryCount = std::size(kLibraryNames);

const char* nameOf(Library library) { return kLibraryNames[size_t(library)]; }

struct Loaded {
    FFmpegLibrary table;
    std::string failure;  // empty once everything is loaded
};

std::string loaderError(const char* fallback) {
    const char* text = dlerror();
    return text ? std::string(text) : std::string(fallback);
}

Loaded load() {
    Loaded loaded;
    // In the order they need each other: libavformat needs libavcodec, both need libavutil.
    void* handles[kLibraryCount] = {};
    for (size_t i = 0; i < kLibraryCount && loaded.failure.empty(); ++i) {
        handles[i] = dlopen(kLibraryNames[i], RTLD_NOW | RTLD_LOCAL);
        if (!handles[i]) loaded.failure = loaderError(kLibraryNames[i]);
    }
    auto find = [&](Library library, const char* name) -> void* {
        if (!loaded.failure.empty()) return nullptr;
        dlerror();
        void* symbol = dlsym(handles[size_t(library)], name);
        if (!symbol) loaded.failure = std::string(nameOf(library)) + " has no function " + name;
        return symbol;
    };
#define TAMBERLO_FFMPEG_RESOLVE(library, name) \
    loaded.table.name = reinterpret_cast<decltype(loaded.table.name)>(find(Library::library, #name));
    TAMBERLO_FFMPEG_FUNCTIONS(TAMBERLO_FFMPEG_RESOLVE)
#undef TAMBERLO_FFMPEG_RESOLVE

    // Whatever opened stays loaded for the rest of the process, even after a failure: unloading a
    // library that has set itself up would strand what it allocated.
    if (!loaded.failure.empty()) {
        loaded.table = {};
        os_log(OSLog{"platform", "FFmpeg"}, OSLogType::error,
               "FFmpeg cannot be loaded: " + loaded.failure + ". Files that need it (MP3, AAC, M4A, ...) cannot be read or written.");
        return loaded;
    }
    // Failures reach callers as NSErrors, not as FFmpeg's console lines.
    loaded.table.av_log_set_level(AV_LOG_QUIET);
    return loaded;
}

const Loaded& loadedOnce() {
    static const Loaded loaded = load();
    return loaded;
}

}  // namespace

const FFmpegLibrary* loadFFmpeg(std::string* failure) {
    const Loaded& loaded = loadedOnce();
    if (loaded.failure.empty()) return &loaded.table;
    if (failure) *failure = loaded.failure;
    return nullptr;
}

const FFmpegLibrary& ffmpeg() {
    const Loaded& loaded = loadedOnce();
    if (!loaded.failure.empty()) fail(kAudioFileUnsupportedFileTypeError, "FFmpeg cannot be loaded: " + loaded.failure + ".");
    return loaded.table;
}

std::vector<std::string> ffmpegLibraryNames() { return {std::begin(kLibraryNames), std::end(kLibraryNames)}; }

}  // namespace platform::detail
