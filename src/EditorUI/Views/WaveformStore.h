// The clips' waveforms: 1024 RMS points of each file's first channel, read once per file on
// worker threads, each read with a file handle of its own (never a clip's shared file object).
// Lanes ask for a file's points and repaint when `loaded` names it.
#pragma once

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <map>
#include <memory>
#include <vector>

namespace tamberlo {

class WaveformStore : public QObject {
    Q_OBJECT
public:
    static constexpr int points = 1024;
    using Points = std::vector<float>;

    // The process-wide store (main thread).
    static WaveformStore& shared();

    WaveformStore();
    ~WaveformStore() override;

    // The file's points when read (empty when the file could not be read); null while not read
    // yet, in which case a read is started unless one is running.
    std::shared_ptr<const Points> waveform(const QString& path);
    // Whether any read is running or queued.
    bool isLoading() const { return !running_.empty(); }
    // Reads started so far (each file is read once while its size and time stay the same).
    int readCount() const { return readCount_; }
    // Forgets every stored waveform (running reads still deliver).
    void clear();
    // Waits for every running read to finish (tests, benchmarks); results still arrive through
    // the event loop.
    void waitForReads();

signals:
    // The points of `path` arrived (main thread).
    void loaded(const QString& path);

private:
    void finished(const QString& key, const QString& path, std::shared_ptr<const Points> points);
    std::map<QString, std::shared_ptr<const Points>> done_;  // by file key (path, size, time)
    std::map<QString, bool> running_;
    QThreadPool pool_;
    int readCount_ = 0;
};

}  // namespace tamberlo
