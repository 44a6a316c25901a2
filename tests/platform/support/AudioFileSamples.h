// The samples of an audio file, for comparing what a render wrote.
#pragma once

#include <filesystem>
#include <vector>

namespace testsupport {

// Every frame of the file in its processing format, one vector per channel.
std::vector<std::vector<float>> readChannels(const std::filesystem::path& path);

}  // namespace testsupport
