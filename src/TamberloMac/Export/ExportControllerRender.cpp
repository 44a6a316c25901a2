// The export's mix-down: clips prepared as padded work files off the main thread (a few at a
// time), then summed offline into the render work file on the main thread.
#include "TamberloMac/Export/ExportController.h"

#include "Services/Analytics/TrackManager.h"
#include "Sonora/AudioFiles/AVAudioFileUtilities.h"
#include "Sonora/Internals/Utilities/SecondsToFrame.h"
#include "Sonora/Nodes/Mixing/Mixer.h"
#include "Sonora/Nodes/Playback/AudioPlayer/AudioPlayer.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/Interface/GCD.h"
#include "TamberloMac/Interface/HUD.h"
#include "TamberloMac/Shell/Localized.h"
#include "TamberloMac/detail/DebugText.h"
#include "platform/avfaudio/AVAudioSettings.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace tamberlo {

using platform::AVAudioFile;
using platform::AVAudioFrameCount;
using platform::AVAudioPCMBuffer;
using platform::URL;

namespace {

constexpr AVAudioFrameCount kRenderChunkFrames = 4096;
// Leading silence goes to disk in pieces of this many frames, whatever the clip's start time.
constexpr AVAudioFrameCount kSilenceChunkFrames = 65536;
// Clips prepared at the same time.
constexpr size_t kPreparingClips = 4;

const platform::OSLog& exportLog() {
    static const platform::OSLog log{"io.tamberlo.editor", "ExportController"};
    return log;
}

platform::AVAudioSettings renderSettings() {
    return {{platform::AVFormatIDKey, double(platform::FourCC("lpcm"))},
            {platform::AVSampleRateKey, 44100.0},
            {platform::AVLinearPCMBitDepthKey, 16},
            {platform::AVNumberOfChannelsKey, 2}};
}

// A time at a clip's own rate as a frame count (0 for a negative or unusable time): for the silence
// in front of a clip this is the frame that split and playback place the clip at.
int64_t leadFrames(double sampleRate, double startTime) {
    return std::max<int64_t>(sonora::secondsToFrame(startTime, sampleRate).value_or(0), 0);
}

// Writes `lead` frames of silence and then the clip as a work file, and opens it for reading.
// Throws the file layer's NSErrorException.
std::shared_ptr<AVAudioFile> writePadded(const URL& url, const AVAudioPCMBuffer& clip, int64_t lead) {
    {
        auto file = AVAudioFile::forWriting(url, clip.format().settings());
        if (lead > 0) {
            const auto silence = AVAudioPCMBuffer::make(clip.format(), kSilenceChunkFrames);
            if (!silence || !silence->floatChannelData())
                throw platform::NSErrorException(platform::NSError{"io.tamberlo.editor", 1, "no buffer for silence"});
            for (uint32_t c = 0; c < clip.format().channelCount(); ++c)
                std::fill_n(silence->floatChannelData()[c], kSilenceChunkFrames, 0.0f);
            while (lead > 0) {
                const auto frames = AVAudioFrameCount(std::min<int64_t>(lead, kSilenceChunkFrames));
                silence->setFrameLength(frames);
                file->write(*silence);
                lead -= frames;
            }
        }
        if (clip.frameLength() > 0) file->write(clip);
        // Complete before anyone reads it; a work file, removed after the export, need not reach the disk.
        file->closeWithoutSync();
    }
    return AVAudioFile::forReading(url);
}

}  // namespace

