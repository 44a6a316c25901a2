#include "TamberloMac/Export/ZRBAudioConverter.h"

#include "platform/audiotoolbox/AudioFile.h"
#include "platform/audiotoolbox/AudioFormat.h"
#include "platform/foundation/OSLog.h"

#include <lame/lame.h>

#include <cctype>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <vector>

namespace tamberlo {

using namespace platform;

namespace {

const OSLog& converterLog() {
    static const OSLog log{"io.tamberlo.editor", "ZRBAudioConverter"};
    return log;
}

// Writes a failed status to stderr; true when the status is 0.
bool checkStatus(OSStatus status, const char* operation) {
    if (status == 0) return true;
    const auto code = uint32_t(status);
    const char bytes[4] = {char(code >> 24), char(code >> 16), char(code >> 8), char(code)};
    bool printable = true;
    for (char c : bytes) printable = printable && std::isprint(static_cast<unsigned char>(c));
    char text[16];
    if (printable) {
        std::snprintf(text, sizeof text, "'%c%c%c%c'", bytes[0], bytes[1], bytes[2], bytes[3]);
    } else {
        std::snprintf(text, sizeof text, "%d", int(status));
    }
    std::fprintf(stderr, "Error: %s (%s)\n", operation, text);
    return false;
}

// Disposes of the conversion's files on every way out.
struct ContextFiles {
    ZRBConversionContext& context;
    ~ContextFiles() {
        if (context.inputFile) ExtAudioFileDispose(context.inputFile);
        if (context.outputFile) ExtAudioFileDispose(context.outputFile);
        context.inputFile = nullptr;
        context.outputFile = nullptr;
    }
};

// A buffer list of one interleaved buffer over `storage`.
AudioBufferList oneBuffer(std::vector<uint8_t>& storage, uint32_t channels) {
    AudioBufferList list;
    list.mNumberBuffers = 1;
    list.mBuffers[0].mNumberChannels = channels;
    list.mBuffers[0].mDataByteSize = uint32_t(storage.size());
    list.mBuffers[0].mData = storage.data();
    return list;
}

constexpr uint32_t kFileBufferBytes = 32768;
constexpr uint32_t kFileFramesAsked = 16384;
constexpr uint32_t kMP3BlockFrames = 8192;
// LAME's documented worst case for a block: 1.25 × frames + 7200 bytes.
constexpr size_t kMP3OutputBytes = kMP3BlockFrames * 5 / 4 + 7200;
// lame_encode_flush may write up to 7200 bytes.
constexpr size_t kMP3FlushBytes = 7200;

}  // namespace

bool ZRBAudioConverter::validateInput(ZRBConversionContext*) {
    if (outputSampleRate == 0) outputSampleRate = 44100;
    if (outputNumberChannels == 0) outputNumberChannels = 2;
    if (outputBitDepth == 0) outputBitDepth = 16;
    if (outputFormatID == 0) outputFormatID = kAudioFormatLinearPCM;
    if (outputFileType == 0) outputFileType = kAudioFileCAFType;

    static const std::map<uint32_t, std::set<uint32_t>> pairs{
        {FourCC("AIFC"), {FourCC("lpcm"), FourCC("ulaw"), FourCC("alaw"), FourCC("ima4"), FourCC("QDM2"), FourCC("Qclp")}},
        {FourCC("AIFF"), {FourCC("lpcm")}},
        {FourCC("Sd2f"), {FourCC("lpcm")}},
        {FourCC("MPG3"), {FourCC(".mp3")}},
        {FourCC("NeXT"), {FourCC("lpcm"), FourCC("ulaw")}},
        {FourCC("WAVE"), {FourCC("lpcm"), FourCC("alaw"), FourCC("ulaw")}},
        {FourCC("ac-3"), {}},
        {FourCC("adts"), {FourCC("aac ")}},
        {FourCC("mp4f"), {FourCC("aac ")}},
        {FourCC("m4af"), {FourCC("aac "), FourCC("alac")}},
    };
    const auto listed = pairs.find(outputFileType);
    if (listed != pairs.end() && !listed->second.count(outputFormatID)) {
        os_log(converterLog(), OSLogType::error, "the file format and data format pair is not valid");
        return false;
    }
    return true;
}

bool ZRBAudioConverter::convert() {
    if (inputFile.empty()) {
        os_log(converterLog(), OSLogType::error, "Source file is not set");
        return false;
    }
    if (outputFile.empty()) {
        os_log(converterLog(), OSLogType::error, "Output file is no set");
        return false;
    }

    ZRBConversionContext context;
    context.inputPath = inputFile;
    context.outputPath = outputFile;
    ContextFiles files{context};

    if (!checkStatus(ExtAudioFileOpenURL(URL(inputFile), &context.inputFile), "ExtAudioFileOpenURL failed")) return false;
    if (!validateInput(&context)) return false;
    if (outputSampleRate <= 0 || outputNumberChannels <= 0 || outputBitDepth <= 0) {
        os_log(converterLog(), OSLogType::error, "the output sample rate, channel count and bit depth must be positive");
        return false;
    }

    AudioStreamBasicDescription& output = context.outputFormat;
    output.mSampleRate = outputSampleRate;
    output.mFormatID = outputFormatID;
    output.mChannelsPerFrame = uint32_t(outputNumberChannels);
    output.mBitsPerChannel = outputFormatID == kAudioFormatMPEG4AAC ? 0 : uint32_t(outputBitDepth);
    if (outputFormatID == kAudioFormatLinearPCM) {
        output.mBytesPerFrame = output.mBytesPerPacket = output.mBitsPerChannel * output.mChannelsPerFrame / 8;
        output.mFramesPerPacket = 1;
        output.mFormatFlags = kLinearPCMFormatFlagIsSignedInteger | kLinearPCMFormatFlagIsPacked;
        if (outputFileType == kAudioFileAIFFType || outputFileType == FourCC("Sd2f") ||
            outputFileType == kAudioFileAIFCType || outputFileType == kAudioFileNextType)
            output.mFormatFlags |= kLinearPCMFormatFlagIsBigEndian;
    } else {
        uint32_t size = sizeof output;
        checkStatus(AudioFormatGetProperty(kAudioFormatProperty_FormatInfo, 0, nullptr, &size, &output),
                    "AudioFormatGetProperty kAudioFormatProperty_FormatInfo failed");
    }
    os_log(converterLog(), OSLogType::default_, "output format:" + descriptionForAudioFormat(output));

    const bool mp3 = outputFormatID == kAudioFormatMPEGLayer3;
    if (!mp3) {
        if (!checkStatus(ExtAudioFileCreateWithURL(URL(outputFile), outputFileType, &output, nullptr,
                                                   kAudioFileFlags_EraseFile, &context.outputFile),
                         "Create output file failed, the output file type and output format pair may not match"))
            return false;
    }

    AudioStreamBasicDescription& client = context.clientFormat;
    if (outputFormatID == kAudioFormatLinearPCM) {
        client = output;
    } else {
        client.mSampleRate = output.mSampleRate;
        client.mFormatID = kAudioFormatLinearPCM;
        client.mFormatFlags = kLinearPCMFormatFlagIsSignedInteger | kLinearPCMFormatFlagIsPacked;
        client.mChannelsPerFrame = output.mChannelsPerFrame;
        client.mBitsPerChannel = 16;
        client.mBytesPerFrame = client.mBytesPerPacket = 2 * output.mChannelsPerFrame;
        client.mFramesPerPacket = 1;
    }
    os_log(converterLog(), OSLogType::default_, "Client data format:" + descriptionForAudioFormat(client));

    if (!checkStatus(ExtAudioFileSetProperty(context.inputFile, kExtAudioFileProperty_ClientDataFormat, sizeof client, &client),
                     "Setting client data format of input file failed"))
        return false;
    if (!mp3 &&
        !checkStatus(ExtAudioFileSetProperty(context.outputFile, kExtAudioFileProperty_ClientDataFormat, sizeof client, &client),
                     "Setting client data format of output file failed"))
        return false;

    std::cout << "Start converting..." << std::endl;
    const bool converted = mp3 ? convertMP3(context) : convertFile(context);
    if (!converted) return false;

    // Closing a new file flushes its encoder and writes its trailer: that can fail too.
    if (context.outputFile) {
        const OSStatus status = ExtAudioFileDispose(context.outputFile);
        context.outputFile = nullptr;
        if (!checkStatus(status, "ExtAudioFileDispose failed")) return false;
    }
    return true;
}

bool ZRBAudioConverter::convertFile(ZRBConversionContext& context) {
    std::vector<uint8_t> storage(kFileBufferBytes);
    const uint32_t channels = context.clientFormat.mChannelsPerFrame;
    while (true) {
        AudioBufferList list = oneBuffer(storage, channels);
        uint32_t frames = kFileFramesAsked;
        if (!checkStatus(ExtAudioFileRead(context.inputFile, &frames, &list), "ExtAudioFileRead failed")) return false;
        if (frames == 0) break;
        if (!checkStatus(ExtAudioFileWrite(context.outputFile, frames, &list), "ExtAudioFileWrite failed")) return false;
    }
    std::cout << "Done reading from input file" << std::endl;
    return true;
}

bool ZRBAudioConverter::convertMP3(ZRBConversionContext& context) {
    const AudioStreamBasicDescription& client = context.clientFormat;
    const int channels = int(client.mChannelsPerFrame);

    std::unique_ptr<lame_global_flags, decltype(&lame_close)> lame(lame_init(), &lame_close);
    if (!lame) {
        os_log(converterLog(), OSLogType::error, "lame_init failed");
        return false;
    }
    // A setter that refuses its value (LAME takes one or two channels) would leave the encoder
    // reading the samples with another layout.
    if (lame_set_in_samplerate(lame.get(), int(client.mSampleRate)) < 0 || lame_set_num_channels(lame.get(), channels) < 0 ||
        lame_set_VBR(lame.get(), vbr_default) < 0) {
        os_log(converterLog(), OSLogType::error, "LAME refuses the input format");
        return false;
    }
    if (lame_init_params(lame.get()) < 0) {
        os_log(converterLog(), OSLogType::error, "lame_init_params failed");
        return false;
    }

    // Update mode: lame_mp3_tags_fid rewrites the first frame once the stream is complete.
    std::unique_ptr<FILE, decltype(&std::fclose)> mp3(std::fopen(context.outputPath.c_str(), "wb+"), &std::fclose);
    if (!mp3) {
        os_log(converterLog(), OSLogType::error, "Cannot open the MP3 output file " + context.outputPath);
        return false;
    }

    std::vector<uint8_t> pcm(size_t(kMP3BlockFrames) * client.mBytesPerFrame);
    std::vector<unsigned char> encoded(kMP3OutputBytes);
    auto append = [&](int bytes) {
        if (bytes < 0) {
            os_log(converterLog(), OSLogType::error, "LAME encoding failed: " + std::to_string(bytes));
            return false;
        }
        if (bytes > 0 && std::fwrite(encoded.data(), 1, size_t(bytes), mp3.get()) != size_t(bytes)) {
            os_log(converterLog(), OSLogType::error, "Cannot write the MP3 output file " + context.outputPath);
            return false;
        }
        return true;
    };

    while (true) {
        AudioBufferList list = oneBuffer(pcm, client.mChannelsPerFrame);
        uint32_t frames = kMP3BlockFrames;
        if (!checkStatus(ExtAudioFileRead(context.inputFile, &frames, &list), "ExtAudioFileRead failed")) return false;
        if (frames == 0) break;
        auto* samples = reinterpret_cast<short*>(pcm.data());
        // The interleaved call reads two channels per frame; a mono stream goes through the
        // per-channel call (LAME ignores the right channel of a mono stream).
        const int bytes = channels == 1
                              ? lame_encode_buffer(lame.get(), samples, samples, int(frames), encoded.data(), int(encoded.size()))
                              : lame_encode_buffer_interleaved(lame.get(), samples, int(frames), encoded.data(),
                                                               int(encoded.size()));
        if (!append(bytes)) return false;
    }
    static_assert(kMP3OutputBytes >= kMP3FlushBytes);
    if (!append(lame_encode_flush(lame.get(), encoded.data(), int(encoded.size())))) return false;
    if (std::fflush(mp3.get()) != 0) return false;
    lame_mp3_tags_fid(lame.get(), mp3.get());
    lame.reset();
    FILE* file = mp3.release();
    if (std::fclose(file) != 0) {
        os_log(converterLog(), OSLogType::error, "Cannot close the MP3 output file " + context.outputPath);
        return false;
    }
    return true;
}

std::string ZRBAudioConverter::descriptionForAudioFormat(const AudioStreamBasicDescription& format) {
    const uint32_t id = format.mFormatID;
    const char code[5] = {char(id >> 24), char(id >> 16), char(id >> 8), char(id), 0};
    std::string text = "\n";
    char line[128];
    std::snprintf(line, sizeof line, "Sample Rate:         %10.0f \n", format.mSampleRate);
    text += line;
    std::snprintf(line, sizeof line, "Format ID:           %10s \n", code);
    text += line;
    std::snprintf(line, sizeof line, "Format Flags:        %10d \n", int(format.mFormatFlags));
    text += line;
    std::snprintf(line, sizeof line, "Bytes per Packet:    %10d \n", int(format.mBytesPerPacket));
    text += line;
    std::snprintf(line, sizeof line, "Frames per Packet:   %10d \n", int(format.mFramesPerPacket));
    text += line;
    std::snprintf(line, sizeof line, "Bytes per Frame:     %10d \n", int(format.mBytesPerFrame));
    text += line;
    std::snprintf(line, sizeof line, "Channels per Frame:  %10d \n", int(format.mChannelsPerFrame));
    text += line;
    std::snprintf(line, sizeof line, "Bits per Channel:    %10d \n", int(format.mBitsPerChannel));
    text += line;
    return text + descriptionForStandardFlags(format.mFormatFlags);
}

std::string ZRBAudioConverter::descriptionForStandardFlags(uint32_t flags) {
    static const std::vector<std::pair<const char*, uint32_t>> names{
        {"kAudioFormatFlagIsFloat", 1},
        {"kAudioFormatFlagIsBigEndian", 2},
        {"kAudioFormatFlagIsSignedInteger", 4},
        {"kAudioFormatFlagIsPacked", 8},
        {"kAudioFormatFlagIsAlignedHigh", 16},
        {"kAudioFormatFlagIsNonInterleaved", 32},
        {"kAudioFormatFlagIsNonMixable", 64},
        {"kAudioFormatFlagsAreAllClear", 0x80000000u},
        {"kLinearPCMFormatFlagIsFloat", 1},
        {"kLinearPCMFormatFlagIsBigEndian", 2},
        {"kLinearPCMFormatFlagIsSignedInteger", 4},
        {"kLinearPCMFormatFlagIsPacked", 8},
        {"kLinearPCMFormatFlagIsAlignedHigh", 16},
        {"kLinearPCMFormatFlagIsNonInterleaved", 32},
        {"kLinearPCMFormatFlagIsNonMixable", 64},
        {"kLinearPCMFormatFlagsSampleFractionShift", 7},
        {"kLinearPCMFormatFlagsSampleFractionMask", 0x1F80},
        {"kLinearPCMFormatFlagsAreAllClear", 0x80000000u},
        {"kAppleLosslessFormatFlag_16BitSourceData", 1},
        {"kAppleLosslessFormatFlag_20BitSourceData", 2},
        {"kAppleLosslessFormatFlag_24BitSourceData", 3},
        {"kAppleLosslessFormatFlag_32BitSourceData", 4},
    };
    std::string text;
    for (const auto& [name, value] : names)
        if (flags & value) text += std::string(name) + " \n";
    return text;
}

}  // namespace tamberlo
