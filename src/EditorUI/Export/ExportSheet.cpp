#include "EditorUI/Export/ExportSheet.h"

#include "TamberloMac/Shell/DateUtilities.h"
#include "TamberloMac/Shell/Localized.h"
#include "Widgets/ColorHelper.h"
#include "Widgets/ViewHelper.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <chrono>

namespace tamberlo {

namespace {


QPushButton* sheetButton(const QString& title, const QColor& fill, QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setFocusPolicy(Qt::NoFocus);
    button->setFixedSize(96, 32);
    button->setFont(pingfangSC(13));
    button->setCursor(Qt::PointingHandCursor);
    button->setStyleSheet(QString("QPushButton { background: %1; border: none; border-radius: 5px; }"
                                  "QPushButton:disabled { background: #555555; }")
                              .arg(fill.name()));
    return button;
}

QString popUpStyle() {
    return "QComboBox { background: #33353B; color: white; border: none; border-radius: 4px; padding: 3px 10px; }"
           "QComboBox QAbstractItemView { background: #33353B; color: white; selection-background-color: #FC2C5C; }";
}

// The Desktop folder (links resolved) when it exists; otherwise the home folder, so that a save
// never lands in whatever folder the program was started from.
QString desktopDirectory() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QFileInfo info(desktop);
    if (!desktop.isEmpty() && info.isDir()) return info.canonicalFilePath();
    return QDir::homePath();
}

}  // namespace

ExportSheet::SavePanelHook& ExportSheet::savePanelHook() {
    static SavePanelHook hook = &ExportSheet::runDefaultSavePanel;
    return hook;
}

void ExportSheet::runDefaultSavePanel(QWidget* window, const SavePanel& panel,
                                      std::function<void(std::optional<QString>)> completion) {
    auto* dialog = new QFileDialog(window, panel.message);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const QString& type : panel.allowedFileTypes) filters << QString("%1 (*.%1)").arg(type);
    dialog->setNameFilters(filters);
    const QString suffix = QFileInfo(panel.nameFieldStringValue).suffix();
    if (!suffix.isEmpty()) {
        dialog->selectNameFilter(QString("%1 (*.%1)").arg(suffix));
        dialog->setDefaultSuffix(suffix);
    }
    dialog->setDirectory(panel.directory.isEmpty() ? QDir::homePath() : panel.directory);
    dialog->selectFile(panel.nameFieldStringValue);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result == QDialog::Accepted && !files.isEmpty() && !files.first().isEmpty())
            completion(files.first());
        else
            completion(std::nullopt);
    });
    dialog->open();
}

ExportSheet* ExportSheet::initFromStory(std::shared_ptr<ExportController> controller, QWidget* parent) {
    if (!controller) controller = ExportController::make();
    return new ExportSheet(std::move(controller), parent ? parent->window() : nullptr);
}

