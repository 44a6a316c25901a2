// Draws the status overlay (tamberlo::HUD): a view that covers the host window with a rounded
// "F7F7F7" panel in its middle (radius 10) holding a spinner (progress) or an icon (info, success,
// error) above the message. HUD decides what is shown and when it goes; this view follows it.
//
//   HUDView::install();                       // once, in the application (or a test)
//   HUD::showSuccessWithStatus("导出成功");    // drawn over the last window, gone after 1 s
#pragma once

#include "TamberloMac/Interface/HUD.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

namespace tamberlo {

class HUDView : public QWidget {
    Q_OBJECT
public:
    // Where an overlay goes; null when there is no window.
    using HostProvider = std::function<QWidget*()>;

    // Makes the HUD's listener draw its messages. Without a provider the overlay covers the
    // application's active modal window, else its active window, else its last visible window.
    static void install(HostProvider host = {});
    // Removes the listener and any overlay on screen.
    static void uninstall();
    // The overlay widget on screen, or null.
    static HUDView* current();

    HUDView(const HUD::Message& message, QWidget* host);
    ~HUDView() override;

    const HUD::Message& message() const { return message_; }
    // The panel's rectangle in this view.
    QRectF panelRect() const;

    // The default host: the active modal window, the active window or the last visible window.
    static QWidget* defaultHost();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    HUD::Message message_;
    int spinnerTimer_ = 0;
    int spinnerStep_ = 0;
};

}  // namespace tamberlo
