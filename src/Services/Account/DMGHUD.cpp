#include "Services/Account/DMGHUD.h"

#include "Services/Account/DMGChecker.h"
#include "platform/dispatch/DispatchQueue.h"
#include "Widgets/ViewHelper.h"

#include <QEvent>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QVBoxLayout>

namespace tamberlo {

namespace {

QPointer<DMGHUD>& currentOverlay() {
    static QPointer<DMGHUD> overlay;
    return overlay;
}

enum class Icon { none, info, success, error };

void showMessage(Icon icon, const std::string& status) {
    platform::DispatchQueue::main().async([icon, text = QString::fromStdString(status)] {
        DMGHUD::create();
        DMGHUD* hud = DMGHUD::current();
        if (!hud) return;
        hud->titleLabel->setText(text);
        if (icon == Icon::none) {
            hud->tagImageView->hide();
            hud->progressView->show();
            hud->layoutCard();
        } else {
            const char* name = icon == Icon::info ? "hud_info" : icon == Icon::success ? "hud_success" : "hud_error";
            hud->tagImageView->setPixmap(QPixmap(DMGChecker::sourceBundle() + "/" + name + ".png"));
            hud->tagImageView->show();
            hud->progressView->hide();
            hud->layoutCard();
            // Removes whichever overlay is current by then.
            platform::DispatchQueue::main().asyncAfter(DMGHUD::messageLifetime(), [] { DMGHUD::dismiss(); });
        }
    });
}

}  // namespace

double DMGHUD::messageLifetime() { return 1.0; }

DMGHUD* DMGHUD::current() { return currentOverlay().data(); }

void DMGHUD::create() {
    dismiss();
    QWidget* host = DMGChecker::currentVC();
    if (!host) return;
    currentOverlay() = new DMGHUD(host);
}

void DMGHUD::dismiss() {
    if (!platform::DispatchQueue::main().isCurrent()) {
        platform::DispatchQueue::main().async([] { dismiss(); });
        return;
    }
    if (DMGHUD* hud = currentOverlay().data()) {
        hud->hide();
        hud->deleteLater();
    }
    currentOverlay() = nullptr;
}

void DMGHUD::showProgressWithStatus(const std::string& status) { showMessage(Icon::none, status); }
void DMGHUD::showInfoWithStatus(const std::string& status) { showMessage(Icon::info, status); }
void DMGHUD::showSuccessWithStatus(const std::string& status) { showMessage(Icon::success, status); }
void DMGHUD::showErrorWithStatus(const std::string& status) { showMessage(Icon::error, status); }

DMGHUD::DMGHUD(QWidget* host) : QWidget(host) {
    setObjectName("DMGHUD");
    hudView = new QWidget(this);
    hudView->setObjectName("hudView");
    tagImageView = new QLabel(hudView);
    tagImageView->setFixedSize(36, 36);
    tagImageView->setScaledContents(true);
    progressView = new QProgressBar(hudView);
    progressView->setRange(0, 0);
    progressView->setTextVisible(false);
    progressView->setFixedSize(60, 8);
    titleLabel = new QLabel(hudView);
    // Server messages are shown as they are, never read as markup.
    titleLabel->setTextFormat(Qt::PlainText);
    titleLabel->setFont(pingfangSC(14));
    titleLabel->setAlignment(Qt::AlignCenter);
    titleLabel->setStyleSheet("color: #333333;");
    auto* layout = new QVBoxLayout(hudView);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(tagImageView, 0, Qt::AlignHCenter);
    layout->addWidget(progressView, 0, Qt::AlignHCenter);
    layout->addWidget(titleLabel, 0, Qt::AlignHCenter);
    awakeFromNib();
    setGeometry(host->rect());
    host->installEventFilter(this);
    show();
    raise();
}

void DMGHUD::awakeFromNib() {
    hudView->setAttribute(Qt::WA_StyledBackground);
    hudView->setStyleSheet("#hudView { background: #ffffff; border-radius: 10px; }");
}

void DMGHUD::layoutCard() {
    hudView->adjustSize();
    const QSize size(std::max(140, hudView->sizeHint().width()), std::max(100, hudView->sizeHint().height()));
    hudView->setGeometry((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
}

void DMGHUD::resizeEvent(QResizeEvent*) { layoutCard(); }

// The overlay covers its window, also after the window is resized.
bool DMGHUD::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
    return QWidget::eventFilter(watched, event);
}

}  // namespace tamberlo
