// The account state: configures the account client, keeps the signed-in session in the user
// defaults, signs in again with the stored token and opens the sign-in window.
//
//   DMGChecker::shared().fetchUserinfo([](const std::optional<DMGUserinfo>& user) {
//       if (!user) DMGChecker::shared().startLogin();
//   }, false);
#pragma once

#include "Services/Account/DMGUserinfo.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QString;
class QWidget;

namespace tamberlo {

// What the application configures the account state with.
inline constexpr const char* tamberloAccountServiceKey = "7E31C09A5B2D48F6A0C3E95D1B7F4A28";
inline constexpr const char* tamberloAccountFlavorName = "Web";

class DMGChecker {
public:
    using UserinfoBlock = std::function<void(const std::optional<DMGUserinfo>& userinfo)>;
    // Callbacks are compared by identity: the kept listener is not called twice when it is also
    // the callback of a result.
    using SharedBlock = std::shared_ptr<const UserinfoBlock>;

    static constexpr const char* tokenKey = "VEZEriduv.Save_Token";
    static constexpr const char* mobileKey = "VEZEriduv.mobile";
    static constexpr const char* userIdKey = "VEZEriduv.userId";

    static DMGChecker& shared();

    // Where the account layer's images live (a Qt resource folder).
    static QString sourceBundle();

    // Sets the client's key and flavour ("app store" when the flavour is empty).
    void configServiceKey(const std::string& serviceKey, const std::string& flavorName);

    // The last top-level window the application opened that is still open; null when none is.
    static QWidget* currentVC();
    // Opens the sign-in window (on the main thread, later) from the parent or from currentVC.
    void startLogin();
    void startLoginWithParent(QWidget* parent);

    // Finds the signed-in user by a token sign-in. With `continuous` the callback is kept and also
    // hears every later result. Without a stored token the callback runs at once, with none.
    void fetchUserinfo(SharedBlock block, bool continuous);
    void fetchUserinfo(UserinfoBlock block, bool continuous);
    // Tells the kept listener and the callback, then stores the record's session.
    void handleUserinfo(const std::optional<DMGUserinfo>& userinfo, const SharedBlock& block);
    // The stored session (flags false).
    DMGUserinfo loadUserinfo() const;
    void clearCache();

    bool isLogin() const { return isLogin_.load(); }
    SharedBlock storeUserinfoBlock() const;

private:
    DMGChecker();

    std::atomic<bool> isLogin_{false};
    mutable std::mutex mutex_;
    SharedBlock storeUserinfoBlock_;
};

}  // namespace tamberlo
