// What the web-analytics hits say about the application, the machine and the screen.
#pragma once

#include <optional>
#include <string>

namespace tamberlo {

namespace KKGASystemInfo {
// CFBundleDisplayName, else CFBundleName.
std::optional<std::string> appName();
// CFBundleVersion.
std::optional<std::string> appVersion();
// "Intel" for x86 machines, "PowerPC", "Unknown"; "an Unknown Processor" when the machine cannot be asked.
std::string CPUType();
// The machine's model name; "Just an Apple Computer" when it has none.
std::string machineModel();
// The user's first language, as the bundle matches it.
std::string primaryLanguage();
// "<width>x<height>" of the primary screen; "0x0" without one.
std::string screenResolutionString();
// "24-bits", "64-bits" or "128-bits"; none for any other depth or without a screen.
std::optional<std::string> screenDepthString();
// The operating system's version as "<major>_<minor>_<patch>" ("12" → "12_0_0").
std::string operatingSystemVersionString();
}  // namespace KKGASystemInfo

// The User-Agent of the batch posts, built once per process:
// "Pinemoth/<appVersion> (Macintosh; <CPUType> Mac OS X <version>; <machineModel>)".
std::string KKGAUserAgentString();
// Builds it again from the current facts (tests).
std::string buildKKGAUserAgentString();

}  // namespace tamberlo