void ExportController::render() {
    TrackManager::TrackPage("VC_Export", options.format.value_or(""));
    TrackManager::TrackCompleteRate("Complete_Export", "export_save", 3);
    if (renderStartBlock) renderStartBlock();

    const std::string path = MusicFileManager::shared().nextOperatePath() + ".caf";
    workFiles_.push_back(path);
    try {
        renderFile = AVAudioFile::forWriting(URL(path), renderSettings());
    } catch (const platform::NSErrorException& e) {
        platform::os_log(exportLog(), platform::OSLogType::error,
                         "cannot create the render file " + path + ": " + e.error().localizedDescription);
        conversionFinished(false);
        return;
    }
    std::cout << "渲染沙盒目录： " << path << std::endl;

    renderProgress = 0;
    HUD::showInfoWithStatus(localized("正在渲染音轨..."));
    auto self = shared_from_this();
    auto exported = tracks;
    GCDAsyncGlobal([self, exported] {
        std::vector<std::string> workPaths;
        auto clips = self->renderTracks(exported, workPaths);
        GCDAsyncMain([self, clips = std::move(clips), workPaths = std::move(workPaths)]() mutable {
            self->workFiles_.insert(self->workFiles_.end(), workPaths.begin(), workPaths.end());
            // A mix without one of its clips is not the mix the user asked for.
            if (!clips) return self->conversionFinished(false);
            self->renderMix(std::move(*clips));
        });
    });
}

std::optional<std::vector<ExportController::PreparedClip>> ExportController::renderTracks(
    const std::vector<std::shared_ptr<TrackModel>>& exported, std::vector<std::string>& workPaths) {
    // Every clip with its track and its work path, in the export's order; the paths are taken
    // here, in that order, since the store hands them out from one thread.
    struct Job {
        std::shared_ptr<MusicModel> clip;
        std::shared_ptr<TrackModel> track;
        std::optional<URL> url;
        std::optional<PreparedClip> prepared;
    };
    std::vector<Job> jobs;
    for (const auto& track : exported) {
        if (!track) continue;
        for (const auto& clip : track->musics) {
            Job job{clip, track, std::nullopt, std::nullopt};
            if (clip && clip->file) {
                job.url = URL(MusicFileManager::shared().nextOperatePath());
                workPaths.push_back(job.url->path());
            }
            jobs.push_back(std::move(job));
        }
    }

    // Clips may share one open file (history copies do); one file reads for one clip at a time.
    std::map<const AVAudioFile*, std::mutex> fileLocks;
    for (const auto& job : jobs)
        if (job.url) fileLocks[job.clip->file.get()];

    auto self = shared_from_this();
    std::mutex progressMutex;
    size_t done = 0;
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i = next++; i < jobs.size(); i = next++) {
            Job& job = jobs[i];
            if (job.url) {
                try {
                    job.prepared = prepareClip(*job.clip, *job.track, *job.url, fileLocks.at(job.clip->file.get()));
                } catch (const std::exception& e) {
                    platform::os_log(exportLog(), platform::OSLogType::error,
                                     "cannot prepare the clip " + job.clip->name + ": " + e.what());
                }
                if (!job.prepared)
                    platform::os_log(exportLog(), platform::OSLogType::error,
                                     "the clip " + job.clip->name + " (" + job.clip->file->url().path() +
                                         ") cannot be read: the export fails");
            }
            // Each step is shown with its own value, in order, however the workers overtake each other.
            std::lock_guard lock(progressMutex);
            const double progress = double(++done) / double(jobs.size());
            renderProgress = progress;
            GCDAsyncMain([self, progress] { self->showProgress(progress); });
        }
    };
    // A few clips at a time: each is decoded whole, so memory grows with the number in flight.
    const size_t workers = std::min<size_t>(jobs.size(), kPreparingClips);
    std::vector<std::thread> threads;
    for (size_t w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (auto& thread : threads) thread.join();

    std::vector<PreparedClip> prepared;
    for (auto& job : jobs) {
        if (job.url && !job.prepared) return std::nullopt;
        if (job.prepared) prepared.push_back(std::move(*job.prepared));
    }
    return prepared;
}

