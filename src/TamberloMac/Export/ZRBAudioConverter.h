// Converts one audio file into another file type and data format through the extended audio file
// services, with a path of its own that encodes MP3 with LAME. Configure once, call convert once
// (it blocks); one converter must not be used by two threads at once.
//
//   ZRBAudioConverter converter;
//   converter.inputFile = "/tmp/mix.caf";
//   converter.outputFile = "/tmp/mix.mp3";
//   converter.outputFileType = platform::kAudioFileMP3Type;   // 'MPG3'
//   converter.outputFormatID = platform::kAudioFormatMPEGLayer3;  // '.mp3'
//   bool written = converter.convert();
#pragma once

#include "platform/audiotoolbox/ExtendedAudioFile.h"
#include "platform/coreaudio/CoreAudioTypes.h"

#include <cstdint>
#include <string>

namespace tamberlo {

// The working state of one conversion.
struct ZRBConversionContext {
    platform::AudioStreamBasicDescription clientFormat{};
    platform::AudioStreamBasicDescription outputFormat{};
    void* packetDescriptions = nullptr;  // always none
    platform::ExtAudioFileRef inputFile = nullptr;
    platform::ExtAudioFileRef outputFile = nullptr;  // none on the MP3 path
    std::string inputPath;
    std::string outputPath;
};

class ZRBAudioConverter {
public:
    // Path of the source file (required).
    std::string inputFile;
    // Path of the file to create (required); an existing file is replaced.
    std::string outputFile;
    // 0 means the default: 44100 Hz, 2 channels, 16 bits, 'lpcm', 'caff'.
    int32_t outputSampleRate = 0;
    int32_t outputNumberChannels = 0;
    int32_t outputBitDepth = 0;
    uint32_t outputFormatID = 0;
    uint32_t outputFileType = 0;

    // Runs the whole conversion. True only when the output was written completely: false for a
    // missing path, a refused type/format pair, or when opening, creating, reading, writing or
    // encoding fails (status errors are written to stderr).
    bool convert();

    // Fills the defaults of the numbers that are 0 and checks the type/format pair; false (logged)
    // for a pair the file type cannot hold. The context is not read.
    bool validateInput(ZRBConversionContext* context);

    // A multi-line dump of a stream description, ending with its flag names.
    static std::string descriptionForAudioFormat(const platform::AudioStreamBasicDescription& format);
    // One line ("<name> \n") per flag constant whose bits are set in `flags`.
    static std::string descriptionForStandardFlags(uint32_t flags);

private:
    bool convertFile(ZRBConversionContext& context);
    bool convertMP3(ZRBConversionContext& context);
};

}  // namespace tamberlo
