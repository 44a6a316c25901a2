#include "platform/audiotoolbox/ExtendedAudioFile.h"

#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/media/BufferListView.h"
#include "platform/media/FFmpegEncoder.h"
#include "platform/media/PCMConverter.h"
#include "platform/media/SndfileBackend.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <optional>

namespace platform {

namespace {

// Frames moved between the file and the converter at a time.
constexpr uint32_t kChunkFrames = 4096;
// The same when the file's own bytes go to the converter: large reads, few system calls.
constexpr uint32_t kRawChunkFrames = 65536;

bool isFloat(const AudioStreamBasicDescription& d) { return d.mFormatFlags & kAudioFormatFlagIsFloat; }
bool isSigned(const AudioStreamBasicDescription& d) { return d.mFormatFlags & kAudioFormatFlagIsSignedInteger; }
bool isBigEndian(const AudioStreamBasicDescription& d) { return d.mFormatFlags & kAudioFormatFlagIsBigEndian; }
bool isNonInterleaved(const AudioStreamBasicDescription& d) { return d.mFormatFlags & kAudioFormatFlagIsNonInterleaved; }

// The sample types linear PCM comes in here: signed 8 to 32-bit integers, unsigned 8-bit, float 32/64.
bool knownSampleType(const AudioStreamBasicDescription& d) {
    if (d.mFormatID != kAudioFormatLinearPCM || !std::isfinite(d.mSampleRate) || d.mSampleRate <= 0 ||
        d.mChannelsPerFrame == 0 || d.mChannelsPerFrame > 64)
        return false;
    if (isFloat(d)) return d.mBitsPerChannel == 32 || d.mBitsPerChannel == 64;
    switch (d.mBitsPerChannel) {
    case 8: return true;
    case 16: case 24: case 32: return isSigned(d);
    default: return false;
    }
}

// A client format: a known sample type whose frames hold their samples.
bool usableClientFormat(const AudioStreamBasicDescription& d) {
    if (!knownSampleType(d) || d.mFramesPerPacket != 1) return false;
    const uint32_t sampleBytes = d.mBitsPerChannel / 8;
    if (isNonInterleaved(d)) return d.mBytesPerFrame >= sampleBytes;
    return d.mBytesPerFrame >= sampleBytes * d.mChannelsPerFrame && d.mBytesPerFrame % d.mChannelsPerFrame == 0;
}

// Float32, one buffer per channel: what the file backends hand out and take.
AudioStreamBasicDescription processingFormat(double rate, uint32_t channels) {
    return AVAudioFormat::standardFormatWithSampleRate(rate, channels).streamDescription();
}

// Whether a linear PCM description can go into a file of the type; the file's byte sizes follow
// from its bits and channels, whatever the description's byte counts say.
std::optional<detail::SndfileContainer> pcmContainer(AudioFileTypeID type, const AudioStreamBasicDescription& d) {
    if (!knownSampleType(d)) return std::nullopt;
    const bool flt = isFloat(d), eight = d.mBitsPerChannel == 8;
    switch (type) {
    case kAudioFileWAVEType:
        // WAVE keeps little-endian samples, and 8-bit ones unsigned.
        if (isBigEndian(d) && !eight) return std::nullopt;
        if (eight && isSigned(d)) return std::nullopt;
        return detail::SndfileContainer::wav;
    case kAudioFileAIFFType:
        if (flt || !isSigned(d) || (!isBigEndian(d) && !eight)) return std::nullopt;
        return detail::SndfileContainer::aiff;
    case kAudioFileAIFCType:
        if (!flt && !isSigned(d)) return std::nullopt;
        // Big-endian integers are plain AIFF data; little-endian ones and floats need the AIFC form.
        return (!flt && (isBigEndian(d) || eight)) ? detail::SndfileContainer::aiff : detail::SndfileContainer::aifc;
    case kAudioFileCAFType:
        if (!flt && !isSigned(d)) return std::nullopt;
        return detail::SndfileContainer::caf;
    case kAudioFileNextType:
        if (!flt && !isSigned(d)) return std::nullopt;
        if (!eight && !isBigEndian(d) && !flt) return std::nullopt;
        return detail::SndfileContainer::au;
    default: return std::nullopt;
    }
}

std::optional<detail::FFmpegContainer> encodedContainer(AudioFileTypeID type, const AudioStreamBasicDescription& d) {
    const bool aac = d.mFormatID == kAudioFormatMPEG4AAC, alac = d.mFormatID == kAudioFormatAppleLossless;
    if (!std::isfinite(d.mSampleRate) || d.mSampleRate <= 0 || d.mChannelsPerFrame == 0) return std::nullopt;
    switch (type) {
    case kAudioFileM4AType: if (aac || alac) return detail::FFmpegContainer::ipod; break;
    case kAudioFileMPEG4Type: if (aac || alac) return detail::FFmpegContainer::mp4; break;
    case kAudioFileAAC_ADTSType: if (aac) return detail::FFmpegContainer::adts; break;
    default: break;
    }
    return std::nullopt;
}

// Bytes one buffer of the list holds per frame, and the buffers and channels per buffer it has.
uint32_t bufferBytesPerFrame(const AudioStreamBasicDescription& d) { return d.mBytesPerFrame; }

// True when the list has the shape the client format asks for.
bool matchesFormat(const AudioBufferList* list, const AudioStreamBasicDescription& d) {
    if (!list) return false;
    const bool planar = isNonInterleaved(d);
    const uint32_t buffers = planar ? d.mChannelsPerFrame : 1;
    const uint32_t channelsPerBuffer = planar ? 1 : d.mChannelsPerFrame;
    if (list->mNumberBuffers != buffers) return false;
    for (uint32_t b = 0; b < buffers; ++b) {
        const AudioBuffer& buffer = list->mBuffers[b];
        if (buffer.mNumberChannels != channelsPerBuffer) return false;
        if (!buffer.mData && buffer.mDataByteSize > 0) return false;
    }
    return true;
}

size_t framesTheListHolds(const AudioBufferList& list, uint32_t bytesPerFrame) {
    size_t frames = SIZE_MAX;
    for (uint32_t b = 0; b < list.mNumberBuffers; ++b)
        frames = std::min<size_t>(frames, list.mBuffers[b].mData ? list.mBuffers[b].mDataByteSize / bytesPerFrame : 0);
    return frames == SIZE_MAX ? 0 : frames;
}

// True when frames in `client` are byte for byte frames of `file`: same rate, channels, sample type,
// width, byte order and interleaving.
bool sameByteLayout(const AudioStreamBasicDescription& client, const AudioStreamBasicDescription& file) {
    constexpr AudioFormatFlags meaningful = kAudioFormatFlagIsFloat | kAudioFormatFlagIsSignedInteger |
                                           kAudioFormatFlagIsBigEndian | kAudioFormatFlagIsNonInterleaved |
                                           kAudioFormatFlagIsAlignedHigh;
    auto flags = [&](const AudioStreamBasicDescription& d) {
        AudioFormatFlags f = d.mFormatFlags & meaningful;
        if (d.mBitsPerChannel <= 8) f &= ~kAudioFormatFlagIsBigEndian;  // one byte has no order
        return f;
    };
    return client.mFormatID == kAudioFormatLinearPCM && file.mFormatID == kAudioFormatLinearPCM &&
           client.mSampleRate == file.mSampleRate && client.mChannelsPerFrame == file.mChannelsPerFrame &&
           client.mBitsPerChannel == file.mBitsPerChannel && client.mBytesPerFrame == file.mBytesPerFrame &&
           flags(client) == flags(file) && !(client.mFormatFlags & kAudioFormatFlagIsNonInterleaved);
}

OSStatus statusOf(const NSErrorException& e) {
    const NSError& error = e.error();
    return error.domain == NSOSStatusErrorDomain && error.code != 0 ? OSStatus(error.code) : kAudioFileUnspecifiedError;
}

}  // namespace

// One open file and the conversion between its format and the caller's.
class ExtAudioFile {
public:
    bool forWriting = false;
    std::shared_ptr<AVAudioFile> source;              // reading
    std::unique_ptr<detail::AudioFileBackend> sink;   // writing
    AudioStreamBasicDescription fileFormat{};
    AudioStreamBasicDescription clientFormat{};
    bool hasClientFormat = false;
    AudioStreamBasicDescription processing{};         // Float32 per channel at the file's rate
    std::unique_ptr<detail::PCMConverter> converter;  // file <-> client
    std::shared_ptr<AVAudioPCMBuffer> chunk;          // processing-format frames in passing
    // Reading integer samples into integer ones at the file's rate: the file's own bytes go to the
    // converter, without floats in between.
    bool rawInput = false;
    std::vector<unsigned char> rawChunk;
    AudioBufferList rawList{};
    detail::BufferListView view;
    // Writing in the file's own byte layout: frames go to the file as they are.
    bool passThrough = false;
    bool sourceEnded = false;
    int64_t expectedLength = 0;  // frames the file said it holds when opened
    int64_t seekBase = 0;
    int64_t clientFramesSinceSeek = 0;

