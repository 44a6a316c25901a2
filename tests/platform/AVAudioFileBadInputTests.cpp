// Damaged, truncated and foreign files: a clear error or the frames that are really there, never a
// crash, a hang or a length that reads cannot deliver.
#include "platform/avfaudio/AVAudioFile.h"

#include "main/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/stat.h>

using namespace platform;
using testsupport::haveTool;
using testsupport::q;
using testsupport::readFile;
using testsupport::run;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

// The first `bytes` bytes of a file.
void cut(const std::filesystem::path& from, const std::filesystem::path& to, size_t bytes) {
    writeFile(to, readFile(from).substr(0, bytes));
}

size_t sizeOf(const std::filesystem::path& path) { return readFile(path).size(); }

struct BadInput {
    std::string name;
    std::string file;
    std::function<void(const ScratchDir&, const std::filesystem::path&)> make;  // nullptr: nothing made
    OSStatus error;                  // 0: the file opens
    AVAudioFramePosition length;     // when it opens; -1: whatever reads really deliver
    std::vector<std::string> tools;  // needed to make the fixture
};

// 1 s of 16-bit stereo at 44.1 kHz: 176400 bytes of data after a 44-byte header.
void soxWav(const std::filesystem::path& path) {
    ASSERT_EQ(run("sox -n -r 44100 -c 2 -b 16 " + q(path) + " synth 1 sine 440 vol 0.5"), 0);
}

void encoded(const ScratchDir& dir, const std::filesystem::path& path, const std::string& args) {
    soxWav(dir / "src.wav");
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -i " + q(dir / "src.wav") + " " + args + " " + q(path)), 0);
}

const std::vector<BadInput>& badInputs() {
    static const std::vector<BadInput> cases = {
        {"missing file", "missing.wav", nullptr, kAudioFileFileNotFoundError, 0, {}},
        {"directory", "folder.wav", [](auto&, auto& p) { std::filesystem::create_directory(p); },
         kAudioFileUnsupportedFileTypeError, 0, {}},
        {"named pipe", "pipe.wav", [](auto&, auto& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
         kAudioFileUnsupportedFileTypeError, 0, {}},
        {"empty file", "empty.wav", [](auto&, auto& p) { writeFile(p, ""); }, kAudioFileInvalidFileError, 0, {}},
        {"text named .wav", "notes.wav",
         [](auto&, auto& p) { writeFile(p, "These are my notes for the session.\nTake 3 was the best.\n"); },
         kAudioFileUnsupportedFileTypeError, 0, {}},
        {"text named .mp3", "notes.mp3", [](auto&, auto& p) { writeFile(p, std::string(5000, 'a') + "\n"); },
         kAudioFileUnsupportedFileTypeError, 0, {}},
        {"binary noise", "noise.m4a",
         [](auto&, auto& p) {
             std::string bytes(20000, '\0');
             uint32_t x = 12345;
             for (char& b : bytes) b = char((x = x * 1103515245u + 12345u) >> 24);
             writeFile(p, bytes);
         },
         kAudioFileUnsupportedFileTypeError, 0, {}},
        {"WAV cut mid-header", "header.wav", [](auto& d, auto& p) { soxWav(d / "a.wav"); cut(d / "a.wav", p, 30); },
         kAudioFileInvalidFileError, 0, {"sox"}},
        {"RIFF WAVE with junk chunks", "junk.wav",
         [](auto&, auto& p) { writeFile(p, std::string("RIFF\x40\0\0\0WAVEjunk\x04\0\0\0abcdxxxx", 24) + std::string(40, 'z')); },
         kAudioFileInvalidFileError, 0, {}},
        {"WAV cut mid-data", "short.wav",
         [](auto& d, auto& p) { soxWav(d / "a.wav"); cut(d / "a.wav", p, 44 + 4 * 10000 + 3); }, 0, 10000, {"sox"}},
        {"WAV claiming more frames than it holds", "claims.wav",
         [](auto& d, auto& p) {
             soxWav(d / "a.wav");
             std::string bytes = readFile(d / "a.wav");
             const size_t data = bytes.find("data");
             const uint32_t claimed = 176400 * 3;
             std::memcpy(&bytes[data + 4], &claimed, 4);
             writeFile(p, bytes);
         },
         0, 44100, {"sox"}},
        {"AIFF cut mid-data", "short.aiff",
         [](auto& d, auto& p) {
             ASSERT_EQ(run("sox -n -r 44100 -c 1 -b 24 " + q(d / "a.aiff") + " synth 1 sine 440"), 0);
             cut(d / "a.aiff", p, sizeOf(d / "a.aiff") / 2);
         },
         0, -1, {"sox"}},
        {"FLAC cut in half", "half.flac",
         [](auto& d, auto& p) { encoded(d, d / "a.flac", "-c:a flac"); cut(d / "a.flac", p, sizeOf(d / "a.flac") / 2); },
         0, -1, {"sox", "ffmpeg"}},
        {"MP3 cut in half", "half.mp3",
         [](auto& d, auto& p) { encoded(d, d / "a.mp3", "-c:a libmp3lame -b:a 128k"); cut(d / "a.mp3", p, sizeOf(d / "a.mp3") / 2); },
         0, -1, {"sox", "ffmpeg"}},
        {"M4A cut in half, index first", "half.m4a",
         [](auto& d, auto& p) {
             encoded(d, d / "a.m4a", "-c:a aac -movflags +faststart");
             cut(d / "a.m4a", p, sizeOf(d / "a.m4a") / 2);
         },
         0, -1, {"sox", "ffmpeg"}},
        {"M4A cut before its index", "noindex.m4a",
         [](auto& d, auto& p) { encoded(d, d / "a.m4a", "-c:a aac"); cut(d / "a.m4a", p, sizeOf(d / "a.m4a") / 2); },
         kAudioFileInvalidFileError, 0, {"sox", "ffmpeg"}},
    };
    return cases;
}

}  // namespace

TEST(AVAudioFileBadInputTests, FailsClearlyOrReadsWhatIsThere) {
    for (const BadInput& c : badInputs()) {
        SCOPED_TRACE(c.name);
        bool missingTool = false;
        for (const auto& tool : c.tools) missingTool |= !haveTool(tool);
        if (missingTool) continue;
        ScratchDir dir;
        const auto path = dir / c.file;
        if (c.make) c.make(dir, path);

        std::shared_ptr<AVAudioFile> file;
        try {
            file = AVAudioFile::forReading(path);
        } catch (const NSErrorException& e) {
            EXPECT_EQ(e.error().domain, NSOSStatusErrorDomain);
            EXPECT_EQ(e.error().code, c.error) << e.what();
            EXPECT_FALSE(e.error().localizedDescription.empty());
            continue;
        }
        ASSERT_EQ(c.error, 0) << "opened a file that should be refused";
        const AVAudioFramePosition promised = file->length();
        if (c.length >= 0) {
            EXPECT_EQ(promised, c.length);
        } else {
            EXPECT_GT(promised, 0);
        }
        auto buffer = AVAudioPCMBuffer::make(file->processingFormat(), 4096);
        AVAudioFramePosition delivered = 0;
        for (int guard = 0; guard < 100000; ++guard) {
            file->read(*buffer);
            if (buffer->frameLength() == 0) break;
            delivered += buffer->frameLength();
        }
        EXPECT_EQ(delivered, promised);
        EXPECT_EQ(file->length(), promised);
        // Seeking back into what is there still works.
        file->setFramePosition(promised / 2);
        file->read(*buffer);
        EXPECT_EQ(buffer->frameLength(), std::min<AVAudioFramePosition>(4096, promised - promised / 2));
    }
}
