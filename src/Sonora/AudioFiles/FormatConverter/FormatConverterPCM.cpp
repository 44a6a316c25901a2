#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"

#include "Sonora/AudioFiles/FormatConverter/FormatConverterDetail.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/audiotoolbox/ExtendedAudioFile.h"
#include "platform/foundation/FileManager.h"

#include <algorithm>
#include <vector>

namespace sonora {

using namespace platform;

namespace {

// Frames pass from reader to writer in pieces this large: each write also rewrites the output's
// header, so small pieces cost many system calls.
constexpr uint32_t kTransferBytes = 1 << 20;

constexpr AudioFormatFlags kSignedPacked = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
constexpr AudioFormatFlags kSignedPackedBigEndian = kSignedPacked | kAudioFormatFlagIsBigEndian;

struct PCMFileKind {
    AudioFileTypeID fileType;
    AudioFormatFlags flags;         // when the bits are not 8
    AudioFormatFlags flagsAt8Bits;  // WAV's 8-bit samples are unsigned
};

std::optional<PCMFileKind> pcmFileKind(const std::string& format) {
    if (format == "aif") return PCMFileKind{kAudioFileAIFFType, kSignedPackedBigEndian, kSignedPackedBigEndian};
    if (format == "wav") return PCMFileKind{kAudioFileWAVEType, kSignedPacked, kAudioFormatFlagIsPacked};
    if (format == "caf") return PCMFileKind{kAudioFileCAFType, kSignedPacked, kSignedPacked};
    return std::nullopt;
}

std::string describe(const AudioStreamBasicDescription& f) {
    return "mSampleRate: " + LogItem(f.mSampleRate).text() + " mFormatID: " + fourCharCodeString(f.mFormatID) +
           " mFormatFlags: " + std::to_string(f.mFormatFlags) + " mBytesPerPacket: " + std::to_string(f.mBytesPerPacket) +
           " mFramesPerPacket: " + std::to_string(f.mFramesPerPacket) + " mBytesPerFrame: " +
           std::to_string(f.mBytesPerFrame) + " mChannelsPerFrame: " + std::to_string(f.mChannelsPerFrame) +
           " mBitsPerChannel: " + std::to_string(f.mBitsPerChannel);
}

// The input and output of one run, closed by closeFiles() on every way out.
struct PCMFiles {
    ExtAudioFileRef input = nullptr;
    ExtAudioFileRef output = nullptr;

