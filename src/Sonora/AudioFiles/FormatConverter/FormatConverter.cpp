#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"

#include "Sonora/AudioFiles/FormatConverter/FormatConverterDetail.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/foundation/FileManager.h"

#include <algorithm>

namespace sonora {

using platform::FileManager;
using platform::URL;

const char* const FormatConverter::errorDomain = "io.tamberlo.Sonora.FormatConverter.error";

FormatConverter::FormatConverter(std::optional<URL> inputURL, std::optional<URL> outputURL,
                                 std::optional<Options> options)
    : inputURL_(std::move(inputURL)), outputURL_(std::move(outputURL)), options_(options ? *options : Options()) {}

FormatConverter::~FormatConverter() = default;

const std::vector<std::string>& FormatConverter::outputFormats() {
    static const std::vector<std::string> formats{"wav", "aif", "caf", "m4a"};
    return formats;
}

const std::vector<std::string>& FormatConverter::inputFormats() {
    // Only ever searched, so the second "aif" does no harm; "" admits a file without an extension.
    static const std::vector<std::string> formats = [] {
        std::vector<std::string> list = outputFormats();
        for (const char* ext : {"mp3", "snd", "au", "sd2", "aif", "aiff", "aifc", "aac", "mp4", "m4v", "mov", "ts", ""}) {
            list.emplace_back(ext);
        }
        return list;
    }();
    return formats;
}

void FormatConverter::start(CompletionHandler completionHandler) {
    const auto fail = [&](const std::string& message) {
        if (completionHandler) completionHandler(createError(message));
    };
    if (!inputURL_) return fail("Input file can't be nil.");
    if (!outputURL_) return fail("Output file can't be nil.");

    const std::string inputExtension = detail::lowercased(inputURL_->pathExtension());
    const auto& accepted = inputFormats();
    if (std::find(accepted.begin(), accepted.end(), inputExtension) == accepted.end()) {
        return fail("The input file format is in an incompatible format: " + inputExtension);
    }

    auto& fileManager = FileManager::defaultManager();
    bool isDirectory = false;
    if (fileManager.fileExists(outputURL_->path(), isDirectory)) {
        // A folder is never replaced by a file: everything in it would go.
        if (isDirectory) return fail("The output file is a folder: " + outputURL_->path());
        if (options_ && options_->eraseFile) {
            Log({"Warning: removing existing file at", outputURL_->path()});
            try {
                fileManager.removeFile(*outputURL_);
            } catch (const platform::NSErrorException&) {
                // The PCM path replaces the file when it creates its output anyway.
            }
        } else {
            return fail("The output file exists already. You need to choose a unique URL or delete the file.");
        }
    }

    if (options_ && !options_->format) options_->format = detail::lowercased(outputURL_->pathExtension());

    // isCompressed without ignorePathExtension always answers.
    const bool outputCompressed = isCompressed(*outputURL_).value_or(false);
    const bool inputCompressed = isCompressed(*inputURL_).value_or(false);
    if (!outputCompressed) {
        convertToPCM(completionHandler);
    } else if (!inputCompressed) {
        convertPCMToCompressed(std::move(completionHandler));
    } else {
        convertCompressed(std::move(completionHandler));
    }
}

}  // namespace sonora
