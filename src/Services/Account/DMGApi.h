// The account service's client: six signed JSON posts. Every completion runs exactly once, on the
// client's own serial queue (never the main thread); callers that touch views hop to main.
//
//   DMGApi::shared().fetchSmsCode("13800138000", true, [](auto error, auto reply) { ... });
#pragma once

#include "platform/network/HttpSession.h"

#include <QJsonObject>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {
class DispatchQueue;
}

namespace tamberlo {

class DMGApi {
public:
    using Error = std::optional<platform::HttpError>;
    using Reply = std::optional<QJsonObject>;
    // The transport error (none when the server answered) and the reply object (none when the
    // answer was no JSON object).
    using Completion = std::function<void(const Error& error, const Reply& reply)>;
    // The SMS code of a sign-in, to tell it from a password.
    struct SmsCode {
        std::string code;
    };

    static DMGApi& shared();

    std::string serviceKey() const;
    std::string flavorName() const;
    void setServiceKey(const std::string& key);
    void setFlavorName(const std::string& flavor);

    // A fresh base body: noncestr, packageName, timestamp, sign and head.
    QJsonObject signature() const;
    std::string getSignature(const std::string& nonce, const std::string& timeStamp) const;
    static std::string md5HexDigest(const std::string& text);

    void loginWithPhone(const std::string& mobile, const std::string& password, Completion completion);
    void loginWithPhone(const std::string& mobile, const SmsCode& smsCode, Completion completion);
    void loginWithToken(const std::string& accessToken, Completion completion);
    void fetchSmsCode(const std::string& mobile, bool isRegister, Completion completion);
    void verifyPhone(const std::string& mobile, const std::string& smsCode, Completion completion);
    void resetWithPhone(const std::string& mobile, const std::string& password, Completion completion);

    // Posts the body to the URL; the common transport of the six requests.
    void request(const std::string& url, const QJsonObject& parameters, Completion completion);

    // The reply's `succ`: JSON true or a non-zero number.
    static bool isSuccess(const Reply& reply);
    // The reply's `msg` as text (empty when absent or not text).
    static std::string message(const Reply& reply);
    // True when the calling thread runs the client's completions.
    bool isCompletionQueue() const;

private:
    DMGApi();
    void send(const std::string& path, QJsonObject body, Completion completion);

    mutable std::mutex mutex_;
    std::string serviceKey_;
    std::string flavorName_ = "app store";
    std::unique_ptr<platform::DispatchQueue> queue_;
    std::unique_ptr<platform::HttpSession> session_;
};

// A JSON value read as a flag: true, or a non-zero number.
bool jsonFlag(const QJsonValue& value);

}  // namespace tamberlo
