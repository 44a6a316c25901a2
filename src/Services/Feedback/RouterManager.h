// Asks for the store's rating prompt at most once per application version, or at most once ever,
// and remembers in the user defaults that it asked. The two operations keep separate records.
#pragma once

namespace tamberlo {

class RouterManager {
public:
    // User-defaults keys.
    static constexpr const char* versionRateDicKey = "app.VersionRateDicKey";
    static constexpr const char* hasRateKey = "app.HasRateKey";

    // Requests the prompt unless it was requested for the current CFBundleShortVersionString.
    static void showRatedThisVersion();
    // Requests the prompt unless this operation ever requested it.
    static void showRateAllLife();
};

}  // namespace tamberlo
