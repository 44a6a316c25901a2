// Who and what the measurement-protocol hits are about. Each text is computed on first read and
// then kept for the helper's life.
#pragma once

#include <optional>
#include <string>

namespace tamberlo {

class TrackerHelper {
public:
    // CFBundleName, else "Unknown".
    const std::string& applicationName();
    // CFBundleVersion, else "Unknown".
    const std::string& applicationVersion();
    // Base64 of the machine's serial number ("(null)" when unreadable) followed by the login name.
    const std::string& userIdentifier();
    // The web user agent of this machine, else "Unknown-userAgentString".
    const std::string& userAgentString();
    // systemVersion() and the user's first preferred language, joined by one space.
    const std::string& systemInfo();

    // The label of the application framework's version; no such number exists here, so the
    // newest label.
    static std::string systemVersion();
    // The label of the first row of the version table whose bound is at least `number`.
    static std::string systemVersionLabel(double number);
    // The machine's serial number (/sys/class/dmi/id/product_serial, trimmed); none when unreadable.
    static std::optional<std::string> platformSerialNumber();
    // The login name of the process's user; empty when there is none.
    static std::string loginName();

private:
    std::optional<std::string> applicationName_, applicationVersion_, userIdentifier_, userAgentString_, systemInfo_;
};

}  // namespace tamberlo
