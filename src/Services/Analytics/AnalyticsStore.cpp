#include "Services/Analytics/AnalyticsStore.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/OSLog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

#include <algorithm>
#include <cstring>

namespace tamberlo {

namespace {

const platform::OSLog storeLog{"io.tamberlo.Tamberlo", "analytics"};

const char* const schema[] = {
    "CREATE TABLE IF NOT EXISTS Record(text TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS PendingEvent(body TEXT NOT NULL)",
};

QSqlDatabase database(const std::string& connection) {
    return QSqlDatabase::database(QString::fromStdString(connection), false);
}

void dropConnection(std::string& connection) {
    if (connection.empty()) return;
    {
        QSqlDatabase db = database(connection);
        if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(QString::fromStdString(connection));
    connection.clear();
}

platform::NSError storeError(int64_t code, const std::string& description) {
    return platform::NSError{KKWebAnalyticsErrorDomain, code, description};
}

}  // namespace

AnalyticsStore& AnalyticsStore::shared() {
    static AnalyticsStore store;
    return store;
}

std::string AnalyticsStore::applicationFilesDirectory() {
    QString folder = qEnvironmentVariable("XDG_DATA_HOME");
    if (folder.isEmpty()) folder = QDir::homePath() + "/.local/share";
    const std::string identifier = platform::Bundle::main().bundleIdentifier().value_or("io.tamberlo.Tamberlo");
    return (folder + "/" + QString::fromStdString(identifier)).toStdString();
}

std::string AnalyticsStore::storePath() { return applicationFilesDirectory() + "/WebAnalytics.storedata"; }

void AnalyticsStore::setErrorPresenter(ErrorPresenter presenter) { presenter_ = std::move(presenter); }

void AnalyticsStore::present(const platform::NSError& error) {
    os_log(storeLog, platform::OSLogType::error, "analytics store: " + error.description());
    if (presented_) return;
    presented_ = true;
    if (presenter_) presenter_(error);
}

bool AnalyticsStore::exec(const std::string& statement) {
    QSqlQuery query(database(connection_));
    return query.exec(QString::fromStdString(statement));
}

// Opens the file; false (with the error presented unless `quietly`) when it cannot be used.
bool AnalyticsStore::openDisk(bool quietly) {
    const auto fail = [&](const platform::NSError& error) {
        if (!quietly) present(error);
        return false;
    };
    const QString folder = QString::fromStdString(applicationFilesDirectory());
    const QFileInfo folderInfo(folder);
    if (folderInfo.exists() && !folderInfo.isDir())
        return fail(storeError(101, "Expected a folder to store application data, found a file (" +
                                        folder.toStdString() + ")."));
    if (!folderInfo.exists() && !QDir().mkpath(folder))
        return fail(platform::NSError{platform::NSCocoaErrorDomain, 513,
                                      "The folder " + folder.toStdString() + " could not be created."});

    const QString path = QString::fromStdString(storePath());
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string name = "io.tamberlo.analytics." + std::to_string(++generation_);
        QString failure;
        QString nativeCode;
        if (!openConnection(name, readOnlyForTesting_)) {
            failure = database(name).lastError().text();
            nativeCode = database(name).lastError().nativeErrorCode();
        } else {
            QSqlDatabase db = database(name);
            QSqlQuery query(db);
            // The write probe: a file that takes no writes would keep every row it holds for ever
            // (and send it again with every batch).
            for (const char* statement : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", schema[0], schema[1],
                                          "PRAGMA user_version = 1"}) {
                if (!query.exec(statement)) {
                    failure = query.lastError().text();
                    nativeCode = query.lastError().nativeErrorCode();
                    break;
                }
            }
            // A damaged file (cut short, say) opens, and fails only when the damaged pages are read.
            if (failure.isEmpty() && (!query.exec("PRAGMA quick_check") || !query.next() ||
                                      query.value(0).toString() != "ok")) {
                failure = query.lastError().isValid() ? query.lastError().text() : "database disk image is malformed";
                nativeCode = query.lastError().isValid() ? query.lastError().nativeErrorCode() : "11";
            }
        }
        if (failure.isEmpty()) {
            dropConnection(connection_);
            connection_ = name;
            onDisk_ = true;
            ++epoch_;
            return true;
        }
        std::string dropped = name;
        dropConnection(dropped);
        // A file that is not a database (SQLITE_NOTADB) or a damaged one (SQLITE_CORRUPT) is kept
        // aside for whoever wants to look at it, and a fresh store takes its place.
        if (attempt == 0 && (nativeCode == "26" || nativeCode == "11")) {
            const QString aside = path + ".corrupt-" + QDateTime::currentDateTimeUtc().toString("yyyyMMddTHHmmssZ");
            if (QFile::rename(path, aside)) {
                QFile::remove(path + "-wal");
                QFile::remove(path + "-shm");
                present(storeError(259, "The analytics store " + path.toStdString() + " was not a database (" +
                                            failure.toStdString() + "); it was moved to " + aside.toStdString() + "."));
                continue;
            }
        }
        return fail(storeError(9999, "Failed to initialize the store: " + failure.toStdString()));
    }
    return false;
}

