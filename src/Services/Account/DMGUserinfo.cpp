#include "Services/Account/DMGUserinfo.h"

#include "Services/Account/DMGApi.h"

#include <QJsonObject>

#include <cmath>

namespace tamberlo {

namespace {

std::string textField(const QJsonValue& value) {
    if (value.isString()) return value.toString().toStdString();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (std::floor(number) == number && std::fabs(number) < 9007199254740992.0)
            return std::to_string(static_cast<long long>(number));
        return QString::number(number, 'g', 17).toStdString();
    }
    return {};
}

}  // namespace

DMGUserinfo DMGUserinfo::initWithDic(const QJsonValue& data) {
    DMGUserinfo record;
    if (!data.isObject()) return record;
    const QJsonObject object = data.toObject();
    record.accessToken = textField(object.value("accessToken"));
    record.mobile = textField(object.value("mobile"));
    record.userId = textField(object.value("userId"));
    record.isSync = jsonFlag(object.value("isSync"));
    record.isNewUser = jsonFlag(object.value("isNewUser"));
    return record;
}

}  // namespace tamberlo
