#include "Sonora/AudioFiles/AVAudioFileAsyncExtraction.h"

#include "Sonora/AudioFiles/AVAudioFileUtilities.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/foundation/FileManager.h"

namespace sonora {

using platform::FileManager;
using platform::URL;

void extract(platform::AVAudioFile& file, const URL& to, double startTime, double endTime, double fadeInTime,
             double fadeOutTime, std::optional<FormatConverter::Options> options,
             FormatConverter::CompletionHandler completionHandler) {
    const FormatConverter::Options chosen = options ? *options : FormatConverter::Options(file);
    const std::string outputExtension = chosen.format ? *chosen.format : to.pathExtension();

    const URL folder = to.deletingLastPathComponent();
    const std::string baseName = to.deletingPathExtension().lastPathComponent();
    const URL tempFile = folder.appendingPathComponent(baseName + "_temp").appendingPathExtension("caf");
    const URL finalFile = folder.appendingPathComponent(baseName).appendingPathExtension(outputExtension);

    auto written = extract(file, tempFile, startTime, endTime, fadeInTime, fadeOutTime);
    if (!written) {
        if (completionHandler) completionHandler(FormatConverter::createError("Failed to create new file"));
        return;
    }
    written.reset();  // closes the file, so its data is complete on disk
    if (!FileManager::defaultManager().isReadableFile(tempFile.path())) {
        if (completionHandler) completionHandler(FormatConverter::createError("File wasn't created correctly"));
        return;
    }

    auto converter = std::make_shared<FormatConverter>(tempFile, finalFile, chosen);
    converter->start([tempFile, completionHandler](const std::optional<platform::NSError>& error) {
        if (error) Log({"Done, error", *error}, OSLog::general(), OSLogType::error);
        if (completionHandler) completionHandler(error);
        try {
            FileManager::defaultManager().removeFile(tempFile);
        } catch (const platform::NSErrorException&) {
            Log({"Unable to remove temp file at", tempFile}, OSLog::general(), OSLogType::error);
        }
    });
}

}  // namespace sonora
