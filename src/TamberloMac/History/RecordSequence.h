// The editor's undo history: whole snapshots of the track list (track and clip copies sharing the
// clips' audio files) and a cursor over them. record stores a new newest step (dropping the redo
// tail), back and next move the cursor, displays is the snapshot under it.
#pragma once

#include "TamberloMac/Model/TrackModel.h"

#include <memory>
#include <vector>

namespace tamberlo {

class RecordSequence {
public:
    using Snapshot = std::vector<std::shared_ptr<TrackModel>>;

    // The process-wide history, created at the first recorded edit.
    static RecordSequence& shared();
    // Replaces the process-wide history by an empty one (tests).
    static void resetShared();

    RecordSequence() = default;

    // record: stores newCopy of every track as the newest step.
    void record(const std::vector<std::shared_ptr<TrackModel>>& tracks);
    // Undo step: the cursor moves back one snapshot, unless it is before the first.
    void back();
    // Redo step: the cursor moves forward one snapshot, unless it is at the newest.
    void next();
    // The snapshot under the cursor (the stored objects); empty before the first.
    Snapshot displays() const;

    // Whether the last record, back or next moved the cursor.
    bool hasChange = false;
    // The history, oldest first.
    const std::vector<Snapshot>& seq() const { return seq_; }
    // 1-based number of the current snapshot; 0 = before the first.
    long opIndex() const { return opIndex_; }

private:
    void moved();
    std::vector<Snapshot> seq_;
    long opIndex_ = 0;
};

}  // namespace tamberlo
