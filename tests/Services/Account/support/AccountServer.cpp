#include "Services/Account/support/AccountServer.h"

#include "Services/Account/DMGApi.h"
#include "Services/Account/DMGChecker.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cstdlib>
#include <map>

namespace accounttest {

namespace {

const std::map<std::string, std::set<QString>> operationKeys{
    {loginPath, {"mobile", "password"}},
    {smsLoginPath, {"mobile", "securityCode"}},
    {tokenLoginPath, {"accessToken"}},
    {fetchCodePath, {"mobile", "smsType"}},
    {verifyPath, {"mobile", "securityCode"}},
    {resetPath, {"mobile", "password"}},
};

std::set<QString> keys(const QJsonObject& object) {
    const QStringList list = object.keys();
    return {list.begin(), list.end()};
}

}  // namespace

AccountServer::AccountServer() {
    tamberlo::DMGChecker::shared().configServiceKey(serviceKey, "Web");
    ::setenv("TAMBERLO_ACCOUNT_URL", server.origin().c_str(), 1);
    server.setGate([this](const testsupport::FakeHttpServer::Request& request)
                       -> std::optional<testsupport::FakeHttpServer::Reply> {
        auto refuse = [this, &request](const std::string& why) {
            refusals.push_back(request.path + ": " + why);
            return testsupport::FakeHttpServer::Reply::status(400, "application/json", R"({"succ":false,"msg":"bad request"})");
        };
        const auto operation = operationKeys.find(request.path);
        if (operation == operationKeys.end()) return refuse("unknown path");
        if (request.headers.count("content-type") == 0 || request.headers.at("content-type") != "application/json")
            return refuse("content type");
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(request.body));
        if (!document.isObject()) return refuse("body is no object");
        const QJsonObject body = document.object();
        std::set<QString> wanted{"noncestr", "packageName", "timestamp", "sign", "head"};
        wanted.insert(operation->second.begin(), operation->second.end());
        if (keys(body) != wanted) return refuse("key set");
        for (const QString& key : wanted)
            if (key != "head" && !body.value(key).isString()) return refuse("value of " + key.toStdString() + " is no text");
        const QJsonObject head = body.value("head").toObject();
        if (keys(head) != std::set<QString>{"versioncode", "packagename", "flavorName"}) return refuse("head keys");
        if (head.value("packagename") != body.value("packageName") || head.value("flavorName") != "Web")
            return refuse("head values");
        const QString nonce = body.value("noncestr").toString();
        static const QRegularExpression uuid(
            QRegularExpression::anchoredPattern("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}"));
        if (!uuid.match(nonce).hasMatch()) return refuse("nonce is no upper-case UUID");
        if (!nonces_.insert(nonce.toStdString()).second) return refuse("nonce repeats");
        const QString timestamp = body.value("timestamp").toString();
        bool number = false;
        const qint64 seconds = timestamp.toLongLong(&number);
        if (!number || std::llabs(seconds - QDateTime::currentSecsSinceEpoch()) > 10) return refuse("timestamp");
        const QByteArray plain = ("noncestr=" + nonce + "&timestamp=" + timestamp + "&key=" + serviceKey).toUtf8();
        const QString sign = QCryptographicHash::hash(plain, QCryptographicHash::Md5).toHex().toUpper();
        if (body.value("sign").toString() != sign) return refuse("sign");
        return std::nullopt;
    });
}

AccountServer::~AccountServer() { ::unsetenv("TAMBERLO_ACCOUNT_URL"); }

QJsonObject AccountServer::body(const std::string& path, std::size_t n) const {
    const auto requests = server.requests(path);
    if (n >= requests.size()) return {};
    return QJsonDocument::fromJson(QByteArray::fromStdString(requests[n].body)).object();
}

testsupport::FakeHttpServer::Reply AccountServer::reply(const std::string& json, int status) {
    return testsupport::FakeHttpServer::Reply::status(status, "application/json", json);
}

}  // namespace accounttest
