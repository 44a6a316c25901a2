// sonora-tool: checks the audio layer's file operations from the shell.
//
//   sonora-tool info FILE                    formats and exact length of a file
//   sonora-tool dump FILE OUT                processing-format samples as raw interleaved float32 LE
//   sonora-tool extract IN OUT START END     cut START..END seconds into a CAF file; prints its path
//   sonora-tool roundtrip-int16 IN OUT       read as float, write back as 16-bit PCM (container by OUT's extension)
//   sonora-tool mix / devices                the engine: an offline mix of clips, the audio devices
//   sonora-tool play                         real-time playback of clips through AudioPlayer
//   sonora-tool table / osc                  wavetable samples; a wavetable oscillator rendered to a file
//   sonora-tool smf FILE                     what the MIDI file reader sees in a Standard MIDI File
//   sonora-tool fx / callback                the kernel nodes: a file through a Fader or limiter, a callback instrument
//   sonora-tool tap / record / record-input  taps and recorders: a file through a tap, a node or input recorder
//   sonora-tool midi-endpoints               the MIDI backend, sources and destinations
//   sonora-tool midi-loop [--via virtual|source] [--receive packets|events] [--linger S]
//                                            MIDI in and out through the shared MIDI object
//   sonora-tool seq-roundtrip / seq-info / seq-play / midiplayer
//                                            the platform music sequence, its tempo track and its player
//   sonora-tool preset / sampler-render      a sampler preset written; a sampler rendered to a file
//   sonora-tool sequence SMF OUT --soundfont SF2 ...   a MIDI file played by the Sequencer into samplers
//
// Exit status: 0 on success, 1 on any error (one line on stderr), 2 on bad arguments.

#include "ToolSupport.h"

#include "Sonora/AudioFiles/AVAudioFileUtilities.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/OSLog.h"

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

using platform::AVAudioFile;
using platform::AVAudioFrameCount;
using platform::AVAudioPCMBuffer;

// Subcommands that live in files of their own; each takes argv with argv[0] = the command name.
int convertCommand(int argc, char** argv);
int playCommand(int argc, char** argv);
int waveformCommand(int argc, char** argv);
int mixCommand(int argc, char** argv);
int devicesCommand(int argc, char** argv);
int tableCommand(int argc, char** argv);
int oscCommand(int argc, char** argv);
int smfCommand(int argc, char** argv);
int fxCommand(int argc, char** argv);
int callbackCommand(int argc, char** argv);
int midiEndpointsCommand(int argc, char** argv);
int midiLoopCommand(int argc, char** argv);
int seqRoundtripCommand(int argc, char** argv);
int seqInfoCommand(int argc, char** argv);
int seqPlayCommand(int argc, char** argv);
int midiplayerCommand(int argc, char** argv);
int presetCommand(int argc, char** argv);
int samplerRenderCommand(int argc, char** argv);
int tapCommand(int argc, char** argv);
int recordCommand(int argc, char** argv);
int recordInputCommand(int argc, char** argv);
int sequenceCommand(int argc, char** argv);

