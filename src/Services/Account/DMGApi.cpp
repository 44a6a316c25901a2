#include "Services/Account/DMGApi.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/MD5.h"
#include "platform/foundation/OSLog.h"
#include "platform/network/Endpoints.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QUuid>

namespace tamberlo {

namespace {

// Never destroyed: the completion queue may still log a reply while the process exits.
const platform::OSLog& accountLog = *new platform::OSLog{"io.tamberlo.Tamberlo", "account"};

platform::HttpSession::Configuration sessionConfiguration() {
    platform::HttpSession::Configuration configuration;
    configuration.headers = {{"Content-Type", "application/json"}};
    configuration.idleTimeout = 30.0;
    return configuration;
}

QString text(const std::string& value) { return QString::fromStdString(value); }

}  // namespace

bool jsonFlag(const QJsonValue& value) {
    if (value.isBool()) return value.toBool();
    if (value.isDouble()) return value.toDouble() != 0.0;
    return false;
}

DMGApi& DMGApi::shared() {
    // Never destroyed: completions may still run while the process ends.
    static DMGApi* instance = new DMGApi();
    return *instance;
}

DMGApi::DMGApi()
    : queue_(std::make_unique<platform::DispatchQueue>("io.tamberlo.account")),
      session_(std::make_unique<platform::HttpSession>(sessionConfiguration(), queue_.get())) {}

std::string DMGApi::serviceKey() const {
    std::lock_guard lock(mutex_);
    return serviceKey_;
}

std::string DMGApi::flavorName() const {
    std::lock_guard lock(mutex_);
    return flavorName_;
}

void DMGApi::setServiceKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    serviceKey_ = key;
}

void DMGApi::setFlavorName(const std::string& flavor) {
    std::lock_guard lock(mutex_);
    flavorName_ = flavor;
}

std::string DMGApi::md5HexDigest(const std::string& text) {
    return platform::hexString(platform::MD5(text.data(), text.size()));
}

std::string DMGApi::getSignature(const std::string& nonce, const std::string& timeStamp) const {
    const std::string plain = "noncestr=" + nonce + "&timestamp=" + timeStamp + "&key=" + serviceKey();
    return QString::fromStdString(md5HexDigest(plain)).toUpper().toStdString();
}

QJsonObject DMGApi::signature() const {
    const std::string nonce = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    // Whole seconds in 64 bits: the same text as a 32-bit count until 2038, and right after it.
    const std::string timestamp = std::to_string(QDateTime::currentSecsSinceEpoch());
    const platform::Bundle& bundle = platform::Bundle::main();
    const QString identifier = text(bundle.bundleIdentifier().value_or(""));
    QJsonObject head{
        {"versioncode", text(bundle.objectForInfoDictionaryKey("CFBundleShortVersionString").value_or(""))},
        {"packagename", identifier},
        {"flavorName", text(flavorName())},
    };
    return QJsonObject{
        {"noncestr", text(nonce)},
        {"packageName", identifier},
        {"timestamp", text(timestamp)},
        {"sign", text(getSignature(nonce, timestamp))},
        {"head", head},
    };
}

void DMGApi::send(const std::string& path, QJsonObject body, Completion completion) {
    request(platform::Endpoints::url(platform::Endpoint::account, "/" + path), body, std::move(completion));
}

void DMGApi::loginWithPhone(const std::string& mobile, const std::string& password, Completion completion) {
    QJsonObject body = signature();
    body.insert("mobile", text(mobile));
    body.insert("password", text(password));
    send("appPay/api/user/info/login", body, std::move(completion));
}

void DMGApi::loginWithPhone(const std::string& mobile, const SmsCode& smsCode, Completion completion) {
    QJsonObject body = signature();
    body.insert("mobile", text(mobile));
    body.insert("securityCode", text(smsCode.code));
    send("appPay/api/user/info/verificationCodeLogin", body, std::move(completion));
}

void DMGApi::loginWithToken(const std::string& accessToken, Completion completion) {
    QJsonObject body = signature();
    body.insert("accessToken", text(accessToken));
    send("appPay/api/user/info/tokenLogin", body, std::move(completion));
}

void DMGApi::fetchSmsCode(const std::string& mobile, bool isRegister, Completion completion) {
    QJsonObject body = signature();
    body.insert("mobile", text(mobile));
    body.insert("smsType", isRegister ? "1" : "2");
    send("appPay/api/app/sms/getSecurityCode", body, std::move(completion));
}

void DMGApi::verifyPhone(const std::string& mobile, const std::string& smsCode, Completion completion) {
    QJsonObject body = signature();
    body.insert("mobile", text(mobile));
    body.insert("securityCode", text(smsCode));
    send("appPay/api/app/sms/confirmSecurityCode", body, std::move(completion));
}

void DMGApi::resetWithPhone(const std::string& mobile, const std::string& password, Completion completion) {
    QJsonObject body = signature();
    body.insert("mobile", text(mobile));
    body.insert("password", text(password));
    send("appPay/api/user/info/resetPassword", body, std::move(completion));
}

bool DMGApi::isSuccess(const Reply& reply) { return reply && jsonFlag(reply->value("succ")); }

std::string DMGApi::message(const Reply& reply) {
    return reply ? reply->value("msg").toString().toStdString() : std::string();
}

bool DMGApi::isCompletionQueue() const { return queue_->isCurrent(); }

void DMGApi::request(const std::string& url, const QJsonObject& parameters, Completion completion) {
    std::string body = QJsonDocument(parameters).toJson(QJsonDocument::Compact).toStdString();
    session_->post(url, std::move(body), {}, [url, completion = std::move(completion)](const platform::HttpResponse& response) {
        Reply reply;
        if (!response.body.empty()) {
            const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(response.body));
            if (document.isObject()) reply = document.object();
        }
        // The reply may carry a token and the request a password: only what identifies the exchange is logged.
        if (response.error) {
            platform::os_log(accountLog, platform::OSLogType::info, url + " failed: " + response.error->message);
        } else {
            platform::os_log(accountLog, platform::OSLogType::info,
                             url + " status=" + std::to_string(response.statusCode) +
                                 " succ=" + (isSuccess(reply) ? "1" : "0") + " msg=" + message(reply));
        }
        completion(response.error, reply);
    });
}

}  // namespace tamberlo
