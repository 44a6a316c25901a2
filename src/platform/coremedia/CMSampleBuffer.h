// A run of audio frames as media passes them around: linear PCM samples with their format
// description and the presentation time of the first frame.
#pragma once

#include "platform/coremedia/CMFormatDescription.h"
#include "platform/coremedia/CMTime.h"
#include "platform/coreaudio/CoreAudioTypes.h"

#include <memory>
#include <vector>

namespace platform {

class CMSampleBuffer {
public:
    // Copies `frames` frames of `data`, laid out as the linear PCM `format` says (one buffer when
    // interleaved, one per channel otherwise). nullptr when the format is not packed linear PCM or
    // the list does not hold the frames.
    static std::shared_ptr<CMSampleBuffer> make(const AudioStreamBasicDescription& format, const AudioBufferList& data,
                                                CMItemCount frames, CMTime presentationTimeStamp);

    const CMAudioFormatDescription& formatDescription() const { return formatDescription_; }
    CMTime presentationTimeStamp() const { return presentationTimeStamp_; }
    // numSamples / CMSampleBufferGetNumSamples: frames held.
    CMItemCount numSamples() const { return numSamples_; }
    // The frames' duration at the format's sample rate.
    CMTime duration() const;
    // The samples: each buffer holds exactly numSamples frames (mDataByteSize says so).
    const AudioBufferList& audioBufferList() const { return *reinterpret_cast<const AudioBufferList*>(list_.data()); }

private:
    CMSampleBuffer() = default;
    CMAudioFormatDescription formatDescription_{};
    CMTime presentationTimeStamp_{};
    CMItemCount numSamples_ = 0;
    std::vector<std::vector<unsigned char>> storage_;  // one block per buffer
    std::vector<unsigned char> list_;                  // the AudioBufferList over storage_
};

using CMSampleBufferRef = std::shared_ptr<CMSampleBuffer>;

inline CMItemCount CMSampleBufferGetNumSamples(const CMSampleBuffer& buffer) { return buffer.numSamples(); }
inline CMTime CMSampleBufferGetPresentationTimeStamp(const CMSampleBuffer& buffer) { return buffer.presentationTimeStamp(); }
inline const CMAudioFormatDescription* CMSampleBufferGetFormatDescription(const CMSampleBuffer& buffer) {
    return &buffer.formatDescription();
}

}  // namespace platform
