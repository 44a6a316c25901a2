// The feedback sheet: whether the program satisfies the user (满意 / 不满意), a free text and an
// optional contact. The choice becomes usage events; the text goes out through ApiManager. Every
// presentation uses a new sheet, which deletes itself when it closes.
//
//   FeedbackVC::initFromStory(window)->open();
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace tamberlo {

class StyledView;

class FeedbackVC : public QDialog {
    Q_OBJECT
public:
    static constexpr int maximumLength = 1000;  // UTF-16 code units of the untrimmed text

    // A new sheet, window-modal over `parent` once opened.
    static FeedbackVC* initFromStory(QWidget* parent = nullptr);

    void goodClick();
    void notGoodClick();
    void commitClick();

    // 0 none, 1 satisfied, 2 not satisfied.
    int feelGood() const { return feelGood_; }

    QPlainTextEdit* textview = nullptr;
    QLineEdit* contactTf = nullptr;
    QLabel* titleLab = nullptr;
    StyledView* goodView = nullptr;
    StyledView* noGoodView = nullptr;
    QLabel* goodLab = nullptr;
    QLabel* noGoodLab = nullptr;
    QLabel* feedbackLab = nullptr;
    QLabel* descLab = nullptr;
    QLabel* contactTitleLab = nullptr;
    QPushButton* submitBtn = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FeedbackVC(QWidget* parent);
    void choose(int choice);
    // Sends the satisfaction events once per choice: a second attempt with the same choice
    // (after a failed post) does not count the user twice.
    void reportSatisfaction();

    int feelGood_ = 0;
    int reportedChoice_ = 0;
};

}  // namespace tamberlo
