// The account steps of tamberlo-online; each waits for its request's completion.
//   {"do":"account-api","op":O,...}   O: login (mobile, password), loginSms (mobile, code),
//                                      tokenLogin (token), fetchSmsCode (mobile, isRegister),
//                                      verify (mobile, code), reset (mobile, password);
//                                      prints "account-api: error=0|1 reply=0|1 succ=0|1 msg=<msg>"
//   {"do":"userinfo"}                  the account button's token sign-in; prints "userinfo: none" or
//                                      "userinfo: mobile=<m> userId=<u> token=set|empty" (never the token)
//   {"do":"store-session","token":T,"mobile":M,"userId":U}
// The endpoint comes from TAMBERLO_ACCOUNT_URL.
#pragma once

#include <QJsonObject>
#include <QString>

// Runs the step when it is an account step; false when it is not one.
bool runAccountStep(const QString& action, const QJsonObject& step);
