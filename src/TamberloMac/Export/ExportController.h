// The export's controller without its sheet: the export set, the chosen format and destination,
// and the format dispatch that turns the mix-down's work file into the user's file. The sheet
// (a window) shows it and calls it; the mix-down stage ends by calling convertFormat().
//
//   auto controller = ExportController::make();
//   controller->tracks = exportSet(tracks);
//   controller->formatChanged("mp3");
//   controller->saveUrl = URL("/home/me/Desktop/20240101120000.mp3");
//   controller->render();   // mix-down into renderFile, which ends in convertFormat()
#pragma once

#include "Sonora/AudioFiles/FormatConverter/FormatConverter.h"
#include "Sonora/Internals/Engine/AudioEngine.h"
#include "TamberloMac/Model/TrackModel.h"
#include "platform/avfaudio/AVAudioFile.h"
#include "platform/avfaudio/AVAudioPCMBuffer.h"
#include "platform/foundation/URL.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tamberlo {

class ExportController : public std::enable_shared_from_this<ExportController> {
public:
    // The formats the sheet offers, in the order of its save panel.
    static const std::vector<std::string>& exportFormats();

    static std::shared_ptr<ExportController> make();
    virtual ~ExportController() = default;

    // The export set, in the editor's order.
    std::vector<std::shared_ptr<TrackModel>> tracks;
    // Run once after a successful export, when the sheet has closed.
    std::function<void()> doneBlock;
    // The sheet's own hooks (main thread): closing the sheet, and the outcome of a conversion
    // (after its status message), on which a failed export enables the buttons again.
    std::function<void()> dismissBlock;
    // Seconds between "导出成功" and closing the sheet; tests shorten it.
    double finishDelay = 1.0;
    std::function<void(bool success)> conversionFinishedBlock;
    // Called on the main thread when a mix-down starts (the sheet disables its buttons and shows
    // its progress views), and with each progress of the clip preparation: 0…100 and its label.
    std::function<void()> renderStartBlock;
    std::function<void(double percent, const std::string& label)> progressBlock;

    // The mix-down's own engine, used by each of its mix-downs.
    std::shared_ptr<sonora::AudioEngine> engine = std::make_shared<sonora::AudioEngine>();
    // Clips prepared ÷ clips in the export set; written by the preparation workers.
    std::atomic<double> renderProgress{0};

    // The mix-down's 44100 Hz, 16-bit, 2-channel work file; the conversion's input.
    std::shared_ptr<platform::AVAudioFile> renderFile;
    // What the conversion is told; formatChanged() sets the fields of the chosen format.
    sonora::FormatConverter::Options options;
    // The destination chosen in the save panel.
    std::optional<platform::URL> saveUrl;

    // Takes the format named by the sheet's pop-up (none: nothing changes) into the options:
    // 44100 Hz, 2 channels, and 192000 bit/s for m4a, aac and mp3 or 16 bits for wav and caf.
    void formatChanged(const std::optional<std::string>& title);
    // Converts renderFile to saveUrl: wav, aif, caf and m4a with FormatConverter, aac (MPEG-4 AAC),
    // mp3 and anything else with ZRBAudioConverter on the global queue. Shows "格式转换中..." and
    // then "导出成功" (and finishExport() 1 s later) or "导出失败"; the outcome reaches the main queue.
    void convertFormat();
    // Closes the sheet and runs doneBlock.
    void finishExport();

    // Starts a mix-down of `tracks` (main thread, saveUrl set): every clip is decoded, faded, put
    // behind silence as long as its start time and written as a work file off the main thread;
    // then all of them are rendered offline at the tracks' volumes into a new 44100 Hz, 16-bit,
    // stereo ".caf" work file (renderFile), and convertFormat() follows. A render file that cannot
    // be made, a clip that cannot be read, nothing to render or a failed render shows "导出失败" and reports
    // conversionFinishedBlock(false), so the sheet can be used again. Whatever the outcome, the
    // mix-down's work files are gone when it is reported.
    void render();
    // Hands renderProgress to progressBlock as a percentage and its "12.5%" label.
    void updateProgress();
    // Bakes a linear fade-in and fade-out (seconds) into a float, non-interleaved buffer; where
    // they overlap both gains apply.
    static void applyBufferFade(platform::AVAudioPCMBuffer& buffer, double fadeIn, double fadeOut);

protected:
    ExportController() = default;

private:
    // One prepared clip of a mix-down: its padded work file and its gain.
    struct PreparedClip {
        std::shared_ptr<platform::AVAudioFile> file;
        float volume = 1.0f;
    };

    void conversionFinished(bool success);
    // Ends a mix-down however it went: closes the render file, lets go of the players and removes
    // the mix-down's own work files (no clip or history step refers to them: each was a fresh work
    // path), so that exports do not fill the work folder.
    void removeWorkFiles();
    // Every clip of the export set prepared, in order; none when one of them cannot be read.
    // `workPaths` receives every work path handed out for the clips, prepared or not.
    std::optional<std::vector<PreparedClip>> renderTracks(const std::vector<std::shared_ptr<TrackModel>>& tracks,
                                                          std::vector<std::string>& workPaths);
    // Decodes (holding `fileLock` while it reads the clip's file), fades and pads one clip into
    // its work file; none when that fails.
    static std::optional<PreparedClip> prepareClip(const MusicModel& clip, const TrackModel& track,
                                                   const platform::URL& url, std::mutex& fileLock);
    void renderMix(std::vector<PreparedClip> clips);
    void showProgress(double progress);

    // The work files of the running mix-down (main thread).
    std::vector<std::string> workFiles_;
};

}  // namespace tamberlo
