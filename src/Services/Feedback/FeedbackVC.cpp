#include "Services/Feedback/FeedbackVC.h"

#include "Services/Analytics/TrackManager.h"
#include "Services/Feedback/ApiManager.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Shell/Localized.h"
#include "Widgets/ColorHelper.h"
#include "Widgets/StyledView.h"
#include "Widgets/ViewHelper.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace tamberlo {

namespace {
constexpr const char* chosenColor = "FF890C";
constexpr const char* otherColor = "999999";

QLabel* label(const char* key, double pixelSize, QWidget* parent) {
    auto* result = new QLabel(localizedText(key), parent);
    result->setFont(pingfangSC(pixelSize));
    return result;
}

void paint(StyledView* frame, QLabel* text, const char* hex) {
    const QColor color = hexStr(hex).value_or(Qt::gray);
    frame->setBorderColor(color);
    text->setStyleSheet(QString("color: %1;").arg(color.name()));
}
}  // namespace

FeedbackVC* FeedbackVC::initFromStory(QWidget* parent) { return new FeedbackVC(parent); }

FeedbackVC::FeedbackVC(QWidget* parent) : QDialog(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    // Titled and closable only: no resizing, no minimizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowModality(Qt::WindowModal);
    setWindowTitle(localizedText("意见反馈"));
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, QColor(0x33, 0x33, 0x33));
    setPalette(palette);
    setFixedSize(480, 520);

    titleLab = label("您在使用软件过程中感受如何？", 14, this);
    const auto choice = [this](StyledView*& frame, QLabel*& text, const char* key) {
        frame = new StyledView(this);
        frame->setBorderWidth(1);
        frame->setCornerRadius(4);
        frame->setFixedSize(120, 36);
        frame->setCursor(Qt::PointingHandCursor);
        text = label(key, 14, frame);
        text->setAlignment(Qt::AlignCenter);
        auto* layout = new QHBoxLayout(frame);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(text);
        frame->installEventFilter(this);
        paint(frame, text, otherColor);
    };
    choice(goodView, goodLab, "满意");
    choice(noGoodView, noGoodLab, "不满意");

    feedbackLab = label("意见反馈", 14, this);
    descLab = label("请描述您在使用我们的产品过程中所遇到的问题或者建议，我们会时刻关注，并不断优化。", 12, this);
    descLab->setWordWrap(true);
    descLab->setStyleSheet("color: #999999;");
    textview = new QPlainTextEdit(this);
    textview->setFont(pingfangSC(13));
    contactTitleLab = label("联系方式", 14, this);
    contactTf = new QLineEdit(this);
    contactTf->setFont(pingfangSC(13));
    contactTf->setPlaceholderText(localizedText("QQ/Email/电话号码（可选）"));
    submitBtn = new QPushButton(localizedText("提交"), this);
    submitBtn->setFixedHeight(36);
    submitBtn->setFont(pingfangSC_Medium(14));
    submitBtn->setStyleSheet("QPushButton { background: #FF890C; border: none; border-radius: 4px; color: white; }"
                             "QPushButton:disabled { background: #FFC489; color: white; }");
    setTitleColor(submitBtn, Qt::white);
    connect(submitBtn, &QPushButton::clicked, this, [this] { commitClick(); });

    auto* choices = new QHBoxLayout;
    choices->addWidget(goodView);
    choices->addSpacing(16);
    choices->addWidget(noGoodView);
    choices->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);
    layout->addWidget(titleLab);
    layout->addLayout(choices);
    layout->addSpacing(8);
    layout->addWidget(feedbackLab);
    layout->addWidget(descLab);
    layout->addWidget(textview, 1);
    layout->addWidget(contactTitleLab);
    layout->addWidget(contactTf);
    layout->addSpacing(8);
    layout->addWidget(submitBtn);
}

bool FeedbackVC::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == goodView) goodClick();
        if (watched == noGoodView) notGoodClick();
    }
    return QDialog::eventFilter(watched, event);
}

void FeedbackVC::goodClick() { choose(1); }
void FeedbackVC::notGoodClick() { choose(2); }

void FeedbackVC::choose(int choice) {
    paint(goodView, goodLab, choice == 1 ? chosenColor : otherColor);
    paint(noGoodView, noGoodLab, choice == 2 ? chosenColor : otherColor);
    feelGood_ = choice;
}

void FeedbackVC::reportSatisfaction() {
    if (feelGood_ == 0 || feelGood_ == reportedChoice_) return;
    reportedChoice_ = feelGood_;
    TrackManager::TrackSatisfyWithFuncName("使用满意度", feelGood_ == 1);
}

void FeedbackVC::commitClick() {
    const QString contact = contactTf->text();
    const QString feedback = textview->toPlainText();
    const bool noText = feedback.trimmed().isEmpty();
    if (noText && feelGood_ == 0) {
        HUD::showInfoWithStatus(localized("请输入反馈信息或选择满意度"));
        return;
    }
    if (feedback.size() > maximumLength) {
        HUD::showInfoWithStatus(localized("反馈文本太长"));
        return;
    }
    reportSatisfaction();
    if (noText) {
        close();
        return;
    }
    submitBtn->setEnabled(false);
    // The user may close the sheet while the request runs: the completion then finds nothing to do.
    ApiManager::shared().sendFeedBack(feedback, contact, [sheet = QPointer<FeedbackVC>(this)](bool success, auto&&, auto&&) {
        if (!sheet) return;
        sheet->submitBtn->setEnabled(true);
        if (success)
            sheet->close();
        else
            HUD::showErrorWithStatus(localized("提交失败，在稍后再次尝试"));
    });
}

}  // namespace tamberlo
