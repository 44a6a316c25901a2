#include "TamberloMac/Export/ExportController.h"

#include "Services/Analytics/TrackManager.h"
#include "TamberloMac/Export/ZRBAudioConverter.h"
#include "TamberloMac/Interface/GCD.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Shell/Localized.h"
#include "platform/audiotoolbox/AudioFile.h"

#include <algorithm>

namespace tamberlo {

namespace {
constexpr const char* kExportFunnel = "Complete_Export";

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
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
    const platform::URL output = *saveUrl;
    const std::string format = options.format.value_or("");

    if (contains(sonora::FormatConverter::outputFormats(), format)) {
        auto converter = std::make_shared<sonora::FormatConverter>(input, output, options);
        converter->start([self](const std::optional<platform::NSError>& error) {
            const bool success = !error.has_value();
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
    GCDAsyncGlobal([self, converter] {
        const bool success = converter->convert();
        GCDAsyncMain([self, success] { self->conversionFinished(success); });
    });
}

void ExportController::conversionFinished(bool success) {
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
