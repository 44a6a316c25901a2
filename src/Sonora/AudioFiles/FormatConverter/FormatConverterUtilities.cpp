#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"

#include "Sonora/AudioFiles/FormatConverter/FormatConverterDetail.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/ExtendedAudioFile.h"
#include "platform/foundation/FileManager.h"

#include <set>

namespace sonora {

using namespace platform;

std::optional<bool> FormatConverter::isCompressed(const URL& url, bool ignorePathExtension) {
    if (ignorePathExtension) return isCompressedExt(url);
    static const std::set<std::string> pcm{"wav", "bwf", "aif", "aiff", "caf"};
    static const std::set<std::string> compressed{"m4a", "mp3", "mp4", "m4v", "mpg", "flac", "ogg"};
    const std::string extension = detail::lowercased(url.pathExtension());
    if (pcm.count(extension)) return false;
    if (compressed.count(extension)) return true;
    return isCompressedExt(url).value_or(false);
}

std::optional<bool> FormatConverter::isPCM(const URL& url) {
    const auto compressed = isCompressed(url);
    if (!compressed) return std::nullopt;
    return !*compressed;
}

std::optional<bool> FormatConverter::isCompressedExt(const URL& url) {
    ExtAudioFileRef file = nullptr;
    const auto close = [&file] {
        if (file && ExtAudioFileDispose(file) != noErr) {
            Log({"Error disposing input file, could have a memory leak"});
        }
        file = nullptr;
    };
    if (ExtAudioFileOpenURL(url, &file) != noErr) {
        Log({"Unable to open", url.lastPathComponent()});
        close();
        return std::nullopt;
    }
    if (!file) return std::nullopt;

    // A failed read leaves format ID 0, which counts as compressed.
    AudioStreamBasicDescription format{};
    uint32_t size = sizeof format;
    ExtAudioFileGetProperty(file, kExtAudioFileProperty_FileDataFormat, &size, &format);
    close();
    return !(format.mFormatID == kAudioFormatLinearPCM || format.mFormatID == kAudioFormatAppleLossless);
}

NSError FormatConverter::createError(const std::string& message, int64_t code) {
    return NSError{errorDomain, code, message};
}

void FormatConverter::completionProxy(const std::optional<NSError>& error, bool deleteOutputOnError,
                                      const CompletionHandler& completionHandler) const {
    detail::completionProxy(outputURL_, error, deleteOutputOnError, completionHandler);
}

void detail::completionProxy(const std::optional<URL>& outputURL, const std::optional<NSError>& error,
                             bool deleteOutputOnError, const FormatConverter::CompletionHandler& completionHandler) {
    auto& fileManager = FileManager::defaultManager();
    if (error && deleteOutputOnError && outputURL && fileManager.fileExists(outputURL->path())) {
        Log({"Deleting on error", outputURL->path()});
        try {
            fileManager.removeFile(*outputURL);
        } catch (const NSErrorException& e) {
            Log({"Failed to remove file", *outputURL, e.error()});
        }
    }
    if (completionHandler) completionHandler(error);
}

}  // namespace sonora
