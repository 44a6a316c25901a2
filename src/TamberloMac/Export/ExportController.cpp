#include "TamberloMac/Export/ExportController.h"

#include "Services/Analytics/TrackManager.h"
#include "TamberloMac/Export/ZRBAudioConverter.h"
#include "TamberloMac/Interface/GCD.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Shell/Localized.h"
#include "platform/audiotoolbox/AudioFile.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <unistd.h>

namespace tamberlo {

namespace {
constexpr const char* kExportFunnel = "Complete_Export";

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

const platform::OSLog& exportLog() {
    static const platform::OSLog log{"io.tamberlo.editor", "ExportController"};
    return log;
}

// A name next to the destination that nothing uses, hidden and with the destination's extension
// (the conversion picks its container by it): the conversion writes there, and only a complete
// file takes the destination's name, so a failed export leaves an earlier file as it was.
platform::URL partialFileFor(const platform::URL& destination) {
    static std::atomic<unsigned> counter{0};
    const std::string extension = destination.pathExtension();
    const std::string name = "." + destination.deletingPathExtension().lastPathComponent() + ".part-" +
                             std::to_string(::getpid()) + "-" + std::to_string(++counter) +
                             (extension.empty() ? "" : "." + extension);
    return destination.deletingLastPathComponent().appendingPathComponent(name);
}

// Ends a conversion into `partial`: a complete file replaces the destination in one rename, anything
// else is removed. True when the destination now holds the new file.
bool settlePartialFile(bool converted, const platform::URL& partial, const platform::URL& destination) {
    std::error_code error;
    if (converted) {
        std::filesystem::rename(partial.filePath(), destination.filePath(), error);
        if (!error) return true;
        platform::os_log(exportLog(), platform::OSLogType::error,
                         "cannot move the export to " + destination.path() + ": " + error.message());
    }
    try {
        platform::FileManager::defaultManager().removeFile(partial);
    } catch (const platform::NSErrorException&) {
        // Nothing was written.
    }
    return false;
}
}  // namespace

const std::vector<std::string>& ExportController::exportFormats() {
    static const std::vector<std::string> formats{"m4a", "aac", "wav", "caf", "mp3"};
    return formats;
}

std::shared_ptr<ExportController> ExportController::make() {
    return std::shared_ptr<ExportController>(new ExportController());
}

void ExportController::formatChanged(const std::optional<std::string>& title) {
    TrackManager::TrackCompleteRate(kExportFunnel, "export_format", 2);
    if (!title) return;
    options.format = *title;
    options.sampleRate = 44100;
    options.channels = 2;
    if (*title == "m4a" || *title == "aac" || *title == "mp3") {
        options.setBitRate(192000);
    } else if (*title == "wav" || *title == "caf") {
        options.bitDepth = 16;
    }
}

void ExportController::convertFormat() {
    TrackManager::TrackCompleteRate(kExportFunnel, "export_convert", 4);
    HUD::showProgressWithStatus(localized("格式转换中..."));

    auto self = shared_from_this();
    if (!renderFile || !saveUrl) {
        // Nothing to convert from or to: report it rather than leave the sheet waiting.
        GCDAsyncMain([self] { self->conversionFinished(false); });
        return;
    }
    const platform::URL input = renderFile->url();
    const platform::URL destination = *saveUrl;
    bool isDirectory = false;
    if (platform::FileManager::defaultManager().fileExists(destination.path(), isDirectory) && isDirectory) {
        platform::os_log(exportLog(), platform::OSLogType::error, "the destination is a folder: " + destination.path());
        GCDAsyncMain([self] { self->conversionFinished(false); });
        return;
    }
    const platform::URL output = partialFileFor(destination);
    const std::string format = options.format.value_or("");

    if (contains(sonora::FormatConverter::outputFormats(), format)) {
        auto converter = std::make_shared<sonora::FormatConverter>(input, output, options);
        converter->start([self, output, destination](const std::optional<platform::NSError>& error) {
            const bool success = settlePartialFile(!error.has_value(), output, destination);
            GCDAsyncMain([self, success] { self->conversionFinished(success); });
        });
        return;
    }

    auto converter = std::make_shared<ZRBAudioConverter>();
    converter->inputFile = input.path();
    converter->outputFile = output.path();
    if (format == "aac") {
        converter->outputFileType = platform::kAudioFileMPEG4Type;
        converter->outputFormatID = platform::kAudioFormatMPEG4AAC;
    } else if (format == "mp3") {
        converter->outputFileType = platform::kAudioFileMP3Type;
        converter->outputFormatID = platform::kAudioFormatMPEGLayer3;
    }
    GCDAsyncGlobal([self, converter, output, destination] {
        const bool success = settlePartialFile(converter->convert(), output, destination);
        GCDAsyncMain([self, success] { self->conversionFinished(success); });
    });
}

void ExportController::removeWorkFiles() {
    if (renderFile) {
        // Removed below: no need to wait for the disk.
        try {
            renderFile->closeWithoutSync();
        } catch (const platform::NSErrorException&) {
            // A failing flush of a file about to be removed has nothing to lose.
        }
    }
    // The players hold the padded files open; an open file's space stays taken after its removal.
    if (engine->output()) engine->setOutput(nullptr);
    for (const auto& path : workFiles_) {
        std::error_code error;
        std::filesystem::remove(path, error);
        if (error)
            platform::os_log(exportLog(), platform::OSLogType::error, "cannot remove the work file " + path + ": " + error.message());
    }
    workFiles_.clear();
}

void ExportController::conversionFinished(bool success) {
    removeWorkFiles();
    if (success) {
        HUD::showSuccessWithStatus(localized("导出成功"));
        auto self = shared_from_this();
        GCDAfterMain([self] { self->finishExport(); }, self->finishDelay);
    } else {
        HUD::showErrorWithStatus(localized("导出失败"));
    }
    if (conversionFinishedBlock) conversionFinishedBlock(success);
}

void ExportController::finishExport() {
    TrackManager::TrackCompleteRate(kExportFunnel, "export_success", 99);
    if (dismissBlock) dismissBlock();
    if (doneBlock) doneBlock();
}

}  // namespace tamberlo