    double rate() const { return processing.mSampleRate; }

    OSStatus setClientFormat(const AudioStreamBasicDescription& client) {
        if (!usableClientFormat(client)) return kAudioFileUnsupportedDataFormatError;
        // Integer file samples to an integer client format go straight from the file's bytes;
        // everything else through the processing format.
        std::unique_ptr<detail::PCMConverter> next;
        bool raw = false;
        if (!forWriting && source->readsRaw()) {
            next = std::make_unique<detail::PCMConverter>(fileFormat, client, kRawChunkFrames);
            raw = next->isValid() && next->convertsInIntegers();
        }
        if (!raw) {
            next = forWriting ? std::make_unique<detail::PCMConverter>(client, processing, kChunkFrames)
                              : std::make_unique<detail::PCMConverter>(processing, client, kChunkFrames);
            if (!next->isValid()) return kAudioFileUnsupportedDataFormatError;
        }
        if (forWriting && converter) {
            // What the old format still holds belongs to the file before the new frames.
            if (OSStatus status = drainToSink(true); status != noErr) return status;
        }
        converter = std::move(next);
        rawInput = raw;
        if (rawInput) rawChunk.resize(size_t(kRawChunkFrames) * fileFormat.mBytesPerFrame);
        passThrough = forWriting && sameByteLayout(client, fileFormat);
        if (!forWriting) {
            // Frames read ahead for the old format are read again in the new one.
            const int64_t at = tellFileFrames();
            source->setFramePosition(at);
            seekBase = at;
            clientFramesSinceSeek = 0;
            sourceEnded = false;
        }
        clientFormat = client;
        hasClientFormat = true;
        return noErr;
    }