    void closeFiles() {
        if (input && ExtAudioFileDispose(input) != noErr) {
            Log({"Error disposing input file, could have a memory leak"});
        }
        input = nullptr;
        if (output && ExtAudioFileDispose(output) != noErr) {
            Log({"Error disposing output file, could have a memory leak"});
        }
        output = nullptr;
    }
    ~PCMFiles() { closeFiles(); }
};

}  // namespace

void FormatConverter::convertToPCM(const CompletionHandler& completionHandler) {
    const auto direct = [&](const std::optional<NSError>& error) {
        if (completionHandler) completionHandler(error);
    };
    if (!inputURL_) return direct(createError("Input file can't be nil."));
    if (!outputURL_) return direct(createError("Output file can't be nil."));
    if (!options_ || !options_->format) return direct(createError("Options can't be nil."));
    const Options& options = *options_;
    const auto kind = pcmFileKind(*options.format);
    if (!kind) return direct(createError("Output file must be caf, wav or aif."));

    PCMFiles files;
    // The output is closed before a partial one is deleted, so that nothing can write it back.
    const auto failWithDeletion = [&](const std::string& message) {
        files.closeFiles();
        completionProxy(createError(message), true, completionHandler);
    };

    if (ExtAudioFileOpenURL(*inputURL_, &files.input) != noErr || !files.input) {
        files.closeFiles();
        return direct(createError("Unable to open the input file."));
    }
    AudioStreamBasicDescription srcFormat{};
    uint32_t size = sizeof srcFormat;
    if (ExtAudioFileGetProperty(files.input, kExtAudioFileProperty_FileDataFormat, &size, &srcFormat) != noErr) {
        files.closeFiles();
        return direct(createError("Unable to get the input file data format."));
    }

    AudioStreamBasicDescription dstFormat{};
    dstFormat.mSampleRate = options.sampleRate.value_or(srcFormat.mSampleRate);
    dstFormat.mChannelsPerFrame = options.channels.value_or(srcFormat.mChannelsPerFrame);
    const uint32_t requestedBits = options.bitDepth.value_or(srcFormat.mBitsPerChannel);
    uint32_t bits = options.bitDepthRule == BitDepthRule::any ? requestedBits
                                                              : std::min(srcFormat.mBitsPerChannel, requestedBits);
    if (bits != 0) {
        dstFormat.mBytesPerFrame = bits * dstFormat.mChannelsPerFrame / 8;
        dstFormat.mFormatFlags = bits == 8 ? kind->flagsAt8Bits : kind->flags;
    } else {
        // Compressed input reports 0 bits: write 16-bit samples.
        bits = 16;
        dstFormat.mBytesPerFrame = 2 * dstFormat.mChannelsPerFrame;
        dstFormat.mFormatFlags = *options.format == "aif" ? kSignedPackedBigEndian : kSignedPacked;
    }
    // One frame per packet: a packet is exactly one frame of the destination, whatever the source's
    // packets held (a channel change would otherwise leave the description inconsistent).
    dstFormat.mBytesPerPacket = dstFormat.mBytesPerFrame;
    dstFormat.mBitsPerChannel = bits;
    dstFormat.mFormatID = kAudioFormatLinearPCM;
    dstFormat.mFramesPerPacket = 1;
    dstFormat.mReserved = 0;

    if (detail::lowercased(inputURL_->pathExtension()) == *options.format &&
        dstFormat.mSampleRate == srcFormat.mSampleRate && dstFormat.mChannelsPerFrame == srcFormat.mChannelsPerFrame &&
        dstFormat.mBitsPerChannel == srcFormat.mBitsPerChannel) {
        Log({"No conversion is needed, formats are the same. Copying to", *outputURL_});
        std::optional<NSError> copyError;
        try {
            FileManager::defaultManager().copyItem(*inputURL_, *outputURL_);
        } catch (const NSErrorException& e) {
            Log({e.error()});
            copyError = e.error();
        }
        files.closeFiles();
        return direct(copyError);
    }

    if (ExtAudioFileCreateWithURL(*outputURL_, kind->fileType, &dstFormat, nullptr, kAudioFileFlags_EraseFile,
                                  &files.output) != noErr) {
        return failWithDeletion("Unable to create output file at " + outputURL_->path() + ". " + "dstFormat " +
                                describe(dstFormat));
    }
    if (!files.output) return failWithDeletion("Output file is nil.");
    if (ExtAudioFileSetProperty(files.input, kExtAudioFileProperty_ClientDataFormat, sizeof dstFormat, &dstFormat) !=
        noErr) {
        return failWithDeletion("Unable to set data format on input file.");
    }
    if (ExtAudioFileSetProperty(files.output, kExtAudioFileProperty_ClientDataFormat, sizeof dstFormat, &dstFormat) !=
        noErr) {
        return failWithDeletion("Unable to set the output file data format.");
    }

    std::vector<unsigned char> transfer(kTransferBytes, 0);
    AudioBufferList list;
    const uint32_t framesPerRead = dstFormat.mBytesPerFrame ? kTransferBytes / dstFormat.mBytesPerFrame : 0;
    for (;;) {
        // The list describes the client format's frames, so it carries the destination's channels.
        list.mNumberBuffers = 1;
        list.mBuffers[0].mNumberChannels = dstFormat.mChannelsPerFrame;
        list.mBuffers[0].mDataByteSize = kTransferBytes;
        list.mBuffers[0].mData = transfer.data();
        uint32_t frames = framesPerRead;
        if (ExtAudioFileRead(files.input, &frames, &list) != noErr) {
            return failWithDeletion("Error reading from the input file.");
        }
        if (frames == 0) break;
        if (ExtAudioFileWrite(files.output, frames, &list) != noErr) {
            return failWithDeletion("Error reading from the output file.");
        }
    }
    files.closeFiles();
    direct(std::nullopt);
}

}  // namespace sonora
