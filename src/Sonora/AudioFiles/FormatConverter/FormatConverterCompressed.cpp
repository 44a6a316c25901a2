#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"

#include "Sonora/AudioFiles/AVURLAssetUtilities.h"
#include "Sonora/AudioFiles/FormatConverter/FormatConverterDetail.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/avfoundation/AVAssetReader.h"
#include "platform/avfoundation/AVAssetReaderTrackOutput.h"
#include "platform/avfoundation/AVAssetWriter.h"
#include "platform/avfoundation/AVAssetWriterInput.h"
#include "platform/avfoundation/AVFileType.h"
#include "platform/foundation/FileManager.h"

#include <algorithm>
#include <atomic>

namespace sonora {

using namespace platform;

namespace {

constexpr const char* kConvertAssetQueueLabel = "io.tamberlo.Sonora.FormatConverter.convertAsset";

struct OutputKind {
    AVFileType fileType;
    AudioFormatID formatID;
};

std::optional<OutputKind> outputKind(const std::string& format) {
    if (format == "m4a") return OutputKind{AVFileTypeAppleM4A, kAudioFormatMPEG4AAC};
    if (format == "aif") return OutputKind{AVFileTypeAIFF, kAudioFormatLinearPCM};
    if (format == "caf") return OutputKind{AVFileTypeCoreAudioFormat, kAudioFormatLinearPCM};
    if (format == "wav") return OutputKind{AVFileTypeWAVE, kAudioFormatLinearPCM};
    return std::nullopt;
}

// The handler of one run, callable once: every way the run can end (setup, pump, finish) goes
// through it, so a caller hears of the outcome exactly once whatever the platform does.
FormatConverter::CompletionHandler once(FormatConverter::CompletionHandler handler) {
    auto called = std::make_shared<std::atomic<bool>>(false);
    return [called, handler = std::move(handler)](const std::optional<NSError>& error) {
        if (called->exchange(true)) return;
        if (handler) handler(error);
    };
}

}  // namespace

void FormatConverter::convertPCMToCompressed(CompletionHandler completionHandler) {
    completionHandler = once(std::move(completionHandler));
    const auto direct = [&](const NSError& error) { completionHandler(error); };
    const auto withDeletion = [&](const std::optional<NSError>& error) { completionProxy(error, true, completionHandler); };

    if (!inputURL_) return direct(createError("Input file can't be nil."));
    if (!outputURL_) return direct(createError("Output file can't be nil."));
    if (!options_ || !options_->format) return direct(createError("Options can't be nil."));
    const Options& options = *options_;
    const auto& producible = outputFormats();
    if (std::find(producible.begin(), producible.end(), *options.format) == producible.end()) {
        return direct(createError("The output file format isn't able to be produced by this class."));
    }

    const AVURLAsset asset(*inputURL_);
    std::shared_ptr<AVAssetReader> reader;
    try {
        reader = AVAssetReader::make(asset);
    } catch (const NSErrorException& e) {
        return direct(e.error());
    }
    reader_ = reader;

    const auto sourceFormat = audioFormat(asset);
    if (!sourceFormat) return direct(createError("Unable to read the input file format."));
    const OutputKind kind = *outputKind(*options.format);

    std::shared_ptr<AVAssetWriter> writer;
    try {
        writer = AVAssetWriter::make(*outputURL_, kind.fileType);
    } catch (const NSErrorException& e) {
        return direct(e.error());
    }
    writer_ = writer;

    double sampleRate = options.sampleRate.value_or(sourceFormat->sampleRate());
    if (sampleRate == 0) {
        Log({"Sample rate can't be 0 - assigning to default format of 48k. inputFormat is", *sourceFormat});
        sampleRate = 48000;
    }
    const uint32_t channels = options.channels.value_or(sourceFormat->channelCount());
    AVAudioSettings settings;
    if (kind.formatID == kAudioFormatMPEG4AAC) {
        settings = {
            {AVFormatIDKey, double(kAudioFormatMPEG4AAC)},
            {AVSampleRateKey, std::min(48000.0, sampleRate)},
            {AVNumberOfChannelsKey, double(channels)},
            {AVEncoderBitRateKey, double(channels >= 2 ? options.bitRate() : options.bitRate() / 2)},
            {AVEncoderBitRateStrategyKey, AVAudioBitRateStrategy_Constant},
        };
    } else {
        const AVAudioSettings sourceSettings = sourceFormat->settings();
        const auto sourceBits = sourceSettings.find(AVLinearPCMBitDepthKey);
        uint32_t bitDepth = 16;
        bool isFloat = false;
        if (options.bitDepth) {
            bitDepth = *options.bitDepth;
        } else if (sourceBits != sourceSettings.end()) {
            bitDepth = uint32_t(sourceBits->second);
            isFloat = bitDepth == 32;
        }
        const bool interleaved = options.isInterleaved.value_or(sourceFormat->isInterleaved());
        settings = {
            {AVFormatIDKey, double(kAudioFormatLinearPCM)},
            {AVSampleRateKey, sampleRate},
            {AVNumberOfChannelsKey, double(channels)},
            {AVLinearPCMBitDepthKey, double(bitDepth)},
            {AVLinearPCMIsFloatKey, isFloat ? 1.0 : 0.0},
            {AVLinearPCMIsBigEndianKey, kind.fileType == AVFileTypeWAVE ? 0.0 : 1.0},
            {AVLinearPCMIsNonInterleaved, interleaved ? 0.0 : 1.0},
        };
    }

    const CMAudioFormatDescription hint{sourceFormat->streamDescription()};
    auto writerInput = std::make_shared<AVAssetWriterInput>(AVMediaType::audio, settings, hint);
    writer->add(writerInput);

    const auto tracks = asset.tracks(AVMediaType::audio);
    if (tracks.empty()) return withDeletion(createError("No audio was found in the input file."));
    auto readerOutput = std::make_shared<AVAssetReaderTrackOutput>(tracks.front(), std::nullopt);
    if (!reader->canAdd(readerOutput)) return withDeletion(createError("Unable to add reader output."));
    reader->add(readerOutput);

    if (!writer->startWriting()) {
        const NSError error = writer->error().value_or(createError("Failed to start writing."));
        Log({"Failed to start writing. Error:", error.localizedDescription});
        return withDeletion(error);
    }
    writer->startSession(kCMTimeZero);
    if (!reader->startReading()) {
        const NSError error = reader->error().value_or(createError("Failed to start reading."));
        Log({"Failed to start reading. Error:", error.localizedDescription});
        // The writer has created its file by now; abandoning it removes the partial output.
        writer->cancelWriting();
        return withDeletion(error);
    }

    // The pump runs on its own queue until the input is finished; it holds everything it uses,
    // the converter included, so the caller may let go of the converter meanwhile.
    auto self = weak_from_this().lock();  // null for a converter not owned by a shared_ptr
    const std::optional<URL> outputURL = outputURL_;
    auto queue = std::make_shared<DispatchQueue>(kConvertAssetQueueLabel);
    writerInput->requestMediaDataWhenReady(queue, [writerInput, reader, readerOutput, writer, self, outputURL, completionHandler] {
        while (writerInput->isReadyForMoreMediaData()) {
            if (reader->status() == AVAssetReaderStatus::reading) {
                if (auto sampleBuffer = readerOutput->copyNextSampleBuffer()) {
                    writerInput->append(sampleBuffer);
                    continue;
                }
            }
            writerInput->markAsFinished();
            switch (reader->status()) {
            case AVAssetReaderStatus::completed:
                writer->finishWriting([writer, self, outputURL, completionHandler] {
                    if (writer->status() == AVAssetWriterStatus::failed) {
                        Log({"Conversion failed at finishWriting"});
                        detail::completionProxy(outputURL,
                                                writer->error().value_or(createError("Conversion failed at finishWriting")),
                                                true, completionHandler);
                    } else {
                        completionHandler(std::nullopt);
                    }
                });
                break;
            case AVAssetReaderStatus::cancelled:
                Log({"Conversion cancelled"});
                detail::completionProxy(outputURL, createError("Process canceled"), true, completionHandler);
                break;
            case AVAssetReaderStatus::failed: {
                const NSError error = reader->error().value_or(createError("Conversion failed"));
                Log({"Conversion failed with error", error});
                writer->cancelWriting();
                detail::completionProxy(outputURL, error, true, completionHandler);
                break;
            }
            default:
                break;
            }
            break;
        }
    });
}

void FormatConverter::convertCompressed(CompletionHandler completionHandler) {
    const auto direct = [&](const NSError& error) {
        if (completionHandler) completionHandler(error);
    };
    if (!inputURL_) return direct(createError("Input file can't be nil."));
    if (!outputURL_) return direct(createError("Output file can't be nil."));
    if (!options_) return direct(createError("Options can't be nil."));

    const URL tempURL = outputURL_->deletingLastPathComponent().appendingPathComponent(
        outputURL_->deletingPathExtension().lastPathComponent() + "_TEMP.wav");
    Options decodingOptions(std::string("wav"), options_->sampleRate, 24, options_->channels);
    std::optional<NSError> decodingError;
    {
        auto decoder = std::make_shared<FormatConverter>(*inputURL_, tempURL, decodingOptions);
        // The PCM path finishes before start returns.
        decoder->start([&decodingError](const std::optional<NSError>& error) { decodingError = error; });
    }
    if (decodingError) {
        return direct(createError("Failed to convert input to PCM: " + decodingError->localizedDescription));
    }

    inputURL_ = tempURL;
    convertPCMToCompressed([tempURL, completionHandler](const std::optional<NSError>& error) {
        try {
            FileManager::defaultManager().removeFile(tempURL);
        } catch (const NSErrorException&) {
            // A temporary file that is already gone is fine.
        }
        if (completionHandler) completionHandler(error);
    });
}

}  // namespace sonora
