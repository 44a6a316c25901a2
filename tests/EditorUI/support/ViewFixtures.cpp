#include "EditorUI/support/ViewFixtures.h"

#include "TamberloMac/Shell/Localized.h"
#include "platform/avfaudio/AVAudioFile.h"

#include "EditorUI/Views/TBPopLabel.h"
#include "EditorUI/Views/WaveformStore.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/Interface/GCD.h"
#include "TamberloMac/History/RecordSequence.h"
#include "TamberloMac/Playback/Player.h"
#include "Widgets/HUDView.h"

#include <QTest>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <memory>
#include <vector>

namespace viewtest {

namespace {
void put16(std::ofstream& out, uint16_t v) { out.put(char(v & 0xFF)).put(char(v >> 8)); }
void put32(std::ofstream& out, uint32_t v) { put16(out, uint16_t(v & 0xFFFF)), put16(out, uint16_t(v >> 16)); }
}  // namespace

void writeWav(const std::filesystem::path& path, double seconds, double amplitude, int rate) {
    const uint32_t frames = uint32_t(std::lround(seconds * rate));
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    put32(out, 36 + frames * 2);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, uint32_t(rate));
    put32(out, uint32_t(rate) * 2);
    put16(out, 2);
    put16(out, 16);
    out.write("data", 4);
    put32(out, frames * 2);
    for (uint32_t i = 0; i < frames; ++i)
        put16(out, uint16_t(int16_t(std::lround(32767 * amplitude * std::sin(2 * M_PI * 440 * i / rate)))));
}

std::shared_ptr<tamberlo::MusicModel> makeClip(const std::filesystem::path& path, double seconds, double start,
                                               double amplitude) {
    writeWav(path, seconds, amplitude);
    auto clip = tamberlo::MusicModel::make();
    clip->file = platform::AVAudioFile::forReading(platform::URL(path));
    clip->name = path.filename().string();
    clip->startTime = start;
    return clip;
}

std::shared_ptr<tamberlo::TrackModel> makeTrack(std::vector<std::shared_ptr<tamberlo::MusicModel>> clips,
                                                const std::string& name) {
    auto track = tamberlo::TrackModel::make();
    track->name = name;
    track->musics = std::move(clips);
    return track;
}

bool near(QColor a, QColor b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

QColor pixel(const QImage& image, int x, int y) { return image.pixelColor(x, y); }

void useChinese() { tamberlo::setPreferredLanguagesForTesting(std::vector<std::string>{"zh-CN"}); }

std::string saveScreenshot(const QImage& image, const std::string& name) {
    const QString dir = QStringLiteral(TAMBERLO_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    const QString path = dir + "/" + QString::fromStdString(name);
    image.save(path);
    return path.toStdString();
}

void startEditor() {
    useChinese();
    tamberlo::RecordSequence::resetShared();
    tamberlo::MusicFileManager::resetShared();
    tamberlo::HUD::clearRequests();
    tamberlo::HUD::setMessageLifetime(0.1);
    tamberlo::HUDView::install();
    tamberlo::Player::shared().setSelectMusic(nullptr);
}

void settleEditor() {
    tamberlo::WaveformStore::shared().waitForReads();
    // Let the overlay's pending dismissals run here, not in a later test. Each is due a lifetime
    // after its message showed, and the main queue takes due work in the order of the deadlines:
    // once the messages already asked for have shown, a marker sent with the same delay runs after
    // every dismissal (however late a loaded machine runs them).
    QCoreApplication::processEvents();
    auto settled = std::make_shared<std::atomic<bool>>(false);
    tamberlo::GCDAfterMain([settled] { *settled = true; }, tamberlo::HUD::messageLifetime());
    waitUntil([&] { return settled->load(); }, 60000);
    tamberlo::HUDView::uninstall();
    tamberlo::HUD::setMessageLifetime(1.0);
    auto& player = tamberlo::Player::shared();
    player.stop();
    player.setTracks({});
    player.setSelectMusic(nullptr);
}

bool requested(tamberlo::HUD::Kind kind, const std::string& status) {
    for (const auto& message : tamberlo::HUD::requests())
        if (message.kind == kind && message.status == status) return true;
    return false;
}

bool hasHan(const QString& text) {
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3000 && u <= 0x303F) || (u >= 0xFF00 && u <= 0xFFEF)) return true;
    }
    return false;
}

QStringList shownTexts(QWidget* root) {
    QStringList texts;
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* widget : widgets) {
        texts << widget->toolTip();
        if (widget->isWindow()) texts << widget->windowTitle();
        if (auto* label = qobject_cast<QLabel*>(widget)) texts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
        if (auto* line = qobject_cast<QLineEdit*>(widget)) texts << line->placeholderText();
        if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) texts << edit->placeholderText();
        if (auto* alert = qobject_cast<QMessageBox*>(widget)) texts << alert->text() << alert->informativeText();
        if (auto* bubble = qobject_cast<tamberlo::TBPopLabel*>(widget)) texts << bubble->text();
        if (auto* overlay = qobject_cast<tamberlo::HUDView*>(widget))
            texts << QString::fromStdString(overlay->message().status);
        if (auto* popUp = qobject_cast<QComboBox*>(widget))
            for (int i = 0; i < popUp->count(); ++i) texts << popUp->itemText(i);
        for (QAction* action : widget->actions()) {
            texts << action->text() << action->toolTip();
            if (action->menu()) {
                texts << action->menu()->title();
                for (QAction* item : action->menu()->actions()) texts << item->text();
            }
        }
    }
    texts.removeAll(QString());
    return texts;
}

bool waitUntil(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace viewtest
