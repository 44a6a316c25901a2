// Turns one audio file into another of a chosen format, sample rate, channel count, bit depth or bit
// rate. One converter per conversion: create it, start it once, learn the outcome from the handler.
//
//   auto converter = std::make_shared<FormatConverter>(in, out, options);
//   converter->start([](const std::optional<NSError>& error) { ... });   // no error: out is complete
//
// PCM outputs (wav, aif, caf) are written synchronously before start() returns; compressed outputs
// (m4a) finish later, on the converter's own queue or the asset writer's thread; the transfer keeps
// what it needs (and a converter owned by a shared_ptr) alive until then.
#pragma once

#include "Sonora/AudioFiles/FormatConverter/FormatConverterOptions.h"
#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class AVAssetReader;
class AVAssetWriter;
}  // namespace platform

namespace sonora {

class FormatConverter : public std::enable_shared_from_this<FormatConverter> {
public:
    using Options = FormatConverterOptions;
    using BitDepthRule = FormatConverterBitDepthRule;
    // Receives no error on success. An empty handler drops every result.
    using CompletionHandler = std::function<void(const std::optional<platform::NSError>&)>;

    // The error domain of the converter's own errors (code 1, the message as description).
    static const char* const errorDomain;

    // init(inputURL:outputURL:options:): no options means Options().
    FormatConverter(std::optional<platform::URL> inputURL, std::optional<platform::URL> outputURL,
                    std::optional<Options> options = std::nullopt);
    virtual ~FormatConverter();
    FormatConverter(const FormatConverter&) = delete;
    FormatConverter& operator=(const FormatConverter&) = delete;

    const std::optional<platform::URL>& inputURL() const { return inputURL_; }
    void setInputURL(std::optional<platform::URL> url) { inputURL_ = std::move(url); }
    const std::optional<platform::URL>& outputURL() const { return outputURL_; }
    void setOutputURL(std::optional<platform::URL> url) { outputURL_ = std::move(url); }
    // Never absent after construction, but may be set to absent.
    std::optional<Options>& options() { return options_; }
    const std::optional<Options>& options() const { return options_; }
    void setOptions(std::optional<Options> options) { options_ = std::move(options); }
    // The last reader and writer the compressed path made; kept until the converter goes away.
    const std::shared_ptr<platform::AVAssetReader>& reader() const { return reader_; }
    void setReader(std::shared_ptr<platform::AVAssetReader> reader) { reader_ = std::move(reader); }
    const std::shared_ptr<platform::AVAssetWriter>& writer() const { return writer_; }
    void setWriter(std::shared_ptr<platform::AVAssetWriter> writer) { writer_ = std::move(writer); }

    // Checks the request, clears an existing output when allowed and runs the conversion path the
    // input and output call for. The handler is called exactly once.
    virtual void start(CompletionHandler completionHandler = {});

    // The formats the compressed path can write, and the input extensions start() accepts.
    static const std::vector<std::string>& outputFormats();
    static const std::vector<std::string>& inputFormats();

    // Whether the file holds compressed audio: by its extension when it is a known one, otherwise
    // (or with ignorePathExtension) by probing its data; a file that cannot be probed counts as PCM
    // unless ignorePathExtension is set, in which case the answer is absent.
    static std::optional<bool> isCompressed(const platform::URL& url, bool ignorePathExtension = false);
    static std::optional<bool> isPCM(const platform::URL& url);
    // Probes the file's data format: false for linear PCM and Apple Lossless; absent when it cannot be opened.
    static std::optional<bool> isCompressedExt(const platform::URL& url);

    // The converter's error value: errorDomain, the code, the message as its description.
    static platform::NSError createError(const std::string& message, int64_t code = 1);

    // Delivers a result; with an error and deleteOutputOnError, removes a partly written output first.
    void completionProxy(const std::optional<platform::NSError>& error, bool deleteOutputOnError,
                         const CompletionHandler& completionHandler) const;

    // The conversion paths start() dispatches to.
    // Linear PCM output (wav, aif, caf) through the extended audio file services; synchronous.
    void convertToPCM(const CompletionHandler& completionHandler);
    // PCM input to m4a (or PCM) output through an asset reader and writer; finishes asynchronously.
    void convertPCMToCompressed(CompletionHandler completionHandler);
    // Compressed input to compressed output: decodes to "<output name>_TEMP.wav" first, then encodes it.
    void convertCompressed(CompletionHandler completionHandler);

private:
    std::optional<platform::URL> inputURL_;
    std::optional<platform::URL> outputURL_;
    std::optional<Options> options_;
    std::shared_ptr<platform::AVAssetReader> reader_;
    std::shared_ptr<platform::AVAssetWriter> writer_;
};

}  // namespace sonora
