#include "Services/AnalyticsWindows/AnalyticsDebugWindowController.h"

#include "platform/foundation/UserDefaults.h"

#include <QListView>
#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>

#include <mutex>
#include <optional>

namespace tamberlo {

int AnalyticsEventsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(events_.size());
}

QVariant AnalyticsEventsModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(events_.size())) return {};
    return textOf(events_[size_t(index.row())]);
}

void AnalyticsEventsModel::insertAtTop(KKGAHit hit) {
    beginInsertRows({}, 0, 0);
    events_.insert(events_.begin(), std::move(hit));
    endInsertRows();
}

QString AnalyticsEventsModel::textOf(const KKGAHit& hit) {
    QStringList pairs;
    for (const auto& [name, value] : hit)
        pairs << QString::fromStdString(name) + "=" + QString::fromStdString(tamberlo::textOf(value));
    return pairs.join("  ");
}

AnalyticsDebugWindowController::AnalyticsDebugWindowController(const QString& title, bool staysOnTop)
    : QWidget(nullptr, staysOnTop ? Qt::Window | Qt::WindowStaysOnTopHint : Qt::Window),
      eventsArrayController_(new AnalyticsEventsModel(this)),
      list_(new QListView(this)) {
    setWindowTitle(title);
    resize(720, 420);
    list_->setModel(eventsArrayController_);
    list_->setAlternatingRowColors(true);
    list_->setUniformItemSizes(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    token_ = platform::NotificationCenter::defaultCenter().addObserver(
        KKGADictionaryBuilder::analyticsEventNotification,
        [this](const platform::Notification& notification) { analyticsReceived(notification); });
}

AnalyticsDebugWindowController::~AnalyticsDebugWindowController() {
    platform::NotificationCenter::defaultCenter().removeObserver(token_);
}

void AnalyticsDebugWindowController::analyticsReceived(const platform::Notification& notification) {
    QMetaObject::invokeMethod(
        this, [this, hit = notification.userInfo]() mutable { eventsArrayController_->insertAtTop(std::move(hit)); },
        Qt::QueuedConnection);
}

namespace {
// One controller per class, made at the first call when the switch is on; callers on several
// threads at once get the same one.
template <class Controller>
struct Shared {
    static std::optional<std::unique_ptr<Controller>>& slot() {
        static std::optional<std::unique_ptr<Controller>> controller;
        return controller;
    }
    static std::mutex& mutex() {
        static std::mutex m;
        return m;
    }
    template <class Make>
    static Controller* get(Make make) {
        std::lock_guard lock(mutex());
        auto& controller = slot();
        if (!controller) {
            const bool on = platform::UserDefaults::standardUserDefaults().boolForKey(
                AnalyticsDebugWindowController::showDebugMenuKey);
            controller = on ? make() : nullptr;
        }
        return controller->get();
    }
    static void show(Controller* controller) {
        if (!controller) return;
        controller->show();
        controller->raise();
    }
};
}  // namespace

TBAnalyticsDebugWindowController::TBAnalyticsDebugWindowController()
    : AnalyticsDebugWindowController("Analytics Debug", false) {}

TBAnalyticsDebugWindowController* TBAnalyticsDebugWindowController::sharedController() {
    return Shared<TBAnalyticsDebugWindowController>::get(
        [] { return std::unique_ptr<TBAnalyticsDebugWindowController>(new TBAnalyticsDebugWindowController); });
}

void TBAnalyticsDebugWindowController::showWindow() { Shared<TBAnalyticsDebugWindowController>::show(sharedController()); }

void TBAnalyticsDebugWindowController::release() {
    std::lock_guard lock(Shared<TBAnalyticsDebugWindowController>::mutex());
    Shared<TBAnalyticsDebugWindowController>::slot().reset();
}

MPAnalyticsDebugWindowController::MPAnalyticsDebugWindowController()
    : AnalyticsDebugWindowController("MP Analytics Debug", true) {}

MPAnalyticsDebugWindowController* MPAnalyticsDebugWindowController::sharedController() {
    return Shared<MPAnalyticsDebugWindowController>::get(
        [] { return std::unique_ptr<MPAnalyticsDebugWindowController>(new MPAnalyticsDebugWindowController); });
}

void MPAnalyticsDebugWindowController::showWindow() { Shared<MPAnalyticsDebugWindowController>::show(sharedController()); }

void MPAnalyticsDebugWindowController::release() {
    std::lock_guard lock(Shared<MPAnalyticsDebugWindowController>::mutex());
    Shared<MPAnalyticsDebugWindowController>::slot().reset();
}

}  // namespace tamberlo
