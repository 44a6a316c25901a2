#include "TamberloMac/History/RecordSequence.h"

#include <algorithm>
#include <iostream>

namespace tamberlo {

namespace {
std::unique_ptr<RecordSequence>& sharedSlot() {
    static std::unique_ptr<RecordSequence> instance;
    return instance;
}
}  // namespace

RecordSequence& RecordSequence::shared() {
    auto& slot = sharedSlot();
    if (!slot) slot = std::make_unique<RecordSequence>();
    return *slot;
}

void RecordSequence::resetShared() { sharedSlot() = std::make_unique<RecordSequence>(); }

void RecordSequence::record(const std::vector<std::shared_ptr<TrackModel>>& tracks) {
    Snapshot snapshot;
    snapshot.reserve(tracks.size());
    for (const auto& track : tracks)
        if (track) snapshot.push_back(track->newCopy());
    seq_.resize(std::min<size_t>(size_t(opIndex_), seq_.size()));
    seq_.push_back(std::move(snapshot));
    opIndex_ += 1;
    moved();
}

void RecordSequence::back() {
    if (opIndex_ >= 1) {
        opIndex_ -= 1;
        moved();
    } else {
        hasChange = false;
    }
}

void RecordSequence::next() {
    if (opIndex_ < long(seq_.size())) {
        opIndex_ += 1;
        moved();
    } else {
        hasChange = false;
    }
}

RecordSequence::Snapshot RecordSequence::displays() const {
    if (opIndex_ < 1 || opIndex_ > long(seq_.size())) return {};
    return seq_[size_t(opIndex_ - 1)];
}

void RecordSequence::moved() {
    hasChange = true;
    std::cout << "记录索引======== " << opIndex_ << std::endl;
}

}  // namespace tamberlo
