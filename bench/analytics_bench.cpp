// The web-analytics queue against the sqlite3 command-line tool on the same pragmas:
//   1. 5,000 hits through send(), one commit each, vs sqlite3 inserting the same lines, one
//      transaction each;
//   2. a flush of 5,000 rows (fetch, batch body, delete; no network) vs sqlite3 selecting them and
//      deleting them by rowid.
// Prints both ratios (ours / sqlite3); lower is better.
#include "BenchSupport.h"
#include "Services/Analytics/AnalyticsStore.h"
#include "Services/Analytics/KKGADictionaryBuilder.h"
#include "Services/Analytics/KKWebAnalytics.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <fstream>

using namespace tamberlo;

namespace {

constexpr int kHits = 5000;

KKGAHit hit(int i) {
    return KKGADictionaryBuilder::createEventWithCategory(std::string("按钮点击"), "Action_" + std::to_string(i),
                                                          std::string("VC_Home"), std::nullopt)
        ->build();
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

}  // namespace

int main(int argc, char** argv) {
    if (!bench::haveTool("sqlite3")) {
        std::fprintf(stderr, "analytics_bench: needs the sqlite3 tool\n");
        return 1;
    }
    const auto folder = bench::makeFixtureFolder();
    ::setenv("HOME", folder.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (folder / "data").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder / "config").c_str(), 1);
    ::unsetenv("TAMBERLO_COLLECT_URL");
    ::unsetenv("TAMBERLO_EVENTLOG_URL");
    QCoreApplication app(argc, argv);

    auto& client = KKWebAnalytics::sharedInstance();
    client.setTrackingID("UA-12345-1");
    client.pauseDispatching();
    auto& store = AnalyticsStore::shared();

    // The lines as the queue stores them, for the peer.
    std::vector<std::string> lines;
    for (int i = 0; i < kHits; ++i) lines.push_back(KKWebAnalytics::stringAsWWWURLEncodedFormFromDictionary(hit(i)));
    const auto peerDb = folder / "peer.sqlite";
    const std::string pragmas = "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;\n";
    {
        std::ofstream insert(folder / "insert.sql");
        insert << pragmas << "CREATE TABLE IF NOT EXISTS Record(text TEXT NOT NULL);\n";
        for (const auto& line : lines) insert << "INSERT INTO Record(text) VALUES (" << quoted(line) << ");\n";
        std::ofstream flush(folder / "flush.sql");
        flush << pragmas << "SELECT text FROM Record ORDER BY rowid;\nBEGIN;\n";
        for (int row = 1; row <= kHits; ++row) flush << "DELETE FROM Record WHERE rowid = " << row << ";\n";
        flush << "COMMIT;\n";
    }

    double ourInsert = 1e9, ourFlush = 1e9, peerInsert = 1e9, peerFlush = 1e9;
    for (int run = 0; run < bench::kRuns; ++run) {
        ourInsert = std::min(ourInsert, bench::seconds([&] {
            for (int i = 0; i < kHits; ++i) client.send(hit(i));
        }));
        size_t bytes = 0;
        ourFlush = std::min(ourFlush, bench::seconds([&] {
            const auto rows = store.records();
            bytes = KKWebAnalytics::batchBody(rows).size();
            std::vector<int64_t> rowids;
            rowids.reserve(rows.size());
            for (const auto& row : rows) rowids.push_back(row.first);
            store.deleteRecords(rowids, store.epoch());
        }));
        if (bytes == 0 || !store.records().empty()) {
            std::fprintf(stderr, "analytics_bench: the flush did not see and remove the %d rows\n", kHits);
            return 1;
        }
        std::filesystem::remove(peerDb);
        peerInsert = std::min(peerInsert, bench::seconds([&] {
            bench::mustRun("sqlite3 " + bench::q(peerDb) + " < " + bench::q(folder / "insert.sql") + " > /dev/null",
                           bench::Output::hidden);
        }));
        peerFlush = std::min(peerFlush, bench::seconds([&] {
            bench::mustRun("sqlite3 " + bench::q(peerDb) + " < " + bench::q(folder / "flush.sql") + " > /dev/null",
                           bench::Output::hidden);
        }));
    }
    std::printf("send 5000 hits, a commit each:   %.3f s   sqlite3: %.3f s   ratio %.2fx\n", ourInsert, peerInsert,
                ourInsert / peerInsert);
    std::printf("flush 5000 rows (fetch+body+delete): %.3f s   sqlite3: %.3f s   ratio %.2fx\n", ourFlush, peerFlush,
                ourFlush / peerFlush);
    std::filesystem::remove_all(folder);
    return 0;
}