// Rows kept in memory while the file cannot be used.
std::string AnalyticsStore::makeMemoryDatabase() {
    const std::string name = "io.tamberlo.analytics." + std::to_string(++generation_);
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", QString::fromStdString(name));
    db.setDatabaseName(":memory:");
    db.open();
    QSqlQuery query(db);
    for (const char* statement : schema) query.exec(statement);
    return name;
}

void AnalyticsStore::openMemory() {
    connection_ = makeMemoryDatabase();
    onDisk_ = false;
    ++epoch_;
}

bool AnalyticsStore::openConnection(const std::string& name, bool readOnly) {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", QString::fromStdString(name));
    db.setDatabaseName(QString::fromStdString(storePath()));
    if (readOnly) db.setConnectOptions("QSQLITE_OPEN_READONLY");
    return db.open();
}

void AnalyticsStore::moveToMemory(const std::string& failure, const char* table, const std::vector<int64_t>& delivered) {
    const std::string disk = connection_;
    const std::string memory = makeMemoryDatabase();
    // Row ids are kept: a batch in flight deletes its own rows from memory when it is answered.
    for (const auto& [name, column] : {std::pair{"Record", "text"}, std::pair{"PendingEvent", "body"}}) {
        QSqlQuery read(database(disk));
        read.setForwardOnly(true);
        read.exec(QString("SELECT rowid, %1 FROM %2").arg(column, name));
        QSqlQuery write(database(memory));
        write.prepare(QString("INSERT INTO %1(rowid, %2) VALUES (?, ?)").arg(name, column));
        while (read.next()) {
            const int64_t rowid = read.value(0).toLongLong();
            if (std::strcmp(name, table) == 0 && std::find(delivered.begin(), delivered.end(), rowid) != delivered.end())
                continue;
            write.bindValue(0, qlonglong(rowid));
            write.bindValue(1, read.value(1));
            write.exec();
        }
    }
    std::string dropped = disk;
    dropConnection(dropped);
    connection_ = memory;
    onDisk_ = false;
    diskRefused_ = true;
    present(storeError(9999, "The analytics store " + storePath() + " cannot be written (" + failure +
                                 "); until the next start the hits are kept in memory."));
}

bool AnalyticsStore::ensureOpen() {
    if (onDisk_ || (diskRefused_ && !connection_.empty())) return true;
    if (connection_.empty()) {
        if (openDisk(false)) return true;
        openMemory();
        return !connection_.empty();
    }
    // In memory: try the file again, silently, and move what waits in memory into it.
    const std::string memory = connection_;
    const uint64_t memoryEpoch = epoch_;
    connection_.clear();
    if (!openDisk(true)) {
        connection_ = memory;
        return true;
    }
    const std::string disk = connection_;
    QSqlDatabase diskDb = database(disk);
    diskDb.transaction();
    bool moved = true;
    for (const char* table : {"Record", "PendingEvent"}) {
        QSqlQuery read(database(memory));
        read.exec(QString("SELECT * FROM %1 ORDER BY rowid").arg(table));
        QSqlQuery write(diskDb);
        write.prepare(QString("INSERT INTO %1 VALUES (?)").arg(table));
        while (moved && read.next()) {
            write.bindValue(0, read.value(0));
            moved = write.exec();
        }
    }
    if (!moved || !diskDb.commit()) {
        // The file took the probe but not the rows: they stay in memory.
        diskDb.rollback();
        diskDb = QSqlDatabase();
        std::string dropped = disk;
        dropConnection(dropped);
        connection_ = memory;
        onDisk_ = false;
        epoch_ = memoryEpoch;  // the rows and their ids are those of before
        return true;
    }
    std::string dropped = memory;
    dropConnection(dropped);
    return true;
}

