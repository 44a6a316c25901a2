// Writes a media file from the samples appended to its inputs: AAC in M4A through FFmpeg's encoder
// and ipod muxer, or linear PCM in WAVE, AIFF, AIFC or CAF through libsndfile.
//
//   auto writer = AVAssetWriter::make(url, AVFileTypeAppleM4A);       // throws NSErrorException
//   auto input = std::make_shared<AVAssetWriterInput>(AVMediaType::audio, aacSettings);
//   writer->add(input);
//   writer->startWriting(); writer->startSession(kCMTimeZero);
//   input->requestMediaDataWhenReady(queue, [&] { ... input->append(buffer) ...; input->markAsFinished(); });
//   writer->finishWriting([&] { /* writer->status() is completed or failed */ });
#pragma once

#include "platform/avfoundation/AVAssetWriterInput.h"
#include "platform/avfoundation/AVFileType.h"
#include "platform/coremedia/CMTime.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

enum class AVAssetWriterStatus : int { unknown = 0, writing = 1, completed = 2, failed = 3, cancelled = 4 };

class AVAssetWriter {
public:
    // init(outputURL:fileType:) / initWithURL:fileType:error:. Throws NSErrorException for a file
    // type it cannot write or a URL that is not a file path.
    static std::shared_ptr<AVAssetWriter> make(const URL& outputURL, const AVFileType& fileType);
    ~AVAssetWriter();
    AVAssetWriter(const AVAssetWriter&) = delete;
    AVAssetWriter& operator=(const AVAssetWriter&) = delete;

    const URL& outputURL() const { return outputURL_; }
    const AVFileType& outputFileType() const { return fileType_; }

    // True for one audio input whose settings this file type can hold, before startWriting.
    bool canAdd(const std::shared_ptr<AVAssetWriterInput>& input) const;
    // Attaches the input (no check is needed first; an unusable input makes startWriting fail).
    void add(const std::shared_ptr<AVAssetWriterInput>& input);
    const std::vector<std::shared_ptr<AVAssetWriterInput>>& inputs() const { return inputs_; }

    // Creates the output file and its encoder. False (status failed, error set) when the file exists
    // already (AVErrorFileAlreadyExists), cannot be created, or the input's settings cannot be
    // encoded; the writer then leaves no file behind.
    bool startWriting();
    // Starts the timeline at this source time; appends are taken from then on.
    void startSession(CMTime sourceTime);
    // Finishes the file (flushes the encoder, writes the trailer) on a platform thread, then calls
    // the handler there. Status completed, or failed with error set (a failed file is removed).
    // When the writer is not writing, the handler is still called, with the status unchanged.
    void finishWriting(std::function<void()> completionHandler);
    // Abandons the file: status cancelled and the partial output removed.
    void cancelWriting();

    AVAssetWriterStatus status() const;
    std::optional<NSError> error() const;

private:
    AVAssetWriter(URL outputURL, AVFileType fileType);
    URL outputURL_;
    AVFileType fileType_;
    std::vector<std::shared_ptr<AVAssetWriterInput>> inputs_;
    std::shared_ptr<detail::AssetWritingCore> core_;
};

}  // namespace platform
