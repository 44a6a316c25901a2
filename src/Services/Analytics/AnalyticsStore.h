// The analytics' own SQLite file "WebAnalytics.storedata" under the application's data folder:
// the web-analytics hits waiting for their batch (table Record) and the event-log records that
// must be delivered even across a restart (table PendingEvent). Main thread only.
//
// When the file cannot be used, the error is shown once per process and the rows live in memory
// until the file can be opened again (tried silently at every later use); a file that is not a
// database, or a damaged one, is moved aside as "WebAnalytics.storedata.corrupt-<time>" and a fresh
// one started. A file that takes no writes counts as one that cannot be opened; when a write fails
// later, the rows go on in memory for the rest of the process, less those the collector already
// has: the file, which still holds them, is not read again until the next start.
#pragma once

#include "platform/foundation/NSError.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tamberlo {

inline constexpr const char* KKWebAnalyticsErrorDomain = "KKWebAnalyticsErrorDomain";

class AnalyticsStore {
public:
    using Row = std::pair<int64_t, std::string>;  // rowid, text
    using ErrorPresenter = std::function<void(const platform::NSError&)>;

    static AnalyticsStore& shared();

    // $XDG_DATA_HOME/io.tamberlo.Tamberlo (the bundle identifier under the user's data folder).
    static std::string applicationFilesDirectory();
    static std::string storePath();

    // Each call commits before it returns.
    bool insertRecord(const std::string& text);
    std::vector<Row> records();
    void deleteRecords(const std::vector<int64_t>& rowids, uint64_t epoch);
    // -1 when the row could not be written.
    int64_t insertPendingEvent(const std::string& body);
    std::vector<Row> pendingEvents();
    void deletePendingEvent(int64_t rowid, uint64_t epoch);

    // Changes whenever the rows move to another database (memory to file): row ids taken before
    // belong to the old one and are ignored by the deletions.
    uint64_t epoch() const { return epoch_; }
    // True while the rows are kept in the file (not only in memory).
    bool isOnDisk();

    // Who shows a store error to the user (once per process); by default it is logged.
    void setErrorPresenter(ErrorPresenter presenter);
    // Closes the store; the next use opens it again and may present an error again (tests).
    void resetForTesting();
    // The file is used read-only from now on, as when it stops taking writes (tests).
    void setReadOnlyForTesting(bool readOnly);

private:
    AnalyticsStore() = default;
    bool ensureOpen();
    bool openDisk(bool quietly);
    void openMemory();
    std::string makeMemoryDatabase();
    bool openConnection(const std::string& name, bool readOnly);
    // A write to the file failed: see the class comment. `delivered` are rows of `table` not to keep.
    void moveToMemory(const std::string& failure, const char* table, const std::vector<int64_t>& delivered);
    void present(const platform::NSError& error);
    bool exec(const std::string& statement);
    // Rows of (rowid, text) in the statement's order; none when the store cannot be opened.
    std::vector<Row> selectRows(const char* statement);

    std::string connection_;
    bool onDisk_ = false;
    bool presented_ = false;
    bool diskRefused_ = false;  // a write to the file failed in this process
    bool readOnlyForTesting_ = false;
    int generation_ = 0;
    uint64_t epoch_ = 0;
    ErrorPresenter presenter_;
};

}  // namespace tamberlo
