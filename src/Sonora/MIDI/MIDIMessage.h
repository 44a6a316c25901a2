// What every MIDI message of the library offers: its bytes (`data`, a field or a function) and a
// `description()`.
#pragma once

#include <concepts>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

namespace sonora {

template <typename T>
concept MIDIMessage = requires(const T& message) {
    { message.description() } -> std::convertible_to<std::string>;
} && (requires(const T& message) {
    { message.data } -> std::convertible_to<std::vector<uint8_t>>;
} || requires(const T& message) {
    { message.data() } -> std::convertible_to<std::vector<uint8_t>>;
});

// "0x" and two upper-case hexadecimal digits: "0x0A".
std::string byteHexString(uint8_t byte);
// Two upper-case hexadecimal digits per byte, no separator: "07A120".
std::string bytesHexString(const std::vector<uint8_t>& bytes);
// The bytes as one big-endian number; none when empty or beyond a signed 64-bit integer.
std::optional<int64_t> bytesBigEndianValue(const std::vector<uint8_t>& bytes);

}  // namespace sonora
