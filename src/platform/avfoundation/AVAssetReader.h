// Reads an asset's tracks as sample buffers through track outputs.
//
//   auto reader = AVAssetReader::make(asset);           // throws NSErrorException
//   auto output = std::make_shared<AVAssetReaderTrackOutput>(asset.tracks(AVMediaType::audio)[0], std::nullopt);
//   if (reader->canAdd(output)) reader->add(output);
//   reader->startReading();
//   while (auto buffer = output->copyNextSampleBuffer()) use(*buffer);
//   // reader->status(): completed, failed (see error()) or cancelled
#pragma once

#include "platform/avfoundation/AVAssetReaderTrackOutput.h"
#include "platform/avfoundation/AVURLAsset.h"
#include "platform/foundation/NSError.h"

#include <memory>
#include <optional>
#include <vector>

namespace platform {

enum class AVAssetReaderStatus : int { unknown = 0, reading = 1, completed = 2, failed = 3, cancelled = 4 };

class AVAssetReader {
public:
    // init(asset:) / initWithAsset:error:. Throws NSErrorException when the asset's file is missing;
    // other problems with the file show when reading starts.
    static std::shared_ptr<AVAssetReader> make(const AVURLAsset& asset);
    ~AVAssetReader();
    AVAssetReader(const AVAssetReader&) = delete;
    AVAssetReader& operator=(const AVAssetReader&) = delete;

    const AVURLAsset& asset() const { return asset_; }

    // True when the output reads the asset's first audio track (the one the file layer decodes) with
    // no settings or linear PCM settings, is not attached elsewhere, and reading has not started.
    bool canAdd(const std::shared_ptr<AVAssetReaderTrackOutput>& output) const;
    // Attaches the output; ignored (with a log line) when canAdd is false.
    void add(const std::shared_ptr<AVAssetReaderTrackOutput>& output);
    const std::vector<std::shared_ptr<AVAssetReaderTrackOutput>>& outputs() const { return outputs_; }

    // Opens the tracks and starts reading. False (status failed, error set) when a track cannot be
    // opened; false without a change when reading has started before (a reader starts once).
    bool startReading();
    // Stops reading: status cancelled, outputs give nullptr from now on.
    void cancelReading();

    AVAssetReaderStatus status() const;
    // Why the status is failed; nullopt otherwise.
    std::optional<NSError> error() const;

private:
    explicit AVAssetReader(AVURLAsset asset);
    AVURLAsset asset_;
    std::vector<std::shared_ptr<AVAssetReaderTrackOutput>> outputs_;
    std::shared_ptr<detail::AssetReadingCore> core_;
};

}  // namespace platform
