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
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", QString::fromStdString(name));
        db.setDatabaseName(path);
        QString failure;
        QString nativeCode;
        if (!db.open()) {
            failure = db.lastError().text();
            nativeCode = db.lastError().nativeErrorCode();
        } else {
            QSqlQuery query(db);
            for (const char* statement : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL", schema[0], schema[1]}) {
                if (!query.exec(statement)) {
                    failure = query.lastError().text();
                    nativeCode = query.lastError().nativeErrorCode();
                    break;
                }
            }
        }
        if (failure.isEmpty()) {
            dropConnection(connection_);
            connection_ = name;
            onDisk_ = true;
            ++epoch_;
            return true;
        }
        db = QSqlDatabase();
        std::string dropped = name;
        dropConnection(dropped);
        // A file that is not a database (SQLITE_NOTADB) is kept aside for whoever wants to look at
        // it, and a fresh store takes its place.
        if (attempt == 0 && nativeCode == "26") {
            const QString aside = path + ".corrupt-" + QDateTime::currentDateTimeUtc().toString("yyyyMMddTHHmmssZ");
            if (QFile::rename(path, aside)) {
                QFile::remove(path + "-wal");
                QFile::remove(path + "-shm");
                present(storeError(259, "The analytics store " + path.toStdString() +
                                            " was not a database; it was moved to " + aside.toStdString() + "."));
                continue;
            }
        }
        return fail(storeError(9999, "Failed to initialize the store: " + failure.toStdString()));
    }
    return false;
}

// Rows kept in memory while the file cannot be used.
void AnalyticsStore::openMemory() {
    const std::string name = "io.tamberlo.analytics." + std::to_string(++generation_);
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", QString::fromStdString(name));
    db.setDatabaseName(":memory:");
    db.open();
    connection_ = name;
    onDisk_ = false;
    ++epoch_;
    for (const char* statement : schema) exec(statement);
}

bool AnalyticsStore::ensureOpen() {
    if (onDisk_) return true;
    if (connection_.empty()) {
        if (openDisk(false)) return true;
        openMemory();
        return !connection_.empty();
    }
    // In memory: try the file again, silently, and move what waits in memory into it.
    const std::string memory = connection_;
    connection_.clear();
    if (!openDisk(true)) {
        connection_ = memory;
        return true;
    }
    const std::string disk = connection_;
    for (const char* table : {"Record", "PendingEvent"}) {
        QSqlQuery read(database(memory));
        read.exec(QString("SELECT * FROM %1 ORDER BY rowid").arg(table));
        QSqlQuery write(database(disk));
        write.prepare(QString("INSERT INTO %1 VALUES (?)").arg(table));
        while (read.next()) {
            write.bindValue(0, read.value(0));
            write.exec();
        }
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
    os_log(storeLog, platform::OSLogType::error, "analytics store: " + query.lastError().text().toStdString());
    return false;
}

std::vector<AnalyticsStore::Row> AnalyticsStore::records() {
    std::vector<Row> rows;
    if (!ensureOpen()) return rows;
    QSqlQuery query(database(connection_));
    query.setForwardOnly(true);
    if (!query.exec("SELECT rowid, text FROM Record ORDER BY rowid")) return rows;
    while (query.next()) rows.emplace_back(query.value(0).toLongLong(), query.value(1).toString().toStdString());
    return rows;
}

void AnalyticsStore::deleteRecords(const std::vector<int64_t>& rowids, uint64_t epoch) {
    if (rowids.empty() || !ensureOpen() || epoch != epoch_) return;
    QSqlDatabase db = database(connection_);
    db.transaction();
    QSqlQuery query(db);
    query.prepare("DELETE FROM Record WHERE rowid = ?");
    for (const int64_t rowid : rowids) {
        query.bindValue(0, qlonglong(rowid));
        query.exec();
    }
    db.commit();
}

int64_t AnalyticsStore::insertPendingEvent(const std::string& body) {
    if (!ensureOpen()) return -1;
    QSqlQuery query(database(connection_));
    query.prepare("INSERT INTO PendingEvent(body) VALUES (?)");
    query.bindValue(0, QString::fromStdString(body));
    if (!query.exec()) return -1;
    return query.lastInsertId().toLongLong();
}

std::vector<AnalyticsStore::Row> AnalyticsStore::pendingEvents() {
    std::vector<Row> rows;
    if (!ensureOpen()) return rows;
    QSqlQuery query(database(connection_));
    query.setForwardOnly(true);
    if (!query.exec("SELECT rowid, body FROM PendingEvent ORDER BY rowid")) return rows;
    while (query.next()) rows.emplace_back(query.value(0).toLongLong(), query.value(1).toString().toStdString());
    return rows;
}

void AnalyticsStore::deletePendingEvent(int64_t rowid, uint64_t epoch) {
    if (rowid < 0 || !ensureOpen() || epoch != epoch_) return;
    QSqlQuery query(database(connection_));
    query.prepare("DELETE FROM PendingEvent WHERE rowid = ?");
    query.bindValue(0, qlonglong(rowid));
    query.exec();
}

void AnalyticsStore::resetForTesting() {
    dropConnection(connection_);
    onDisk_ = false;
    presented_ = false;
}

}  // namespace tamberlo
