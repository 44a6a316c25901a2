// The feedback client: one JSON post per submission to "/Statistics_branch/transit/addData" of the
// feedback endpoint (TAMBERLO_FEEDBACK_URL). The completion runs once, on the main queue.
#pragma once

#include <QJsonObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace platform {
class HttpSession;
}

namespace tamberlo {

class ApiManager {
public:
    static constexpr const char* feedbackPath = "/Statistics_branch/transit/addData";

    // (true, none, reply) when the service accepted the text; (false, why, none) otherwise.
    using Completion =
        std::function<void(bool success, const std::optional<std::string>& error, const std::optional<QJsonObject>& reply)>;

    static ApiManager& shared();

    // Posts the text and the contact exactly as typed.
    void sendFeedBack(const QString& feedback, const QString& contact, Completion complete);

    // The request for a text and a contact sent at `secondsSince1970` (local time in the date).
    static QJsonObject feedbackRequest(const QString& feedback, const QString& contact, double secondsSince1970);
    // "yyyy-MM-dd HH:mm:ss SS" in local time, SS the hundredths of the second, truncated.
    static QString commentsDate(double secondsSince1970);

private:
    ApiManager();
    std::unique_ptr<platform::HttpSession> session_;
};

}  // namespace tamberlo
