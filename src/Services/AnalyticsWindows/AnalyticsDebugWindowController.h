// The analytics debug windows: each lists every hit announced with "AnalyticsEvent", newest first.
// They exist only when the user-defaults switch "ShowDebugMenu" is on when the application starts;
// TBAnalyticsDebugWindowController watches the web-analytics client, MPAnalyticsDebugWindowController
// (above ordinary windows) the measurement-protocol tracker, and both hear the hits of both.
//
//   MPAnalyticsDebugWindowController::sharedController();   // at start-up: begins listening
//   MPAnalyticsDebugWindowController::showWindow();          // nothing when the switch was off
#pragma once

#include "Services/Analytics/KKGADictionaryBuilder.h"
#include "platform/foundation/NotificationCenter.h"

#include <QAbstractListModel>
#include <QWidget>

#include <memory>
#include <vector>

class QListView;

namespace tamberlo {

// The hits as rows, newest first: "name=value" pairs in name order.
class AnalyticsEventsModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Puts the hit at row 0.
    void insertAtTop(KKGAHit hit);
    const std::vector<KKGAHit>& events() const { return events_; }

    static QString textOf(const KKGAHit& hit);

private:
    std::vector<KKGAHit> events_;
};

class AnalyticsDebugWindowController : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* showDebugMenuKey = "ShowDebugMenu";

    ~AnalyticsDebugWindowController() override;

    // The hits heard so far, newest first (the list grows while the process runs).
    const std::vector<KKGAHit>& eventsArray() const { return eventsArrayController_->events(); }
    AnalyticsEventsModel* eventsArrayController() const { return eventsArrayController_; }
    // Adds the hit at the top, on the main thread, after the current event.
    void analyticsReceived(const platform::Notification& notification);

protected:
    AnalyticsDebugWindowController(const QString& title, bool staysOnTop);

private:
    AnalyticsEventsModel* eventsArrayController_;
    QListView* list_;
    platform::NotificationCenter::ObserverToken token_ = 0;
};

class TBAnalyticsDebugWindowController : public AnalyticsDebugWindowController {
    Q_OBJECT
public:
    // The one controller; null for the whole process when the switch was off at the first call.
    static TBAnalyticsDebugWindowController* sharedController();
    static void showWindow();
    // Deletes the controller, before the application object goes; the next call reads the switch
    // again.
    static void release();

private:
    TBAnalyticsDebugWindowController();
};

class MPAnalyticsDebugWindowController : public AnalyticsDebugWindowController {
    Q_OBJECT
public:
    static MPAnalyticsDebugWindowController* sharedController();
    static void showWindow();
    static void release();

private:
    MPAnalyticsDebugWindowController();
};

}  // namespace tamberlo
