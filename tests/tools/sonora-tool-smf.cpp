// sonora-tool smf FILE: what the MIDI file reader sees in a Standard MIDI File, one line per item.
//
//   header FORMAT TRACKS DIVISION                       (0 0 0 without a header)
//   tempo BPM|none                                      (the tempo track's tempo, 4 decimals)
//   chunk I length BEATS channel N meta N name NAME|-   (each track chunk; 6 decimals)
//   I TICK BEATS|- HEX …                                (each event of chunk I: absolute tick,
//                                                        position in beats, message bytes)
//
// Names print their bytes with backslash and control characters as \ooo octal. Any bytes print;
// the exit status is 1 (one line on stderr) only for a path that cannot be read.

#include "ToolSupport.h"

#include "Sonora/MIDI/MIDIFile/MIDIFile.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            char code[8];
            std::snprintf(code, sizeof code, "\\%03o", c);
            out += code;
        } else {
            out += char(c);
        }
    }
    return out;
}

void print(const sonora::MIDIFile& file) {
    std::string out;
    char line[128];
    const bool hasHeader = file.headerChunk().has_value();
    std::snprintf(line, sizeof line, "header %d %d %d\n", hasHeader ? file.format() : 0,
                  hasHeader ? file.numberOfTracks() : 0, hasHeader ? file.timeDivision() : 0);
    out += line;
    if (const auto tempo = file.tempoTrack()) {
        std::snprintf(line, sizeof line, "tempo %.4f\n", double(tempo->tempo()));
        out += line;
    } else {
        out += "tempo none\n";
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto chunks = file.trackChunks();
    for (size_t i = 0; i < chunks.size(); ++i) {
        const sonora::MIDIFileTrack track(chunks[i]);
        const auto name = track.name();
        std::snprintf(line, sizeof line, "chunk %zu length %.6f channel %zu meta %zu name ", i, track.length(),
                      track.channelEvents().size(), track.metaEvents().size());
        out += line;
        out += name ? escaped(*name) : "-";
        out += '\n';
        // The events make nearly all of the output: numbers go in with std::to_chars, which gives
        // the digits printf's %zu, %lld and %.9f give, without parsing a format each time.
        char index[24];
        const size_t indexLength = size_t(std::to_chars(index, index + sizeof index, i).ptr - index);
        for (const auto& event : chunks[i].parsedEvents()) {
            char* end = line;
            std::memcpy(end, index, indexLength);
            end += indexLength;
            *end++ = ' ';
            end = std::to_chars(end, line + sizeof line, static_cast<long long>(event.tick())).ptr;
            *end++ = ' ';
            if (const auto beats = chunks[i].positionInBeats(event))
                end = std::to_chars(end, line + sizeof line, *beats, std::chars_format::fixed, 9).ptr;
            else
                *end++ = '-';
            out.append(line, end);
            const auto emit = [&](uint8_t b) {
                out += ' ';
                out += kHex[b >> 4];
                out += kHex[b & 0x0F];
            };
            if (event.runningStatus) emit(event.runningStatus->byte);
            for (uint8_t b : event.storedMessage()) emit(b);
            out += '\n';
            if (out.size() > (1 << 20)) {
                std::fwrite(out.data(), 1, out.size(), stdout);
                out.clear();
            }
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

}  // namespace

int smfCommand(int argc, char** argv) {
    if (argc != 2) return tool::printUsage("usage: sonora-tool smf FILE\n");
    const std::filesystem::path path = argv[1];
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        tool::printError("cannot read " + path.string() + ": it is a folder");
        return 1;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        tool::printError("cannot read " + path.string() + ": " + std::strerror(errno));
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        tool::printError("cannot read " + path.string());
        return 1;
    }
    print(sonora::MIDIFile(std::move(bytes), path.filename().string()));
    return 0;
}
