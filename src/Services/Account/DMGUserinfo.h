// One account record: what a sign-in returns and what the stored session holds.
#pragma once

#include <QJsonValue>

#include <string>

namespace tamberlo {

struct DMGUserinfo {
    std::string accessToken;
    std::string mobile;
    std::string userId;
    bool isSync = false;
    bool isNewUser = false;

    // A record from a reply's `data`. Anything but an object gives an empty record; a text field
    // that holds a number becomes its decimal text, any other kind of value empty text; a flag is
    // true for JSON true or a non-zero number.
    static DMGUserinfo initWithDic(const QJsonValue& data);
};

}  // namespace tamberlo
