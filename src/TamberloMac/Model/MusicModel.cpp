#include "TamberloMac/Model/MusicModel.h"

#include "Sonora/AudioFiles/AVAudioFileUtilities.h"
#include "TamberloMac/Files/MusicFileManager.h"
#include "TamberloMac/Model/AVAudioFileDuration.h"

#include <QUuid>

namespace tamberlo {

std::string newIdentify() { return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString(); }

MusicModel::MusicModel() : identify(newIdentify()) {}

double MusicModel::duration() const { return tamberlo::duration(file); }

std::shared_ptr<MusicModel> MusicModel::newCopy() const {
    auto copy = std::make_shared<MusicModel>(*this);
    return copy;
}

std::shared_ptr<MusicModel> MusicModel::duplicate() const {
    auto copy = MusicModel::make();
    copy->startTime = startTime;
    copy->fadeInTime = fadeInTime;
    copy->fadeOutTime = fadeOutTime;
    copy->isMute = isMute;
    copy->name = name;

    const platform::URL path(MusicFileManager::shared().nextOperatePath());
    if (!file) return copy;
    // The exact end (frames ÷ rate maps back to every frame), never the "end of file" 0 that an
    // empty range would turn into.
    const double end = tamberlo::duration(file);
    if (!(end > 0)) return copy;
    auto written = sonora::extract(*file, path, 0, end, 0, 0);
    if (!written) return copy;
    const platform::URL writtenURL = written->url();
    written.reset();  // closes the work file so that its data is complete
    try {
        copy->file = platform::AVAudioFile::forReading(writtenURL);
    } catch (const platform::NSErrorException&) {
        // Keeps no file: the copy stays silent rather than stopping the editor.
    }
    return copy;
}

}  // namespace tamberlo