std::optional<ExportController::PreparedClip> ExportController::prepareClip(const MusicModel& clip,
                                                                            const TrackModel& track, const URL& url,
                                                                            std::mutex& fileLock) {
    std::shared_ptr<AVAudioPCMBuffer> buffer;
    {
        std::lock_guard lock(fileLock);
        buffer = sonora::toAVAudioPCMBuffer(*clip.file);
    }
    if (!buffer) return std::nullopt;
    if (clip.fadeInTime > 0 || clip.fadeOutTime > 0) {
        std::cout << "淡入淡出时间 " + detail::debugNumber(clip.fadeInTime) + " " + detail::debugNumber(clip.fadeOutTime) + "\n"
                  << std::flush;
        applyBufferFade(*buffer, clip.fadeInTime, clip.fadeOutTime);
    }
    try {
        auto file = writePadded(url, *buffer, leadFrames(buffer->format().sampleRate(), clip.startTime));
        return PreparedClip{std::move(file), clip.isMute ? 0.0f : float(track.volume)};
    } catch (const platform::NSErrorException& e) {
        platform::os_log(exportLog(), platform::OSLogType::error,
                         "cannot write the work file " + url.path() + ": " + e.error().localizedDescription);
        return std::nullopt;
    }
}

void ExportController::updateProgress() { showProgress(renderProgress.load()); }

void ExportController::showProgress(double progress) {
    const double percent = progress * 100;
    char label[32];
    std::snprintf(label, sizeof label, "%.1f%%", percent);
    if (progressBlock) progressBlock(percent, label);
}

void ExportController::renderMix(std::vector<PreparedClip> clips) {
    std::vector<std::shared_ptr<sonora::AudioPlayer>> players;
    std::vector<std::shared_ptr<sonora::Node>> nodes;
    for (const auto& clip : clips) {
        auto player = std::make_shared<sonora::AudioPlayer>(clip.file);
        player->setVolume(clip.volume);
        players.push_back(player);
        nodes.push_back(player);
    }
    engine->setOutput(std::make_shared<sonora::Mixer>(std::move(nodes)));

    double length = 0;
    for (const auto& track : tracks)
        if (track) length = std::max(length, track->duration());
    std::cout << "输出音频时长： " << detail::debugNumber(length) << std::endl;

    bool converted = false;
    if (length > 0 && renderFile) {
        std::weak_ptr<ExportController> weak = weak_from_this();
        try {
            engine->renderToFile(
                *renderFile, kRenderChunkFrames, length,
                [&players] {
                    for (const auto& player : players) player->play();
                },
                [weak, &converted](double progress) {
                    if (progress < 1.0 || converted) return;
                    converted = true;
                    if (auto self = weak.lock()) self->convertFormat();
                });
        } catch (const platform::NSErrorException& e) {
            platform::os_log(exportLog(), platform::OSLogType::error,
                             "the mix-down failed: " + e.error().localizedDescription);
        }
    }
    // Nothing to render, or a render that never finished: say so and let the sheet be used again.
    if (!converted) conversionFinished(false);
}

void ExportController::applyBufferFade(AVAudioPCMBuffer& buffer, double fadeIn, double fadeOut) {
    float* const* data = buffer.floatChannelData();
    if (!data || !(fadeIn > 0 || fadeOut > 0)) return;
    const int64_t frames = buffer.frameLength();
    const double rate = buffer.format().sampleRate();
    const uint32_t channels = buffer.format().channelCount();
    if (!(rate > 0)) return;
    const double dt = 1.0 / rate;

    // A fade longer than any buffer covers all of it (no integer overflow on the way).
    const auto fadeFrames = [rate, frames](double seconds) {
        return std::clamp<int64_t>(sonora::secondsToFrame(seconds, rate).value_or(frames), 0, frames);
    };
    if (fadeIn > 0 && std::isfinite(fadeIn)) {
        const int64_t count = fadeFrames(fadeIn);
        const double step = dt / fadeIn;
        double gain = 0;
        for (int64_t i = 0; i < count; ++i) {
            gain = std::min(1.0, gain + step);
            for (uint32_t c = 0; c < channels; ++c) data[c][i] *= float(gain);
        }
    }
    if (fadeOut > 0 && std::isfinite(fadeOut)) {
        const int64_t first = frames - fadeFrames(fadeOut);
        const double step = dt / fadeOut;
        double gain = 1.0;
        for (int64_t j = first; j < frames; ++j) {
            gain = std::max(0.0, gain - step);
            for (uint32_t c = 0; c < channels; ++c) data[c][j] *= float(gain);
        }
    }
}

}  // namespace tamberlo
