// The account windows' status overlay, apart from the editor's: a white rounded card with an icon
// or a spinner and one line of plain text, over the whole of the last window the application
// opened. One overlay at most is current; info, success and error dismiss whatever overlay is
// current 1 s later. Every call may come from any thread and does its work on the main thread.
#pragma once

#include <QPointer>
#include <QWidget>

#include <string>

class QLabel;
class QProgressBar;

namespace tamberlo {

class DMGHUD : public QWidget {
    Q_OBJECT
public:
    // Replaces the current overlay by a new one (main thread).
    static void create();
    static void showProgressWithStatus(const std::string& status);
    static void showInfoWithStatus(const std::string& status);
    static void showSuccessWithStatus(const std::string& status);
    static void showErrorWithStatus(const std::string& status);
    // Removes the current overlay, on the main thread (at once when called there).
    static void dismiss();
    // The overlay on screen, or null (main thread).
    static DMGHUD* current();
    // How long info, success and error messages stay (1 s).
    static double messageLifetime();

    QWidget* hudView = nullptr;
    QLabel* titleLabel = nullptr;
    QLabel* tagImageView = nullptr;
    QProgressBar* progressView = nullptr;

    // Sizes the card to its content and centres it.
    void layoutCard();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    explicit DMGHUD(QWidget* host);
    void awakeFromNib();
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace tamberlo
