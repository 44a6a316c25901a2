// Fixtures of the view tests: small WAV files written by the test, clips and tracks over them,
// pixel helpers, and the Chinese interface texts.
#pragma once

#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Model/TrackModel.h"

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

class QWidget;

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace viewtest {

// A mono 16-bit WAV of `seconds` of a sine of peak `amplitude` at `rate` Hz.
void writeWav(const std::filesystem::path& path, double seconds, double amplitude = 0.1, int rate = 8000);

// A clip over a file written for it, starting at `start`.
std::shared_ptr<tamberlo::MusicModel> makeClip(const std::filesystem::path& path, double seconds, double start,
                                               double amplitude = 0.1);
std::shared_ptr<tamberlo::TrackModel> makeTrack(std::vector<std::shared_ptr<tamberlo::MusicModel>> clips,
                                                const std::string& name = "track.wav");

// Whether two colours agree within `tolerance` per channel.
bool near(QColor a, QColor b, int tolerance = 3);
QColor pixel(const QImage& image, int x, int y);

// Interface texts in Chinese for the rest of the test binary.
void useChinese();

// Saves an image under the build tree's screenshot folder; returns the file's path.
std::string saveScreenshot(const QImage& image, const std::string& name);

// Whether the text holds a Han character or CJK punctuation (full-width forms included).
bool hasHan(const QString& text);
// Every text a window shows: window titles, labels, buttons, tooltips, placeholders, pop-up items,
// alert texts, the overlay's message, menus and their actions, of `root` and everything inside it.
QStringList shownTexts(QWidget* root);

// A fresh editor for a window test: Chinese texts, no history, an empty file store, no overlay
// messages (each lives 0.1 s), the overlay installed, no selected clip.
void startEditor();
// What a window test leaves behind once its window is gone: waveform reads and the overlay's
// dismissals done, the overlay removed, the player stopped with no tracks and no selection.
void settleEditor();
// Whether the overlay was asked to show this message.
bool requested(tamberlo::HUD::Kind kind, const std::string& status);

// Runs the event loop until `done` holds or `ms` pass (by default long enough for a loaded machine).
bool waitUntil(const std::function<bool()>& done, int ms = 20000);

}  // namespace viewtest
