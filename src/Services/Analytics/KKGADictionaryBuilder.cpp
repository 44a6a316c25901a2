#include "Services/Analytics/KKGADictionaryBuilder.h"

#include "Services/Analytics/KKGAFields.h"
#include "Services/Analytics/KKGASystemInfo.h"

#include <QLocale>
#include <QString>

#include <initializer_list>
#include <utility>

namespace tamberlo {

namespace {

std::unique_ptr<KKGADictionaryBuilder> make(
    const char* hitType, std::initializer_list<std::pair<const char*, const OptionalValue*>> parameters) {
    KKGAHit hit{{KKGAFields::kGAHitType, std::string(hitType)}};
    for (const auto& [name, value] : parameters)
        if (*value) hit[name] = **value;
    auto builder = std::make_unique<KKGADictionaryBuilder>();
    builder->setupDictionary(hit);
    return builder;
}

}  // namespace

std::string textOf(const KKGAValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* integer = std::get_if<int64_t>(&value)) return std::to_string(*integer);
    return QString::number(std::get<double>(value), 'g', QLocale::FloatingPointShortest).toStdString();
}

void KKGADictionaryBuilder::set(const OptionalValue& value, const std::string& name) {
    if (value)
        dictionary_[name] = *value;
    else
        dictionary_.erase(name);
}

OptionalValue KKGADictionaryBuilder::get(const std::string& name) const {
    const auto it = dictionary_.find(name);
    if (it == dictionary_.end()) return std::nullopt;
    return it->second;
}

void KKGADictionaryBuilder::setAll(const KKGAHit& dictionary) { dictionary_ = dictionary; }

void KKGADictionaryBuilder::setupDictionary(const KKGAHit& dictionary) {
    dictionary_ = dictionary;
    platform::NotificationCenter::defaultCenter().post(
        platform::Notification{analyticsEventNotification, this, dictionary});
}

std::unique_ptr<KKGADictionaryBuilder> KKGADictionaryBuilder::createScreenView(const OptionalValue& name) {
    const OptionalValue appName = KKGASystemInfo::appName();
    const OptionalValue appVersion = KKGASystemInfo::appVersion();
    return make(KKGAFields::kGAAppView,
                {{KKGAFields::kGAAppName, &appName}, {KKGAFields::kGAAppVersion, &appVersion}, {KKGAFields::kGAScreenName, &name}});
}

std::unique_ptr<KKGADictionaryBuilder> KKGADictionaryBuilder::createPageViewWithName(const OptionalValue& name,
                                                                                    const OptionalValue& hostname,
                                                                                    const OptionalValue& page) {
    return make(KKGAFields::kGAPageView,
                {{KKGAFields::kGAHostname, &hostname}, {KKGAFields::kGAPage, &page}, {KKGAFields::kGATitle, &name}});
}

std::unique_ptr<KKGADictionaryBuilder> KKGADictionaryBuilder::createEventWithCategory(const OptionalValue& category,
                                                                                     const OptionalValue& action,
                                                                                     const OptionalValue& label,
                                                                                     const OptionalValue& value) {
    return make(KKGAFields::kGAEvent, {{KKGAFields::kGAEventCategory, &category},
                                       {KKGAFields::kGAEventAction, &action},
                                       {KKGAFields::kGAEventLabel, &label},
                                       {KKGAFields::kGAEventValue, &value}});
}

std::unique_ptr<KKGADictionaryBuilder> KKGADictionaryBuilder::createTransaction(
    const OptionalValue& transactionId, const OptionalValue& affliation, const OptionalValue& revenue,
    const OptionalValue& shipping, const OptionalValue& tax, const OptionalValue& currencyCode) {
    return make(KKGAFields::kGATransaction, {{KKGAFields::kGATransactionId, &transactionId},
                                             {KKGAFields::kGATransactionAffiliation, &affliation},
                                             {KKGAFields::kGATransactionRevenue, &revenue},
                                             {KKGAFields::kGATransactionShipping, &shipping},
                                             {KKGAFields::kGATransactionTax, &tax},
                                             {KKGAFields::kGACurrencyCode, &currencyCode}});
}

std::unique_ptr<KKGADictionaryBuilder> KKGADictionaryBuilder::createItem(
    const OptionalValue& transactionId, const OptionalValue& name, const OptionalValue& SKU,
    const OptionalValue& cateogory, const OptionalValue& price, const OptionalValue& quantity,
    const OptionalValue& currencyCode) {
    return make(KKGAFields::kGAItem, {{KKGAFields::kGATransactionId, &transactionId},
                                      {KKGAFields::kGAItemName, &name},
                                      {KKGAFields::kGAItemPrice, &price},
                                      {KKGAFields::kGAItemQuantity, &quantity},
                                      {KKGAFields::kGAItemSku, &SKU},
                                      {KKGAFields::kGAItemCategory, &cateogory},
                                      {KKGAFields::kGACurrencyCode, &currencyCode}});
}

std::unique_ptr<KKGADictionaryBuilder> KKGADictionaryBuilder::createSocialWithNetwork(const OptionalValue& network,
                                                                                     const OptionalValue& action,
                                                                                     const OptionalValue& target) {
    return make(KKGAFields::kGASocial, {{KKGAFields::kGASocialNetwork, &network},
                                        {KKGAFields::kGASocialAction, &action},
                                        {KKGAFields::kGASocialTarget, &target}});
}

std::unique_ptr<KKGADictionaryBuilder> KKGADictionaryBuilder::createTimingWithCategory(const OptionalValue& category,
                                                                                      const OptionalValue& interval,
                                                                                      const OptionalValue& name,
                                                                                      const OptionalValue& label) {
    return make(KKGAFields::kGATiming, {{KKGAFields::kGATimingCategory, &category},
                                        {KKGAFields::kGATimingVar, &name},
                                        {KKGAFields::kGATimingValue, &interval},
                                        {KKGAFields::kGATimingLabel, &label}});
}

std::unique_ptr<KKGADictionaryBuilder> KKGADictionaryBuilder::createExceptionWithDescription(
    const OptionalValue& description, const OptionalValue& fatal) {
    return make(KKGAFields::kGAException,
                {{KKGAFields::kGAExDescription, &description}, {KKGAFields::kGAExFatal, &fatal}});
}

}  // namespace tamberlo