    int64_t tellFileFrames() const {
        if (forWriting) return sink ? sink->position() : 0;
        if (!hasClientFormat) return seekBase + clientFramesSinceSeek;
        return seekBase + int64_t(std::llround(double(clientFramesSinceSeek) * rate() / clientFormat.mSampleRate));
    }

    // Fills `list` from frame 0 with up to `frames` client frames; fewer only at the end.
    size_t readClientFrames(AudioBufferList& list, size_t frames) {
        const uint32_t bpf = bufferBytesPerFrame(clientFormat);
        auto input = [this](size_t want, const AudioBufferList*& data) -> size_t {
            if (sourceEnded) return 0;
            AVAudioFrameCount got;
            if (rawInput) {
                got = source->readRaw(rawChunk.data(), AVAudioFrameCount(std::min<size_t>(want, kRawChunkFrames)));
            } else {
                source->read(*chunk, AVAudioFrameCount(std::min<size_t>(want, chunk->frameCapacity())));
                got = chunk->frameLength();
            }
            if (got == 0) {
                sourceEnded = true;
                // The data ended before the length the file stated: frames are missing, not silent.
                if (source->framePosition() < expectedLength)
                    throw NSErrorException(makeOSStatusError(kAudioFileInvalidFileError, "The file ends before its stated length."));
                return 0;
            }
            if (rawInput) {
                rawList.mNumberBuffers = 1;
                rawList.mBuffers[0] = {fileFormat.mChannelsPerFrame, got * fileFormat.mBytesPerFrame, rawChunk.data()};
                data = &rawList;
            } else {
                data = chunk->audioBufferList();
            }
            return got;
        };
        size_t done = 0;
        while (done < frames) {
            view.point(list, bpf, done, frames - done);
            size_t n;
            if (!sourceEnded) {
                n = converter->convert(view.list(), frames - done, detail::PCMConverter::InputBlock(input));
                if (n == 0 && !sourceEnded) break;
            } else {
                n = converter->flush(view.list(), frames - done);
                if (n == 0) break;
            }
            done += n;
        }
        return done;
    }

