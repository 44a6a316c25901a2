// The editor's work-file store: "user_docs" (copies of imported files) and "user_operate" (work
// files: split halves, duplicates, the export render) in the user's documents folder. Both
// folders are emptied when the store starts; nothing in them outlives the next start.
#pragma once

#include "TamberloMac/Model/MusicModel.h"
#include "platform/foundation/URL.h"

#include <memory>
#include <string>
#include <vector>

namespace tamberlo {

class MusicFileManager {
public:
    // The process-wide store, started at its first use (import, split, duplicate or export).
    static MusicFileManager& shared();
    // Starts the process-wide store afresh, as the next run would (tests).
    static void resetShared();

    // Starts a store: creates both folders when missing and empties them.
    MusicFileManager();

    // importMusicsWithArr: copies each file into "user_docs" and opens the copy; one clip per file
    // that could be copied and opened, in the order given. A file that already is its own copy in
    // "user_docs" is opened where it lies.
    std::vector<std::shared_ptr<MusicModel>> importMusicsWithArr(const std::vector<platform::URL>& urls);

    // The next work path: "user_operate/" + the counter as "%05d", without extension.
    std::string nextOperatePath();

    // Work paths handed out so far.
    long operateFileCount() const { return operateFileCount_; }
    // <documents>/user_docs and <documents>/user_operate.
    const std::string& savePath() const { return savePath_; }
    const std::string& operatePath() const { return operatePath_; }

private:
    long operateFileCount_ = 0;
    std::string savePath_;
    std::string operatePath_;
};

}  // namespace tamberlo
