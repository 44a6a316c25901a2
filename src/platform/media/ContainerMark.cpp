#include "platform/media/ContainerMark.h"

#include <fstream>

namespace platform::detail {

ContainerMark containerMarkOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[12] = {};
    in.read(head, sizeof head);
    const std::string start(head, size_t(in.gcount()));
    if (start.size() < 4) return ContainerMark::unknown;
    for (const char* mark : {"RIFF", "RIFX", "RF64", "BW64", "FORM", "caff", "fLaC", "OggS", ".snd", "dns.", "riff",
                             "NIST", "Crea"})
        if (start.compare(0, 4, mark) == 0) return ContainerMark::sndfile;
    // Matroska/WebM, MP3 with an ID3 tag, and MP4/QuickTime files, which start with a sized box.
    if (start.compare(0, 4, "\x1A\x45\xDF\xA3") == 0 || start.compare(0, 3, "ID3") == 0) return ContainerMark::ffmpeg;
    if (start.size() >= 8)
        for (const char* box : {"ftyp", "moov", "mdat", "free", "wide", "skip"})
            if (start.compare(4, 4, box) == 0) return ContainerMark::ffmpeg;
    return ContainerMark::unknown;
}

}  // namespace platform::detail
