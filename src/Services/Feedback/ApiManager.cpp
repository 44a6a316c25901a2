#include "Services/Feedback/ApiManager.h"

#include "Services/Analytics/RKTracker.h"
#include "Services/Analytics/UABuilder.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SystemFacts.h"
#include "platform/network/Endpoints.h"
#include "platform/network/HttpSession.h"

#include <QDateTime>
#include <QJsonDocument>

#include <cmath>

namespace tamberlo {

ApiManager& ApiManager::shared() {
    static ApiManager manager;
    return manager;
}

ApiManager::ApiManager() : session_(std::make_unique<platform::HttpSession>()) {}

QString ApiManager::commentsDate(double secondsSince1970) {
    const qint64 milliseconds = qint64(std::llround(secondsSince1970 * 1000.0));
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(milliseconds);
    // The calendar year: a week-based year would date 30 December 2024 in 2025.
    const int hundredths = int(((milliseconds % 1000) + 1000) % 1000) / 10;
    return moment.toString("yyyy-MM-dd HH:mm:ss ") + QString::number(hundredths).rightJustified(2, '0');
}

QJsonObject ApiManager::feedbackRequest(const QString& feedback, const QString& contact, double secondsSince1970) {
    const auto& bundle = platform::Bundle::main();
    QJsonObject request;
    const auto put = [&](const char* key, const char* infoKey) {
        if (const auto value = bundle.objectForInfoDictionaryKey(infoKey)) request.insert(key, QString::fromStdString(*value));
    };
    put("product_name", "CFBundleDisplayName");
    put("package_name", "CFBundleIdentifier");
    put("product_version", "CFBundleShortVersionString");
    request.insert("device_type", QString::fromStdString(UABuilder::getRealDeviceName()));
    request.insert("cpmments_date", commentsDate(secondsSince1970));  // the service reads this spelling
    request.insert("comments", feedback);
    request.insert("feedback_email", contact);
    request.insert("product_type", "macOS");
    return request;
}

void ApiManager::sendFeedBack(const QString& feedback, const QString& contact, Completion complete) {
    const QJsonObject request = feedbackRequest(feedback, contact, platform::SystemFacts::current().now());
    session_->post(platform::Endpoints::url(platform::Endpoint::feedback, feedbackPath),
                   QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString(),
                   {{"Content-Type", "application/json"}},
                   [complete = std::move(complete)](const platform::HttpResponse& reply) {
                       if (RKTracker::isAcceptedReply(reply)) {
                           const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(reply.body));
                           complete(true, std::nullopt, document.isObject() ? document.object() : QJsonObject{});
                           return;
                       }
                       complete(false,
                                reply.error ? reply.error->message
                                            : "status " + std::to_string(reply.statusCode) + ", " + reply.contentType,
                                std::nullopt);
                   });
}

}  // namespace tamberlo