    // Hands the converter's output to the file; at the end of the stream its tail too.
    OSStatus drainToSink(bool endOfStream) {
        const size_t capacity = chunk->frameCapacity();
        for (;;) {
            AudioBufferList* out = chunk->mutableAudioBufferList();
            const size_t n = endOfStream ? converter->flush(out, capacity) : converter->convert(nullptr, 0, out, capacity);
            if (n > 0) sink->write(chunk->floatChannelData(), uint32_t(n));
            if (n < capacity) break;
        }
        if (endOfStream) converter->reset();
        return noErr;
    }
};

OSStatus ExtAudioFileOpenURL(const URL& url, ExtAudioFileRef* outExtAudioFile) {
    if (!outExtAudioFile) return kAudio_ParamError;
    *outExtAudioFile = nullptr;
    std::shared_ptr<AVAudioFile> source;
    try {
        source = AVAudioFile::forReading(url);
    } catch (const NSErrorException& e) {
        return statusOf(e);
    }
    auto file = std::make_unique<ExtAudioFile>();
    file->source = source;
    file->fileFormat = source->fileFormat().streamDescription();
    file->processing = source->processingFormat().streamDescription();
    file->expectedLength = source->length();
    file->chunk = AVAudioPCMBuffer::make(source->processingFormat(), kChunkFrames);
    if (!file->chunk) return kAudioFileUnsupportedDataFormatError;
    // Linear PCM is handed out as stored until the caller asks for another format.
    if (file->fileFormat.mFormatID == kAudioFormatLinearPCM && usableClientFormat(file->fileFormat)) {
        if (OSStatus status = file->setClientFormat(file->fileFormat); status != noErr) return status;
    }
    *outExtAudioFile = file.release();
    return noErr;
}

OSStatus ExtAudioFileCreateWithURL(const URL& url, AudioFileTypeID fileType, const AudioStreamBasicDescription* streamDesc,
                                   const AudioChannelLayout*, uint32_t flags, ExtAudioFileRef* outExtAudioFile) {
    if (!outExtAudioFile) return kAudio_ParamError;
    *outExtAudioFile = nullptr;
    if (!streamDesc || url.isEmpty()) return kAudio_ParamError;
    const AudioStreamBasicDescription& wanted = *streamDesc;
    const auto pcm = pcmContainer(fileType, wanted);
    const auto encoded = pcm ? std::nullopt : encodedContainer(fileType, wanted);
    if (!pcm && !encoded) return kAudioFileUnsupportedDataFormatError;

    std::error_code ec;
    if (std::filesystem::exists(url.filePath(), ec)) {
        if (!(flags & kAudioFileFlags_EraseFile)) return kAudioFileDuplicateFileError;
        if (std::filesystem::is_directory(url.filePath(), ec)) return kAudioFilePermissionsError;
    }
    const auto folder = url.filePath().parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) return kAudioFileFileNotFoundError;

