// The Measurement Protocol parameter names the web-analytics client knows, and the names of
// custom dimensions and metrics.
#pragma once

#include <cstdint>
#include <string>

namespace tamberlo {

namespace KKGAFields {
inline constexpr const char* kGAHitType = "t";
inline constexpr const char* kGATrackingId = "tid";
inline constexpr const char* kGAClientId = "cid";
inline constexpr const char* kGAAnonymizeIp = "aip";
inline constexpr const char* kGASessionControl = "sc";
inline constexpr const char* kGAScreenResolution = "sr";
inline constexpr const char* kGAViewportSize = "vp";
inline constexpr const char* kGAEncoding = "de";
inline constexpr const char* kGAScreenColors = "sd";
inline constexpr const char* kGALanguage = "ul";
inline constexpr const char* kGAJavaEnabled = "fe";  // declared, no use
inline constexpr const char* kGAFlashVersion = "fl";
inline constexpr const char* kGANonInteraction = "ni";
inline constexpr const char* kGAReferrer = "dr";
inline constexpr const char* kGALocation = "dl";
inline constexpr const char* kGAHostname = "dh";
inline constexpr const char* kGAPage = "dp";
inline constexpr const char* kGAScreenName = "cd";
inline constexpr const char* kGADescription = "cd";  // the same parameter as the screen name
inline constexpr const char* kGATitle = "dt";
inline constexpr const char* kGAAppName = "an";
inline constexpr const char* kGAAppVersion = "av";
inline constexpr const char* kGAAppId = "aid";
inline constexpr const char* kGAAppInstallerId = "aiid";
inline constexpr const char* kGAUserId = "uid";
inline constexpr const char* kGAEventCategory = "ec";
inline constexpr const char* kGAEventAction = "ea";
inline constexpr const char* kGAEventLabel = "el";
inline constexpr const char* kGAEventValue = "ev";
inline constexpr const char* kGASocialNetwork = "sn";
inline constexpr const char* kGASocialAction = "sa";
inline constexpr const char* kGASocialTarget = "st";
inline constexpr const char* kGATransactionId = "ti";
inline constexpr const char* kGATransactionAffiliation = "ta";
inline constexpr const char* kGATransactionRevenue = "tr";
inline constexpr const char* kGATransactionShipping = "ts";
inline constexpr const char* kGATransactionTax = "tt";
inline constexpr const char* kGACurrencyCode = "cu";
inline constexpr const char* kGAItemPrice = "ip";
inline constexpr const char* kGAItemQuantity = "iq";
inline constexpr const char* kGAItemSku = "ic";
inline constexpr const char* kGAItemName = "in";
inline constexpr const char* kGAItemCategory = "iv";
inline constexpr const char* kGACampaignSource = "cs";
inline constexpr const char* kGACampaignMedium = "cm";
inline constexpr const char* kGACampaignName = "cn";
inline constexpr const char* kGACampaignKeyword = "ck";
inline constexpr const char* kGACampaignContent = "cc";
inline constexpr const char* kGACampaignId = "ci";
inline constexpr const char* kGATimingCategory = "utc";
inline constexpr const char* kGATimingVar = "utv";
inline constexpr const char* kGATimingValue = "utt";
inline constexpr const char* kGATimingLabel = "utl";
inline constexpr const char* kGAExDescription = "exd";
inline constexpr const char* kGAExFatal = "exf";
inline constexpr const char* kGAExperimentId = "xid";
inline constexpr const char* kGAExperimentVar = "xvar";

// Hit types.
inline constexpr const char* kGAAppView = "appview";
inline constexpr const char* kGAPageView = "pageview";
inline constexpr const char* kGAEvent = "event";
inline constexpr const char* kGASocial = "social";
inline constexpr const char* kGATransaction = "transaction";
inline constexpr const char* kGAItem = "item";
inline constexpr const char* kGAException = "exception";
inline constexpr const char* kGATiming = "timing";

// "cd<i>" and "cm<i>".
std::string customDimensionForIndex(uint64_t index);
std::string customMetricForIndex(uint64_t index);
}  // namespace KKGAFields

}  // namespace tamberlo
