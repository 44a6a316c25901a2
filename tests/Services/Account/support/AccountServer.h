// A loopback account service for the tests: a FakeHttpServer whose gate answers 400 to any request
// that the real service would refuse (a key set other than the operation's, a signature that does
// not verify, a nonce that repeats or is no upper-case UUID, a timestamp more than 10 s off), and
// TAMBERLO_ACCOUNT_URL pointing at it.
#pragma once

#include "support/FakeHttpServer.h"

#include <QJsonObject>

#include <set>
#include <vector>
#include <string>

namespace accounttest {

inline constexpr const char* serviceKey = "7E31C09A5B2D48F6A0C3E95D1B7F4A28";

// The paths of the six operations.
inline const std::string loginPath = "/appPay/api/user/info/login";
inline const std::string smsLoginPath = "/appPay/api/user/info/verificationCodeLogin";
inline const std::string tokenLoginPath = "/appPay/api/user/info/tokenLogin";
inline const std::string fetchCodePath = "/appPay/api/app/sms/getSecurityCode";
inline const std::string verifyPath = "/appPay/api/app/sms/confirmSecurityCode";
inline const std::string resetPath = "/appPay/api/user/info/resetPassword";

class AccountServer {
public:
    // Configures the account client with the service key and "Web", and points it here.
    AccountServer();
    ~AccountServer();

    testsupport::FakeHttpServer server;
    // Requests the gate refused, with why.
    std::vector<std::string> refusals;

    // The JSON body of the n-th request for a path.
    QJsonObject body(const std::string& path, std::size_t n = 0) const;
    // A reply body {"succ":…,"msg":…,"data":…}.
    static testsupport::FakeHttpServer::Reply reply(const std::string& json, int status = 200);

private:
    std::set<std::string> nonces_;
};

}  // namespace accounttest