    auto file = std::make_unique<ExtAudioFile>();
    file->forWriting = true;
    try {
        if (pcm) {
            AudioStreamBasicDescription onDisk = wanted;
            onDisk.mFormatFlags &= ~kAudioFormatFlagIsNonInterleaved;
            file->sink = detail::createSndfileForWriting(url.path(), *pcm, onDisk);
        } else {
            file->sink = detail::createFFmpegEncoderForWriting(url.path(), *encoded, wanted, 0);
        }
    } catch (const NSErrorException& e) {
        return statusOf(e);
    }
    file->fileFormat = file->sink->fileDescription();
    file->processing = processingFormat(file->fileFormat.mSampleRate, file->fileFormat.mChannelsPerFrame);
    file->chunk = AVAudioPCMBuffer::make(AVAudioFormat(file->processing), kChunkFrames * 2);
    if (!file->chunk) return kAudioFileUnsupportedDataFormatError;
    // Linear PCM files take frames as stored until the caller sets another client format.
    if (file->fileFormat.mFormatID == kAudioFormatLinearPCM && usableClientFormat(file->fileFormat))
        file->setClientFormat(file->fileFormat);
    *outExtAudioFile = file.release();
    return noErr;
}

OSStatus ExtAudioFileDispose(ExtAudioFileRef file) {
    if (!file) return kAudio_ParamError;
    std::unique_ptr<ExtAudioFile> owned(file);
    OSStatus status = noErr;
    try {
        if (owned->sink) {
            if (owned->converter) owned->drainToSink(true);
            owned->sink->close();
        }
        if (owned->source) owned->source->close();
    } catch (const NSErrorException& e) {
        status = statusOf(e);
    }
    return status;
}

OSStatus ExtAudioFileRead(ExtAudioFileRef file, uint32_t* ioNumberFrames, AudioBufferList* ioData) {
    if (!ioNumberFrames) return kAudio_ParamError;
    const uint32_t asked = *ioNumberFrames;
    *ioNumberFrames = 0;
    if (!file) return kAudio_ParamError;
    if (file->forWriting) return kExtAudioFileError_InvalidOperationOrder;
    if (!file->converter) return kExtAudioFileError_NonPCMClientFormat;
    if (!matchesFormat(ioData, file->clientFormat)) return kAudio_ParamError;
    const uint32_t bpf = bufferBytesPerFrame(file->clientFormat);
    // Never more than the buffers hold, whatever the caller asks for.
    const size_t frames = std::min<size_t>(asked, framesTheListHolds(*ioData, bpf));
    size_t got = 0;
    try {
        got = file->readClientFrames(*ioData, frames);
    } catch (const NSErrorException& e) {
        return statusOf(e);
    }
    for (uint32_t b = 0; b < ioData->mNumberBuffers; ++b) ioData->mBuffers[b].mDataByteSize = uint32_t(got * bpf);
    file->clientFramesSinceSeek += int64_t(got);
    *ioNumberFrames = uint32_t(got);
    return noErr;
}

OSStatus ExtAudioFileWrite(ExtAudioFileRef file, uint32_t inNumberFrames, const AudioBufferList* ioData) {
    if (!file) return kAudio_ParamError;
    if (!file->forWriting) return kExtAudioFileError_InvalidOperationOrder;
    if (!file->converter) return kExtAudioFileError_NonPCMClientFormat;
    if (inNumberFrames == 0) return noErr;
    if (!matchesFormat(ioData, file->clientFormat)) return kAudio_ParamError;
    const uint32_t bpf = bufferBytesPerFrame(file->clientFormat);
    if (framesTheListHolds(*ioData, bpf) < inNumberFrames) return kAudio_ParamError;
    try {
        if (file->passThrough && ioData->mNumberBuffers == 1 &&
            file->sink->writeRaw(ioData->mBuffers[0].mData, inNumberFrames))
            return noErr;
        const size_t capacity = file->chunk->frameCapacity();
        for (size_t done = 0; done < inNumberFrames;) {
            const size_t n = std::min<size_t>(inNumberFrames - done, kChunkFrames);
            file->view.point(*ioData, bpf, done, n);
            const size_t out = file->converter->convert(file->view.list(), n, file->chunk->mutableAudioBufferList(), capacity);
            if (out > 0) file->sink->write(file->chunk->floatChannelData(), uint32_t(out));
            if (out == capacity) file->drainToSink(false);
            done += n;
        }
    } catch (const NSErrorException& e) {
        return statusOf(e);
    }
    return noErr;
}

