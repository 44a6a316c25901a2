#include "TamberloMac/Interface/HUD.h"

#include "TamberloMac/Interface/GCD.h"

#include <atomic>
#include <mutex>

namespace tamberlo {

namespace {

struct State {
    std::mutex mutex;  // guards requests; the rest is main-thread state
    std::vector<HUD::Message> requests;
    std::optional<HUD::Message> current;
    HUD::Listener listener;
    std::atomic<double> lifetime{1.0};
};

State& state() {
    static State s;
    return s;
}

void notify() {
    auto& s = state();
    if (s.listener) s.listener(s.current);
}

void show(HUD::Kind kind, const std::string& status) {
    {
        auto& s = state();
        std::lock_guard lock(s.mutex);
        s.requests.push_back(HUD::Message{kind, status});
    }
    GCDAsyncMain([kind, status] {
        HUD::create();
        state().current = HUD::Message{kind, status};
        notify();
        // Messages close themselves; the dismissal removes whatever overlay is current by then.
        if (kind != HUD::Kind::progress) GCDAfterMain([] { HUD::dismiss(); }, state().lifetime.load());
    });
}

}  // namespace

void HUD::create() { dismiss(); }

void HUD::showProgressWithStatus(const std::string& status) { show(Kind::progress, status); }
void HUD::showInfoWithStatus(const std::string& status) { show(Kind::info, status); }
void HUD::showSuccessWithStatus(const std::string& status) { show(Kind::success, status); }
void HUD::showErrorWithStatus(const std::string& status) { show(Kind::error, status); }

void HUD::dismiss() {
    auto& s = state();
    if (!s.current) return;
    s.current.reset();
    notify();
}

const char* HUD::nameOf(Kind kind) {
    switch (kind) {
    case Kind::progress: return "progress";
    case Kind::info: return "info";
    case Kind::success: return "success";
    case Kind::error: return "error";
    }
    return "?";
}

std::optional<HUD::Message> HUD::current() { return state().current; }

std::vector<HUD::Message> HUD::requests() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.requests;
}

void HUD::clearRequests() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.requests.clear();
}

void HUD::setListener(Listener listener) { state().listener = std::move(listener); }

double HUD::messageLifetime() { return state().lifetime.load(); }
void HUD::setMessageLifetime(double seconds) { state().lifetime.store(seconds); }

}  // namespace tamberlo