ExportSheet::ExportSheet(std::shared_ptr<ExportController> controller, QWidget* parent)
    : QDialog(parent), controller_(std::move(controller)) {
    setObjectName("ExportController");
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(440, 260);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, dark1());
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::ButtonText, Qt::white);
    setPalette(palette);

    titleLab_ = new QLabel(this);
    titleLab_->setFont(pingfangSC_Medium(16));
    titleLab_->setAlignment(Qt::AlignCenter);
    descLab_ = new QLabel(this);
    descLab_->setFont(pingfangSC(12));
    descLab_->setStyleSheet("color: #999999;");
    formatLab_ = new QLabel(this);
    formatLab_->setFont(pingfangSC(13));
    formatPopUp_ = new QComboBox(this);
    formatPopUp_->setFocusPolicy(Qt::NoFocus);
    formatPopUp_->setFixedWidth(120);
    formatPopUp_->setStyleSheet(popUpStyle());
    for (const auto& format : ExportController::exportFormats()) formatPopUp_->addItem(QString::fromStdString(format));
    formatPopUp_->setCurrentIndex(0);
    progressView_ = new QProgressBar(this);
    progressView_->setRange(0, 1000);  // tenths of a percent: the label shows one decimal
    progressView_->setTextVisible(false);
    progressView_->setFixedHeight(6);
    progressView_->setStyleSheet(QString("QProgressBar { background: #555555; border: none; border-radius: 3px; }"
                                         "QProgressBar::chunk { background: %1; border-radius: 3px; }")
                                     .arg(primary().name()));
    progressLab_ = new QLabel(this);
    progressLab_->setFont(pingfangSC(12));
    progressLab_->setFixedWidth(56);
    progressLab_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    cancelBtn_ = sheetButton(QString(), QColor(0x55, 0x55, 0x55), this);
    saveBtn_ = sheetButton(QString(), primary(), this);

    auto* formatRow = new QHBoxLayout;
    formatRow->addStretch();
    formatRow->addWidget(formatLab_);
    formatRow->addSpacing(8);
    formatRow->addWidget(formatPopUp_);
    formatRow->addStretch();
    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(progressView_, 1);
    progressRow->addSpacing(8);
    progressRow->addWidget(progressLab_);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(cancelBtn_);
    buttonRow->addSpacing(16);
    buttonRow->addWidget(saveBtn_);
    buttonRow->addStretch();
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 20, 28, 20);
    column->addWidget(titleLab_);
    column->addSpacing(6);
    column->addWidget(descLab_, 0, Qt::AlignHCenter);
    column->addStretch();
    column->addLayout(formatRow);
    column->addStretch();
    column->addLayout(progressRow);
    column->addSpacing(12);
    column->addLayout(buttonRow);

    connect(cancelBtn_, &QPushButton::clicked, this, [this] { cancelClick(); });
    connect(saveBtn_, &QPushButton::clicked, this, [this] { saveClick(); });

    // The controller reaches the sheet only while it exists: a pending close after a successful
    // export may run after the user closed the window.
    QPointer<ExportSheet> sheet(this);
    controller_->dismissBlock = [sheet] {
        if (sheet) sheet->cancelClick();
    };
    controller_->renderStartBlock = [sheet] {
        if (!sheet) return;
        sheet->exporting_ = true;
        sheet->setBusy(true);
    };
    controller_->progressBlock = [sheet](double percent, const std::string& label) {
        if (!sheet) return;
        sheet->progressView_->setValue(int(percent * 10.0 + 0.5));
        sheet->progressLab_->setText(QString::fromStdString(label));
        emit sheet->progressChanged(sheet->progressLab_->text());
    };
    controller_->conversionFinishedBlock = [sheet](bool success) {
        if (!sheet) return;
        sheet->exporting_ = false;
        // After a failure the progress stays as it was and the user may save again or cancel;
        // after a success the sheet closes by itself a moment later.
        if (!success) sheet->setBusy(false);
    };

    viewDidLoad();
}

void ExportSheet::viewDidLoad() {
    titleLab_->setText(localizedText("导出设置"));
    descLab_->setText(localizedText("*注意：导出时只导出所有播放的音轨"));
    formatLab_->setText(localizedText("格式:"));
    cancelBtn_->setText(localizedText("取消"));
    saveBtn_->setText(localizedText("存储"));
    progressView_->setValue(0);
    progressView_->hide();
    progressLab_->hide();
    setTitleColor(cancelBtn_, Qt::white);
    setTitleColor(saveBtn_, Qt::white);
}

void ExportSheet::setBusy(bool busy) {
    cancelBtn_->setEnabled(!busy);
    saveBtn_->setEnabled(!busy);
    if (busy) {
        progressView_->show();
        progressLab_->show();
    }
}

void ExportSheet::cancelClick() { close(); }

void ExportSheet::reject() {
    if (!exporting_) QDialog::reject();
}

void ExportSheet::closeEvent(QCloseEvent* event) {
    if (exporting_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

QString ExportSheet::proposedFileName(const QString& format) {
    return QString::fromStdString(stringFromDate(std::chrono::system_clock::now(), "yyyyMMddHHmmss")) + "." + format;
}

void ExportSheet::saveClick() {
    const QString title = formatPopUp_->currentIndex() >= 0 ? formatPopUp_->currentText() : QString();
    controller_->formatChanged(title.isEmpty() ? std::nullopt : std::optional<std::string>(title.toStdString()));
    QWidget* window = parentWidget() ? parentWidget()->window() : nullptr;
    if (!window) return;

    SavePanel panel;
    panel.message = localizedText("保存为...");
    for (const auto& type : ExportController::exportFormats()) panel.allowedFileTypes << QString::fromStdString(type);
    panel.directory = desktopDirectory();
    panel.nameFieldStringValue = proposedFileName(QString::fromStdString(controller_->options.format.value_or("")));

    QPointer<ExportSheet> sheet(this);
    savePanelHook()(this, panel, [sheet](std::optional<QString> path) {
        // A cancelled panel leaves the sheet as it was.
        if (!sheet || !path || path->isEmpty()) return;
        sheet->controller_->saveUrl = platform::URL(path->toStdString());
        sheet->controller_->render();
    });
}

}  // namespace tamberlo
