// tamberlo-script: runs the editor's document commands without a window, through the same
// EditorDocument calls the window makes, and prints the track/clip table after each step.
//
//   tamberlo-script SCRIPT.json
//
// The script is a JSON list of steps; tracks and clips are 0-based indices into the table:
//   {"cmd": "import", "files": ["A.wav", "B.wav"]}
//   {"cmd": "select", "track": 1, "clip": 0}              (clip may be left out: no clip)
//   {"cmd": "move", "track": 1, "clip": 0, "start": 6.0}
//   {"cmd": "fadeIn" | "fadeOut", "track": 0, "clip": 0, "seconds": 1.0}
//   {"cmd": "muteClip" | "deleteClip", "track": 0, "clip": 0}
//   {"cmd": "trackMute", "track": 1, "mute": true}
//   {"cmd": "solo", "track": 1}                            (toggles, as the row's button)
//   {"cmd": "trackVolume", "track": 1, "volume": 0.5}
//   {"cmd": "masterVolume", "volume": 0.8}
//   {"cmd": "split", "track": 0, "time": 3.0}
//   {"cmd": "duplicateTrack" | "deleteTrack", "track": 1}
//   {"cmd": "undo"}  {"cmd": "redo"}
//   {"cmd": "play", "from": 3.0, "seconds": 7.0, "capture": "out.wav", "track": 0}
//        plays all tracks (or the given track alone) from the playhead ("from" moves it first)
//        for that many seconds on the output device, then stops; the null device writes what it
//        plays to "capture". Prints the first and last playhead positions reported.
//   {"cmd": "export", "format": "wav", "path": "out.wav"}
//        prints "export: succeeded", "export: failed" or "export: nothing to export"
// Status overlay messages are printed as they appear ("HUD error: 导出失败").
//
// Exit status: 0 when every step ran, 1 when a step cannot run (a bad index, a value of the wrong type; one line on stderr),
// 2 for a missing or malformed script.

#include "Sonora/Internals/Engine/AudioEngine.h"
#include "TamberloMac/Document/EditorDocument.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Playback/Player.h"
#include "TamberloMac/detail/DebugText.h"
#include "platform/avfaudio/AVAudioEngine.h"
#include "platform/avfaudio/AVAudioIONode.h"
#include "platform/coreaudio/AudioDeviceStream.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>

using namespace tamberlo;
using detail::debugBool;
using detail::debugNumber;

