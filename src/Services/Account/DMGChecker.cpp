#include "Services/Account/DMGChecker.h"

#include "Services/Account/DMGApi.h"
#include "Services/Account/DMGLoginController.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/UserDefaults.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <vector>

// Resources of a static library are registered by hand, once.
static void registerAccountResources() { Q_INIT_RESOURCE(VEZEriduv); }

namespace tamberlo {

namespace {

// The application's windows in the order they first opened: Qt keeps no such list.
class WindowList : public QObject {
public:
    static WindowList* shared() {
        static QPointer<WindowList> list;
        if (!list && qApp) {
            list = new WindowList(qApp);
            qApp->installEventFilter(list);
        }
        return list;
    }

    QWidget* last() {
        for (auto it = windows_.rbegin(); it != windows_.rend(); ++it)
            if (*it && (*it)->isVisible()) return *it;
        return nullptr;
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* widget = static_cast<QWidget*>(watched);
            const Qt::WindowType type = widget->windowType();
            if (widget->isWindow() && (type == Qt::Window || type == Qt::Dialog || type == Qt::Sheet)) {
                std::erase_if(windows_, [widget](const QPointer<QWidget>& w) { return !w || w == widget; });
                windows_.emplace_back(widget);
            }
        }
        return false;
    }

private:
    using QObject::QObject;
    std::vector<QPointer<QWidget>> windows_;
};

platform::UserDefaults& defaults() { return platform::UserDefaults::standardUserDefaults(); }

void storeOrRemove(const std::string& value, const char* key) {
    if (value.empty())
        defaults().removeObjectForKey(key);
    else
        defaults().setString(value, key);
}

}  // namespace

DMGChecker& DMGChecker::shared() {
    static DMGChecker* instance = new DMGChecker();
    WindowList::shared();
    return *instance;
}

DMGChecker::DMGChecker() = default;

QString DMGChecker::sourceBundle() {
    static std::once_flag once;
    std::call_once(once, registerAccountResources);
    return QStringLiteral(":/VEZEriduv.framework");
}

void DMGChecker::configServiceKey(const std::string& serviceKey, const std::string& flavorName) {
    DMGApi::shared().setServiceKey(serviceKey);
    DMGApi::shared().setFlavorName(flavorName.empty() ? "app store" : flavorName);
}

QWidget* DMGChecker::currentVC() {
    WindowList* list = WindowList::shared();
    return list ? list->last() : nullptr;
}

void DMGChecker::startLogin() { startLoginWithParent(nullptr); }

void DMGChecker::startLoginWithParent(QWidget* parent) {
    QPointer<QWidget> given(parent);
    const bool hadParent = parent != nullptr;
    platform::DispatchQueue::main().async([given, hadParent] {
        QWidget* from = hadParent ? given.data() : currentVC();
        if (!from) return;
        auto* controller = new DMGLoginController(from);
        controller->open();
    });
}

void DMGChecker::fetchUserinfo(UserinfoBlock block, bool continuous) {
    fetchUserinfo(std::make_shared<const UserinfoBlock>(std::move(block)), continuous);
}

void DMGChecker::fetchUserinfo(SharedBlock block, bool continuous) {
    if (continuous) {
        std::lock_guard lock(mutex_);
        storeUserinfoBlock_ = block;
    }
    const std::string token = defaults().stringForKey(tokenKey).value_or("");
    if (token.empty()) {
        handleUserinfo(std::nullopt, block);
        return;
    }
    DMGApi::shared().loginWithToken(token, [this, block](const DMGApi::Error& error, const DMGApi::Reply& reply) {
        if (error)
            handleUserinfo(loadUserinfo(), block);
        else if (DMGApi::isSuccess(reply))
            handleUserinfo(DMGUserinfo::initWithDic(reply->value("data")), block);
        else
            handleUserinfo(std::nullopt, block);
    });
}

void DMGChecker::handleUserinfo(const std::optional<DMGUserinfo>& userinfo, const SharedBlock& block) {
    const SharedBlock kept = storeUserinfoBlock();
    if (kept && kept != block && *kept) (*kept)(userinfo);
    if (block && *block) (*block)(userinfo);
    if (!userinfo) return;
    isLogin_ = true;
    storeOrRemove(userinfo->accessToken, tokenKey);
    storeOrRemove(userinfo->mobile, mobileKey);
    storeOrRemove(userinfo->userId, userIdKey);
}

DMGUserinfo DMGChecker::loadUserinfo() const {
    DMGUserinfo record;
    record.accessToken = defaults().stringForKey(tokenKey).value_or("");
    record.mobile = defaults().stringForKey(mobileKey).value_or("");
    record.userId = defaults().stringForKey(userIdKey).value_or("");
    return record;
}

void DMGChecker::clearCache() {
    defaults().removeObjectForKey(tokenKey);
    defaults().removeObjectForKey(mobileKey);
    defaults().removeObjectForKey(userIdKey);
    defaults().synchronize();
}

DMGChecker::SharedBlock DMGChecker::storeUserinfoBlock() const {
    std::lock_guard lock(mutex_);
    return storeUserinfoBlock_;
}

}  // namespace tamberlo
