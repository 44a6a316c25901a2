#include "Services/Feedback/RouterManager.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/storekit/ReviewPrompt.h"

#include <QJsonObject>

namespace tamberlo {

void RouterManager::showRatedThisVersion() {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    const QString version =
        QString::fromStdString(platform::Bundle::main().objectForInfoDictionaryKey("CFBundleShortVersionString").value_or(""));
    QJsonObject versions = defaults.dictionaryForKey(versionRateDicKey).value_or(QJsonObject{});
    if (versions.contains(version)) return;
    platform::ReviewPrompt::requestReview();
    versions.insert(version, 1);
    defaults.setDictionary(versions, versionRateDicKey);
}

void RouterManager::showRateAllLife() {
    auto& defaults = platform::UserDefaults::standardUserDefaults();
    if (defaults.boolForKey(hasRateKey)) return;
    platform::ReviewPrompt::requestReview();
    defaults.setBool(true, hasRateKey);
}

}  // namespace tamberlo