namespace {

struct StepError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

void spin(const std::function<bool()>& done, double seconds) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < qint64(seconds * 1000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::string shortPath(const std::shared_ptr<platform::AVAudioFile>& file) {
    if (!file) return "none";
    const std::filesystem::path path = file->url().path();
    return (path.parent_path().filename() / path.filename()).string();
}

void printTable(const EditorDocument& document) {
    const auto selected = Player::shared().selectMusic();
    std::cout << "tracks: " << document.tracks.size() << "\n";
    for (size_t t = 0; t < document.tracks.size(); ++t) {
        const auto& track = document.tracks[t];
        std::cout << (track == document.selectedTrack ? " *" : "  ") << "[" << t << "] \"" << track->name
                  << "\" volume=" << debugNumber(track->volume) << " mute=" << debugBool(track->isMute)
                  << " solo=" << debugBool(track->isOnlyPlay) << "\n";
        for (size_t c = 0; c < track->musics.size(); ++c) {
            const auto& clip = track->musics[c];
            std::cout << (clip == selected ? "     *(" : "      (") << c << ") \"" << clip->name
                      << "\" start=" << debugNumber(clip->startTime) << " duration=" << debugNumber(clip->duration())
                      << " fadeIn=" << debugNumber(clip->fadeInTime) << " fadeOut=" << debugNumber(clip->fadeOutTime)
                      << " mute=" << debugBool(clip->isMute) << " file=" << shortPath(clip->file) << "\n";
        }
    }
    std::cout << std::flush;
}

class Runner {
public:
    void run(const QJsonObject& step) {
        const std::string cmd = text(step, "cmd");
        if (cmd == "import") {
            std::vector<platform::URL> urls;
            if (!step.value("files").isArray()) throw StepError("\"files\" must be a list of paths");
            for (const auto& file : step.value("files").toArray()) {
                if (!file.isString() || file.toString().isEmpty())
                    throw StepError("\"files\" must hold non-empty path strings");
                urls.emplace_back(std::filesystem::absolute(file.toString().toStdString()));
            }
            document_.importMusics(urls);
        } else if (cmd == "select") {
            auto track = trackAt(step);
            document_.select(track, step.contains("clip") ? clipAt(track, step) : nullptr);
        } else if (cmd == "move") {
            auto track = trackAt(step);
            document_.moveMusic(track, clipAt(track, step), number(step, "start"));
        } else if (cmd == "fadeIn" || cmd == "fadeOut" || cmd == "muteClip" || cmd == "deleteClip") {
            auto track = trackAt(step);
            document_.select(track, clipAt(track, step));
            if (cmd == "fadeIn") document_.setFadeIn(number(step, "seconds"));
            if (cmd == "fadeOut") document_.setFadeOut(number(step, "seconds"));
            if (cmd == "muteClip") document_.muteMusic();
            if (cmd == "deleteClip") document_.deleteMusic();
        } else if (cmd == "trackMute") {
            document_.setTrackMute(trackAt(step), flag(step, "mute", true));
        } else if (cmd == "solo") {
            document_.toggleOnlyPlay(trackAt(step));
        } else if (cmd == "trackVolume") {
            document_.setTrackVolume(trackAt(step), number(step, "volume"));
        } else if (cmd == "masterVolume") {
            document_.setMainVolume(number(step, "volume"));
        } else if (cmd == "split") {
            auto track = trackAt(step);
            document_.select(track, Player::shared().selectMusic());
            document_.split(number(step, "time"));
        } else if (cmd == "duplicateTrack") {
            document_.duplicateTrack(trackAt(step));
        } else if (cmd == "deleteTrack") {
            document_.deleteTrack(trackAt(step));
        } else if (cmd == "undo") {
            document_.undo();
        } else if (cmd == "redo") {
            document_.redo();
        } else if (cmd == "play") {
            play(step);
        } else if (cmd == "export") {
            exportTo(step);
        } else {
            throw StepError("unknown command \"" + cmd + "\"");
        }
    }

    const EditorDocument& document() const { return document_; }

private:
    static double number(const QJsonObject& step, const char* key) {
        if (!step.value(key).isDouble()) throw StepError(std::string("\"") + key + "\" must be a number");
        return step.value(key).toDouble();
    }

    static bool flag(const QJsonObject& step, const char* key, bool absent) {
        if (!step.contains(key)) return absent;
        if (!step.value(key).isBool()) throw StepError(std::string("\"") + key + "\" must be true or false");
        return step.value(key).toBool();
    }

    static std::string text(const QJsonObject& step, const char* key) {
        if (!step.value(key).isString() || step.value(key).toString().isEmpty())
            throw StepError(std::string("\"") + key + "\" must be a non-empty string");
        return step.value(key).toString().toStdString();
    }

    // A 0-based index; a value that is not a whole number is an error of the step, not "no track".
    static int index(const QJsonObject& step, const char* key) {
        const QJsonValue value = step.value(key);
        if (value.isUndefined()) return -1;
        const double number = value.toDouble(-1);
        if (!value.isDouble() || number != std::floor(number) || number < 0 || number > 1e9)
            throw StepError(std::string("\"") + key + "\" must be a whole number of at least 0");
        return int(number);
    }

    std::shared_ptr<TrackModel> trackAt(const QJsonObject& step) const {
        const int index = Runner::index(step, "track");
        if (index < 0 || size_t(index) >= document_.tracks.size())
            throw StepError("no track " + std::to_string(index));
        return document_.tracks[size_t(index)];
    }

    static std::shared_ptr<MusicModel> clipAt(const std::shared_ptr<TrackModel>& track, const QJsonObject& step) {
        const int index = Runner::index(step, "clip");
        if (index < 0 || size_t(index) >= track->musics.size()) throw StepError("no clip " + std::to_string(index));
        return track->musics[size_t(index)];
    }

    void play(const QJsonObject& step) {
        const double seconds = number(step, "seconds");
        if (step.contains("from")) document_.setPlayStart(number(step, "from"));
        auto& player = Player::shared();
        const std::string capture = step.contains("capture") ? text(step, "capture") : std::string();
        player.engineWillStart = [capture](sonora::AudioEngine& engine) {
            if (!capture.empty())
                engine.avEngine()->outputNode()->deviceStream()->startCapture(std::filesystem::absolute(capture));
        };
        std::optional<double> first;
        double last = document_.playStart();
        // As the window: every tick moves the playhead, which is where the next play starts.
        player.updateTimeBlock = [this, &first, &last](double position) {
            if (!first) first = position;
            last = position;
            document_.setPlayStart(position);
        };
        if (step.contains("track")) {
            document_.select(trackAt(step), player.selectMusic());
            document_.playSelectedTrack();
        } else {
            document_.playAll();
        }
        const bool playing = player.isPlay();
        spin([] { return false; }, seconds);
        if (player.isPlay()) document_.stop();
        player.updateTimeBlock = nullptr;
        player.engineWillStart = nullptr;
        std::cout << "play: " << (playing ? "played" : "nothing to play") << ", positions "
                  << (first ? debugNumber(*first) : "none") << " to " << debugNumber(last) << std::endl;
    }

    void exportTo(const QJsonObject& step) {
        const std::string format = text(step, "format");
        const std::filesystem::path path = std::filesystem::absolute(text(step, "path"));
        auto controller = document_.exportMusics();
        if (!controller) {
            spin([] { return false; }, 0.05);  // lets the overlay message through
            std::cout << "export: nothing to export" << std::endl;
            return;
        }
        std::optional<bool> outcome;
        controller->conversionFinishedBlock = [&outcome](bool success) { outcome = success; };
        EditorDocument::saveExport(controller, format, platform::URL(path));
        spin([&outcome] { return outcome.has_value(); }, 600);
        controller->conversionFinishedBlock = nullptr;
        std::cout << "export: " << (!outcome ? "timed out" : *outcome ? "succeeded" : "failed") << std::endl;
    }

    EditorDocument document_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::cerr << "usage: tamberlo-script SCRIPT.json\n";
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::cerr << "tamberlo-script: cannot read " << argv[1] << "\n";
        return 2;
    }
    QJsonParseError error;
    const QJsonDocument script = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !script.isArray()) {
        std::cerr << "tamberlo-script: the script must be a JSON list of steps ("
                  << error.errorString().toStdString() << ")\n";
        return 2;
    }

    HUD::setListener([](const std::optional<HUD::Message>& message) {
        if (message) std::cout << "HUD " << HUD::nameOf(message->kind) << ": " << message->status << std::endl;
    });

    Runner runner;
    const QJsonArray steps = script.array();
    for (qsizetype i = 0; i < steps.size(); ++i) {
        const QJsonObject step = steps[i].toObject();
        std::cout << "== step " << i + 1 << ": " << step.value("cmd").toString().toStdString() << std::endl;
        try {
            runner.run(step);
        } catch (const StepError& e) {
            std::cerr << "tamberlo-script: step " << i + 1 << ": " << e.what() << "\n";
            return 1;
        }
        // Queued work of the step (overlay messages, notifications) runs before the table.
        QCoreApplication::processEvents();
        printTable(runner.document());
    }
    return 0;
}
