#include "EditorUI/Views/WaveformStore.h"

#include "Sonora/AudioFiles/WaveformDataRequest.h"
#include "platform/foundation/NSError.h"

#include <QDateTime>
#include <QFileInfo>
#include <QThread>

namespace tamberlo {

namespace {

// A file is read again only when it is replaced: same path, size and time give the same points.
QString fileKey(const QString& path) {
    const QFileInfo info(path);
    return path + QLatin1Char('|') + QString::number(info.size()) + QLatin1Char('|') +
           QString::number(info.lastModified().toMSecsSinceEpoch());
}

// Reads the points with a request that opens the file itself, so the read never moves the read
// position of a clip's shared file object, which the player uses at the same time.
WaveformStore::Points readPoints(const QString& path) {
    try {
        sonora::WaveformDataRequest request(platform::URL(path.toStdString()));
        auto data = request.getData(WaveformStore::points, 0);
        if (data && !data->empty()) return std::move(data->front());
    } catch (const platform::NSErrorException&) {
        // An unreadable file leaves the plot empty; the clip stays usable.
    } catch (const std::exception&) {
    }
    return {};
}

}  // namespace

WaveformStore& WaveformStore::shared() {
    static WaveformStore* store = new WaveformStore;  // lives as long as the process
    return *store;
}

WaveformStore::WaveformStore() { pool_.setMaxThreadCount(std::max(2, QThread::idealThreadCount())); }

WaveformStore::~WaveformStore() { pool_.waitForDone(); }

std::shared_ptr<const WaveformStore::Points> WaveformStore::waveform(const QString& path) {
    if (path.isEmpty()) return nullptr;
    const QString key = fileKey(path);
    if (auto found = done_.find(key); found != done_.end()) return found->second;
    if (running_.count(key)) return nullptr;
    running_[key] = true;
    ++readCount_;
    // The destructor waits for the pool, so `this` outlives every task; the result is queued to
    // the main thread, where the store lives.
    pool_.start([this, key, path] {
        auto points = std::make_shared<const Points>(readPoints(path));
        QMetaObject::invokeMethod(this, [this, key, path, points] { finished(key, path, points); }, Qt::QueuedConnection);
    });
    return nullptr;
}

void WaveformStore::finished(const QString& key, const QString& path, std::shared_ptr<const Points> points) {
    running_.erase(key);
    done_[key] = std::move(points);
    emit loaded(path);
}

void WaveformStore::clear() { done_.clear(); }

void WaveformStore::waitForReads() { pool_.waitForDone(); }

}  // namespace tamberlo
