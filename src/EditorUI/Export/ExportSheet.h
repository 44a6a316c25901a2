// The export sheet: a window-modal dialog over the editor window with the format pop-up, cancel and
// save. Save asks for a destination in a save panel, then runs the export controller's mix-down
// and conversion; the sheet shows the preparation progress, closes itself after a successful
// export and becomes usable again after a failed one.
//
//   auto* sheet = ExportSheet::initFromStory(document.exportMusics(), window);
//   sheet->open();
#pragma once

#include "TamberloMac/Export/ExportController.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tamberlo {

class ExportSheet : public QDialog {
    Q_OBJECT
public:
    // What the save panel is asked to show.
    struct SavePanel {
        QString message;             // "保存为..."
        QStringList allowedFileTypes;  // m4a, aac, wav, caf, mp3
        QString directory;           // the user's Desktop folder (links resolved), else the home folder
        QString nameFieldStringValue;  // "yyyyMMddHHmmss.<format>"
    };
    // Runs a save panel as a sheet on `window`; `completion` gets the chosen path, or none when the
    // panel was cancelled. Tests replace it; the default is a window-modal QFileDialog.
    using SavePanelHook =
        std::function<void(QWidget* window, const SavePanel& panel, std::function<void(std::optional<QString>)> completion)>;
    static SavePanelHook& savePanelHook();
    static void runDefaultSavePanel(QWidget* window, const SavePanel& panel,
                                    std::function<void(std::optional<QString>)> completion);

    // A sheet over `controller` (a new one when null), window-modal on `parent`'s window and
    // deleted when it closes. Present it with open().
    static ExportSheet* initFromStory(std::shared_ptr<ExportController> controller = nullptr, QWidget* parent = nullptr);

    const std::shared_ptr<ExportController>& controller() const { return controller_; }

    // The buttons' actions.
    void cancelClick();
    void saveClick();

    // The proposed file name for a format: the local date and time "yyyyMMddHHmmss", a full stop
    // and the format.
    static QString proposedFileName(const QString& format);

    QLabel* titleLab() const { return titleLab_; }
    QLabel* descLab() const { return descLab_; }
    QLabel* formatLab() const { return formatLab_; }
    QComboBox* formatPopUp() const { return formatPopUp_; }
    QPushButton* cancelBtn() const { return cancelBtn_; }
    QPushButton* saveBtn() const { return saveBtn_; }
    QProgressBar* progressView() const { return progressView_; }
    QLabel* progressLab() const { return progressLab_; }

    // Whether an export runs (from the mix-down's start to the conversion's outcome).
    bool isExporting() const { return exporting_; }

signals:
    // The progress label changed ("12.5%").
    void progressChanged(const QString& label);

protected:
    // A running export cannot be dismissed (Escape, the window's close), as its buttons are disabled.
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    ExportSheet(std::shared_ptr<ExportController> controller, QWidget* parent);
    void viewDidLoad();
    void setBusy(bool busy);

    std::shared_ptr<ExportController> controller_;
    QLabel* titleLab_ = nullptr;
    QLabel* descLab_ = nullptr;
    QLabel* formatLab_ = nullptr;
    QComboBox* formatPopUp_ = nullptr;
    QPushButton* cancelBtn_ = nullptr;
    QPushButton* saveBtn_ = nullptr;
    QProgressBar* progressView_ = nullptr;
    QLabel* progressLab_ = nullptr;
    bool exporting_ = false;
};

}  // namespace tamberlo