namespace {

constexpr AVAudioFrameCount kChunkFrames = 65536;

int usage() {
    return tool::printUsage("usage: sonora-tool info FILE\n"
                            "       sonora-tool dump FILE OUT\n"
                            "       sonora-tool extract IN OUT START END\n"
                            "       sonora-tool roundtrip-int16 IN OUT\n"
                            "       sonora-tool convert IN OUT [--format F] [--rate R] [--channels C] [--bits B]\n"
                            "                           [--bitrate N] [--rule any|lessThanOrEqual]\n"
                            "       sonora-tool waveform FILE POINTS\n"
                            "       sonora-tool mix [--tree] OUT [--float|--bits 16|24|32] --clip FILE@START[:GAIN] ...\n"
                            "       sonora-tool devices\n"
                            "       sonora-tool play [--capture F] --seconds S (--clip FILE@START ... | --loop FILE)\n"
                            "       sonora-tool table TYPE COUNT [--phase P]\n"
                            "       sonora-tool osc TYPE FREQ AMP SECONDS OUT [--count N] [--phase P] [--realtime]\n"
                            "       sonora-tool smf FILE\n"
                            "       sonora-tool fx NODE IN OUT [--param NAME=VALUE]... [--automate NAME:POINT[,POINT]...]\n"
                            "                      [--resolution R] [--tail S] [--cycle N] [--realtime] [--stop] [--meters]\n"
                            "       sonora-tool callback [--notes K]\n"
                            "       sonora-tool tap amplitude|fft|raw IN [--buffer N] [--mode rms|peak] [--stereo left|right|center]\n"
                            "                      [--bins N] [--padding F] [--not-normalized] [--realtime]\n"
                            "       sonora-tool record IN OUT [--duration S] [--realtime]\n"
                            "       sonora-tool record-input --input FILE --channels C[,C...] --dir DIR [--latency N] [--realtime]\n"
                            "       sonora-tool midi-endpoints\n"
                            "       sonora-tool midi-loop [--via virtual|source] [--receive packets|events] [--linger S]\n"
                            "       sonora-tool seq-roundtrip IN OUT\n"
                            "       sonora-tool seq-info SMF [--set-tempo BPM] [--dump]\n"
                            "       sonora-tool seq-play SMF --seconds S --trace FILE\n"
                            "       sonora-tool midiplayer SMF OUT --soundfont SF2 [--seconds S] [--trace FILE]\n"
                            "       sonora-tool preset OUT --name NAME [--attack A --release R] [--sample ROOT:START:END:MODE:FILE ...]\n"
                            "       sonora-tool sampler-render OUT --seconds S (--soundfont SF2 [--program P] [--bank B] |\n"
                            "                      --preset FILE | --audio FILE ...) --note N[:VEL] ... [--via-midi]\n"
                            "       sonora-tool sequence SMF OUT --soundfont SF2 [--program P] [--seconds S] [--trace FILE] [--realtime]\n");
}

std::shared_ptr<AVAudioPCMBuffer> chunkBuffer(const AVAudioFile& file) {
    auto buffer = AVAudioPCMBuffer::make(file.processingFormat(), kChunkFrames);
    if (!buffer) throw std::runtime_error("cannot create a buffer for " + file.processingFormat().description());
    return buffer;
}

int info(const std::string& path) {
    const auto file = AVAudioFile::forReading(path);
    std::cout << "file format: " << file->fileFormat().description() << "\n"
              << "processing format: " << file->processingFormat().description() << "\n"
              << "sample rate: " << file->processingFormat().sampleRate() << "\n"
              << "channels: " << file->processingFormat().channelCount() << "\n"
              << "length: " << file->length() << "\n";
    return 0;
}

int dump(const std::string& path, const std::string& outPath) {
    const auto file = AVAudioFile::forReading(path);
    const auto buffer = chunkBuffer(*file);
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot create " + outPath + ": " + std::strerror(errno));

    const unsigned channels = file->processingFormat().channelCount();
    std::vector<float> interleaved;
    for (;;) {
        file->read(*buffer);
        const AVAudioFrameCount frames = buffer->frameLength();
        if (frames == 0) break;
        float* const* data = buffer->floatChannelData();
        interleaved.resize(size_t(frames) * channels);
        for (AVAudioFrameCount i = 0; i < frames; ++i)
            for (unsigned c = 0; c < channels; ++c) interleaved[size_t(i) * channels + c] = data[c][i];
        if constexpr (std::endian::native == std::endian::big) {
            for (float& sample : interleaved) {
                uint32_t bits;
                std::memcpy(&bits, &sample, 4);
                bits = __builtin_bswap32(bits);
                std::memcpy(&sample, &bits, 4);
            }
        }
        out.write(reinterpret_cast<const char*>(interleaved.data()), std::streamsize(interleaved.size() * sizeof(float)));
        if (!out) throw std::runtime_error("cannot write " + outPath);
    }
    out.close();
    if (!out) throw std::runtime_error("cannot write " + outPath);
    return 0;
}

// The text of the first error the audio layer logged since the sink was cleared: the reason an
// operation gave nothing. A log line reads "<where>:<text> (<where>)".
std::string firstLoggedError() {
    for (const auto& entry : platform::LogSink::entries()) {
        if (entry.type != platform::OSLogType::error) continue;
        const std::string& m = entry.message;
        for (auto open = m.rfind(" ("); open != std::string::npos && open > 0; open = m.rfind(" (", open - 1)) {
            const std::string where = m.substr(open + 2, m.size() - open - 3);
            if (m.size() > where.size() + 1 && m.compare(0, where.size() + 1, where + ":") == 0 && open >= where.size() + 1)
                return m.substr(where.size() + 1, open - where.size() - 1);
        }
        return m;
    }
    return "unknown error";
}

int extract(const std::string& inPath, const std::string& outPath, const std::string& startText,
            const std::string& endText, double start, double end) {
    const auto file = AVAudioFile::forReading(inPath);
    platform::LogSink::clear();
    auto written = sonora::extract(*file, outPath, start, end);
    if (!written)
        throw std::runtime_error("cannot extract " + startText + " s to " + endText + " s of " + inPath + " into " +
                                 outPath + ": " + firstLoggedError());
    const std::string writtenPath = written->url().path();
    written->close();
    std::cout << writtenPath << "\n";
    return 0;
}

int roundtripInt16(const std::string& inPath, const std::string& outPath) {
    const auto input = AVAudioFile::forReading(inPath);
    const auto& format = input->processingFormat();
    const platform::AVAudioSettings settings{
        {platform::AVFormatIDKey, double(platform::kAudioFormatLinearPCM)},
        {platform::AVSampleRateKey, format.sampleRate()},
        {platform::AVNumberOfChannelsKey, double(format.channelCount())},
        {platform::AVLinearPCMBitDepthKey, 16},
        {platform::AVLinearPCMIsFloatKey, 0},
    };
    const auto output = AVAudioFile::forWriting(outPath, settings);
    const auto buffer = chunkBuffer(*input);
    for (;;) {
        input->read(*buffer);
        if (buffer->frameLength() == 0) break;
        output->write(*buffer);
    }
    output->close();
    return 0;
}

int runExternal(int (*command)(int, char**), const std::vector<std::string>& args) {
    std::vector<std::string> copy = args;
    std::vector<char*> argv;
    for (std::string& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return command(static_cast<int>(copy.size()), argv.data());
}

int runCommand(const std::vector<std::string>& args) {
    const std::string& command = args[0];
    if (command == "convert") return runExternal(convertCommand, args);
    if (command == "play") return runExternal(playCommand, args);
    if (command == "waveform") return runExternal(waveformCommand, args);
    if (command == "mix") return runExternal(mixCommand, args);
    if (command == "devices") return runExternal(devicesCommand, args);
    if (command == "table") return runExternal(tableCommand, args);
    if (command == "osc") return runExternal(oscCommand, args);
    if (command == "smf") return runExternal(smfCommand, args);
    if (command == "fx") return runExternal(fxCommand, args);
    if (command == "tap") return runExternal(tapCommand, args);
    if (command == "record") return runExternal(recordCommand, args);
    if (command == "record-input") return runExternal(recordInputCommand, args);
    if (command == "callback") return runExternal(callbackCommand, args);
    if (command == "midi-endpoints") return runExternal(midiEndpointsCommand, args);
    if (command == "midi-loop") return runExternal(midiLoopCommand, args);
    if (command == "seq-roundtrip") return runExternal(seqRoundtripCommand, args);
    if (command == "seq-info") return runExternal(seqInfoCommand, args);
    if (command == "seq-play") return runExternal(seqPlayCommand, args);
    if (command == "midiplayer") return runExternal(midiplayerCommand, args);
    if (command == "preset") return runExternal(presetCommand, args);
    if (command == "sampler-render") return runExternal(samplerRenderCommand, args);
    if (command == "sequence") return runExternal(sequenceCommand, args);
    if (command == "info" && args.size() == 2) return info(args[1]);
    if (command == "dump" && args.size() == 3) return dump(args[1], args[2]);
    if (command == "roundtrip-int16" && args.size() == 3) return roundtripInt16(args[1], args[2]);
    if (command == "extract" && args.size() == 5) {
        const auto start = tool::parseNumber(args[3]);
        const auto end = tool::parseNumber(args[4]);
        if (!start || !end) {
            tool::printError("START and END must be numbers of seconds");
            return usage();
        }
        return extract(args[1], args[2], args[3], args[4], *start, *end);
    }
    return usage();
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("TAMBERLO_LOG_STDERR")) platform::LogSink::setEchoToStderr(false);
    if (argc < 2) return usage();
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        return runCommand(args);
    } catch (const platform::NSErrorException& e) {
        tool::printError(e.error());
    } catch (const std::exception& e) {
        tool::printError(e.what());
    }
    return 1;
}