bool AnalyticsStore::isOnDisk() {
    ensureOpen();
    return onDisk_;
}

bool AnalyticsStore::insertRecord(const std::string& text) {
    if (!ensureOpen()) return false;
    QSqlQuery query(database(connection_));
    query.prepare("INSERT INTO Record(text) VALUES (?)");
    query.bindValue(0, QString::fromStdString(text));
    if (query.exec()) return true;
    const std::string failure = query.lastError().text().toStdString();
    if (!onDisk_) {
        os_log(storeLog, platform::OSLogType::error, "analytics store: " + failure);
        return false;
    }
    moveToMemory(failure, "Record", {});
    return insertRecord(text);
}

std::vector<AnalyticsStore::Row> AnalyticsStore::selectRows(const char* statement) {
    std::vector<Row> rows;
    if (!ensureOpen()) return rows;
    QSqlQuery query(database(connection_));
    query.setForwardOnly(true);
    if (!query.exec(statement)) return rows;
    while (query.next()) rows.emplace_back(query.value(0).toLongLong(), query.value(1).toString().toStdString());
    return rows;
}

std::vector<AnalyticsStore::Row> AnalyticsStore::records() { return selectRows("SELECT rowid, text FROM Record ORDER BY rowid"); }

void AnalyticsStore::deleteRecords(const std::vector<int64_t>& rowids, uint64_t epoch) {
    if (rowids.empty() || !ensureOpen() || epoch != epoch_) return;
    QSqlDatabase db = database(connection_);
    bool deleted = db.transaction();
    QString failure = db.lastError().text();
    {
        QSqlQuery query(db);
        query.prepare("DELETE FROM Record WHERE rowid = ?");
        for (auto it = rowids.begin(); deleted && it != rowids.end(); ++it) {
            query.bindValue(0, qlonglong(*it));
            deleted = query.exec();
            if (!deleted) failure = query.lastError().text();
        }
    }
    if (deleted && db.commit()) return;
    if (deleted) failure = db.lastError().text();
    db.rollback();
    db = QSqlDatabase();
    if (onDisk_)
        moveToMemory(failure.toStdString(), "Record", rowids);
    else
        os_log(storeLog, platform::OSLogType::error, "analytics store: " + failure.toStdString());
}

int64_t AnalyticsStore::insertPendingEvent(const std::string& body) {
    if (!ensureOpen()) return -1;
    QSqlQuery query(database(connection_));
    query.prepare("INSERT INTO PendingEvent(body) VALUES (?)");
    query.bindValue(0, QString::fromStdString(body));
    if (query.exec()) return query.lastInsertId().toLongLong();
    const std::string failure = query.lastError().text().toStdString();
    if (!onDisk_) return -1;
    moveToMemory(failure, "PendingEvent", {});
    return insertPendingEvent(body);
}

std::vector<AnalyticsStore::Row> AnalyticsStore::pendingEvents() {
    return selectRows("SELECT rowid, body FROM PendingEvent ORDER BY rowid");
}

void AnalyticsStore::deletePendingEvent(int64_t rowid, uint64_t epoch) {
    if (rowid < 0 || !ensureOpen() || epoch != epoch_) return;
    QSqlQuery query(database(connection_));
    query.prepare("DELETE FROM PendingEvent WHERE rowid = ?");
    query.bindValue(0, qlonglong(rowid));
    if (query.exec() || !onDisk_) return;
    moveToMemory(query.lastError().text().toStdString(), "PendingEvent", {rowid});
}

void AnalyticsStore::resetForTesting() {
    dropConnection(connection_);
    onDisk_ = false;
    presented_ = false;
    diskRefused_ = false;
}

void AnalyticsStore::setReadOnlyForTesting(bool readOnly) {
    readOnlyForTesting_ = readOnly;
    if (!onDisk_ || !readOnly) return;
    // The file stops taking writes under the open store: the same file, read-only, no probe.
    dropConnection(connection_);
    const std::string name = "io.tamberlo.analytics." + std::to_string(++generation_);
    openConnection(name, true);
    connection_ = name;
}

}  // namespace tamberlo
