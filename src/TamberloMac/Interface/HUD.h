// The editor's status overlay: one current message at a time — progress (stays until replaced or
// dismissed), or info, success and error (each dismisses the overlay 1 s later, whatever overlay
// is current by then). The show calls may come from any thread; the overlay changes on the main
// queue. This class keeps the state and tells a listener what to draw; the window draws it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tamberlo {

class HUD {
public:
    enum class Kind { progress, info, success, error };

    // One message the overlay was asked to show.
    struct Message {
        Kind kind;
        std::string status;
        bool operator==(const Message&) const = default;
    };

    // "progress", "info", "success" or "error".
    static const char* nameOf(Kind kind);

    // Called on the main thread with the message now shown, or with none when the overlay goes away.
    using Listener = std::function<void(const std::optional<Message>&)>;

    // Replaces the current overlay by an empty one (main thread).
    static void create();
    static void showProgressWithStatus(const std::string& status);
    static void showInfoWithStatus(const std::string& status);
    static void showSuccessWithStatus(const std::string& status);
    static void showErrorWithStatus(const std::string& status);
    // Removes the current overlay (main thread).
    static void dismiss();

    // The message on screen, if any (main thread).
    static std::optional<Message> current();
    // Every message asked for so far, in the order of the calls, from any thread.
    static std::vector<Message> requests();
    static void clearRequests();
    // The one listener (the window's drawing); an empty function removes it.
    static void setListener(Listener listener);
    // How long info, success and error messages stay (1 s; tests shorten it).
    static double messageLifetime();
    static void setMessageLifetime(double seconds);
};

}  // namespace tamberlo