OSStatus ExtAudioFileSeek(ExtAudioFileRef file, int64_t frameOffset) {
    if (!file) return kAudio_ParamError;
    if (file->forWriting) return kExtAudioFileError_InvalidSeek;
    if (frameOffset < 0 || frameOffset > file->source->length()) return kExtAudioFileError_InvalidSeek;
    file->source->setFramePosition(frameOffset);
    if (file->converter) file->converter->reset();
    file->sourceEnded = false;
    file->seekBase = frameOffset;
    file->clientFramesSinceSeek = 0;
    return noErr;
}

OSStatus ExtAudioFileTell(ExtAudioFileRef file, int64_t* outFrameOffset) {
    if (!file || !outFrameOffset) return kAudio_ParamError;
    *outFrameOffset = file->tellFileFrames();
    return noErr;
}

OSStatus ExtAudioFileGetPropertyInfo(ExtAudioFileRef file, ExtAudioFilePropertyID propertyID, uint32_t* outSize,
                                     bool* outWritable) {
    if (!file) return kAudio_ParamError;
    uint32_t size = 0;
    bool writable = false;
    switch (propertyID) {
    case kExtAudioFileProperty_FileDataFormat: size = sizeof(AudioStreamBasicDescription); break;
    case kExtAudioFileProperty_ClientDataFormat: size = sizeof(AudioStreamBasicDescription); writable = true; break;
    case kExtAudioFileProperty_FileLengthFrames: size = sizeof(int64_t); break;
    default: return kExtAudioFileError_InvalidProperty;
    }
    if (outSize) *outSize = size;
    if (outWritable) *outWritable = writable;
    return noErr;
}

OSStatus ExtAudioFileGetProperty(ExtAudioFileRef file, ExtAudioFilePropertyID propertyID, uint32_t* ioPropertyDataSize,
                                 void* outPropertyData) {
    if (!file || !ioPropertyDataSize || !outPropertyData) return kAudio_ParamError;
    auto give = [&](const void* value, uint32_t size) {
        if (*ioPropertyDataSize < size) return kExtAudioFileError_InvalidPropertySize;
        std::memcpy(outPropertyData, value, size);
        *ioPropertyDataSize = size;
        return noErr;
    };
    switch (propertyID) {
    case kExtAudioFileProperty_FileDataFormat: return give(&file->fileFormat, sizeof file->fileFormat);
    case kExtAudioFileProperty_ClientDataFormat: {
        const AudioStreamBasicDescription& client = file->hasClientFormat ? file->clientFormat : file->fileFormat;
        return give(&client, sizeof client);
    }
    case kExtAudioFileProperty_FileLengthFrames: {
        const int64_t length = file->forWriting ? file->sink->length() : file->source->length();
        return give(&length, sizeof length);
    }
    default: return kExtAudioFileError_InvalidProperty;
    }
}

OSStatus ExtAudioFileSetProperty(ExtAudioFileRef file, ExtAudioFilePropertyID propertyID, uint32_t propertyDataSize,
                                 const void* propertyData) {
    if (!file || !propertyData) return kAudio_ParamError;
    switch (propertyID) {
    case kExtAudioFileProperty_ClientDataFormat: {
        if (propertyDataSize != sizeof(AudioStreamBasicDescription)) return kExtAudioFileError_InvalidPropertySize;
        AudioStreamBasicDescription client;
        std::memcpy(&client, propertyData, sizeof client);
        try {
            return file->setClientFormat(client);
        } catch (const NSErrorException& e) {
            return statusOf(e);
        }
    }
    case kExtAudioFileProperty_FileDataFormat:
    case kExtAudioFileProperty_FileLengthFrames: return kExtAudioFileError_InvalidOperationOrder;
    default: return kExtAudioFileError_InvalidProperty;
    }
}

}  // namespace platform
