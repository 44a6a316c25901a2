#include "Sonora/Taps/NodeRecorder.h"

#include "Sonora/Internals/Settings/Settings.h"
#include "Sonora/Internals/Utilities/Log.h"
#include "platform/avfaudio/AVAudioNode.h"

#include <QUuid>

#include <filesystem>
#include <thread>

namespace sonora {

namespace {
std::mutex& tempFilesMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<platform::URL>& tempFileList() {
    static std::vector<platform::URL> list;
    return list;
}
bool fileExists(const platform::URL& url) {
    std::error_code ec;
    return std::filesystem::exists(url.filePath(), ec);
}
}  // namespace

NodeRecorder::NodeRecorder(std::shared_ptr<Node> node, std::shared_ptr<platform::AVAudioFile> file, int64_t bus)
    : node_(std::move(node)), recordBufferDuration_(16384.0 / Settings::audioFormat().sampleRate()) {
    if (!file) {
        Log({"Error, no file to write to"});
        return;
    }
    const platform::URL url = file->url();
    const auto settings = file->fileFormat().settings();
    try {
        internalAudioFile_ = platform::AVAudioFile::forWriting(url, settings);
    } catch (const platform::NSErrorException&) {
        Log({"Error: cannot write to", url});
        throw;
    }
    bus_ = bus;
}

double NodeRecorder::recordedDuration() const {
    std::lock_guard lock(fileMutex_);
    if (!internalAudioFile_) return 0;
    return double(internalAudioFile_->length()) / internalAudioFile_->fileFormat().sampleRate();
}

std::shared_ptr<platform::AVAudioFile> NodeRecorder::audioFile() const {
    platform::URL url;
    {
        std::lock_guard lock(fileMutex_);
        if (!internalAudioFile_) return nullptr;
        url = internalAudioFile_->url();
    }
    try {
        return platform::AVAudioFile::forReading(url);
    } catch (const platform::NSErrorException& e) {
        Log({"Error, Cannot create internal audio file for reading: " + e.error().localizedDescription});
        return nullptr;
    }
}

std::shared_ptr<platform::AVAudioFile> NodeRecorder::createTempFile() {
    const std::string name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString() + ".caf";
    const platform::URL url = platform::URL::fileURLWithPath((std::filesystem::temp_directory_path() / name).string());
    auto settings = Settings::audioFormat().settings();
    settings[platform::AVLinearPCMIsNonInterleaved] = 0;
    Log({"Creating temp file at", url});
    try {
        auto file = platform::AVAudioFile::forWriting(url, settings, platform::AVAudioCommonFormat::pcmFormatFloat32, true);
        std::lock_guard lock(tempFilesMutex());
        tempFileList().push_back(url);
        return file;
    } catch (const platform::NSErrorException&) {
        return nullptr;
    }
}

std::vector<platform::URL> NodeRecorder::tempFiles() {
    std::lock_guard lock(tempFilesMutex());
    return tempFileList();
}

void NodeRecorder::removeTempFiles() {
    std::vector<platform::URL> list;
    {
        std::lock_guard lock(tempFilesMutex());
        list.swap(tempFileList());
    }
    for (const auto& url : list) {
        std::error_code ec;
        std::filesystem::remove(url.filePath(), ec);
        Log({"𝗫 Deleted tmp file at", url});
    }
}

void NodeRecorder::record() {
    if (isRecording()) {
        Log({"Warning: already recording"});
        return;
    }
    std::string formatText = "nil";
    {
        std::lock_guard lock(fileMutex_);
        if (internalAudioFile_ && !fileExists(internalAudioFile_->url())) {
            if (auto temp = createTempFile())
                internalAudioFile_ = platform::AVAudioFile::forWriting(temp->url(), temp->fileFormat().settings());
        }
        if (internalAudioFile_) formatText = internalAudioFile_->processingFormat().description();
    }
    const uint32_t tapSize = Settings::samplesCount(Settings::recordingBufferLength());
    isRecording_.store(true, std::memory_order_release);
    Log({"⏺ Recording using format", formatText});
    const auto avNode = node_ ? node_->avAudioNode() : nullptr;
    if (!avNode || !avNode->engine()) {
        Log({"🛑 Error: Error recording. Input node '" + (node_ ? node_->typeName() : std::string("nil")) + "' has no engine."});
        isRecording_.store(false, std::memory_order_release);
        return;
    }
    // The block keeps the recorder alive while the tap is installed.
    std::shared_ptr<NodeRecorder> self = weak_from_this().lock();
    NodeRecorder* raw = this;
    avNode->installTapOnBus(platform::AVAudioNodeBus(bus_), tapSize, recordFormat,
                            [self, raw](const std::shared_ptr<platform::AVAudioPCMBuffer>& buffer, const platform::AVAudioTime& time) {
                                raw->process(*buffer, time);
                            });
}

void NodeRecorder::process(const platform::AVAudioPCMBuffer& buffer, const platform::AVAudioTime&) {
    bool reached = false;
    {
        std::lock_guard lock(fileMutex_);
        if (!internalAudioFile_) return;
        recordBufferDuration_.store(double(buffer.frameLength()) / Settings::audioFormat().sampleRate());
        try {
            internalAudioFile_->write(buffer);
        } catch (const platform::NSErrorException& e) {
            Log({"Write failed: error -> " + e.error().localizedDescription});
            return;
        }
        const double limit = durationToRecord();
        reached = limit != 0 &&
                  limit <= double(internalAudioFile_->length()) / internalAudioFile_->fileFormat().sampleRate();
    }
    if (reached) stop();
}

void NodeRecorder::stop() {
    bool expected = true;
    if (!isRecording_.compare_exchange_strong(expected, false, std::memory_order_acq_rel)) {
        Log({"Warning: Cannot stop recording, already stopped"});
        return;
    }
    if (Settings::flushRecordingOnStop())
        std::this_thread::sleep_for(std::chrono::microseconds(uint32_t(recordBufferDuration() * 1'000'000)));
    if (const auto avNode = node_ ? node_->avAudioNode() : nullptr) avNode->removeTapOnBus(platform::AVAudioNodeBus(bus_));
}

void NodeRecorder::reset() {
    if (isRecording()) stop();
    std::lock_guard lock(fileMutex_);
    if (!internalAudioFile_) return;
    const auto settings = internalAudioFile_->fileFormat().settings();
    const platform::URL url = internalAudioFile_->url();
    std::error_code ec;
    if (fileExists(url) && !std::filesystem::remove(url.filePath(), ec))
        Log({"Error: Can't delete" + url.lastPathComponent() + ec.message()});
    try {
        internalAudioFile_ = platform::AVAudioFile::forWriting(url, settings);
        Log({"File has been cleared"});
    } catch (const platform::NSErrorException&) {
        Log({"Error: Can't record to" + url.lastPathComponent()});
        throw;
    }
}

}  // namespace sonora
