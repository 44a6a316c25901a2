#include "TamberloMac/Interface/NotifyManager.h"

#include "platform/foundation/NotificationCenter.h"

namespace tamberlo {

void NotifyManager::post(const std::string& name) { platform::NotificationCenter::defaultCenter().post(name); }

}  // namespace tamberlo
