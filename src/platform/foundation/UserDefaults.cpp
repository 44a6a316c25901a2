#include "platform/foundation/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
QString toQ(const std::string& text) { return QString::fromStdString(text); }

std::string standardPath() {
    // XDG_CONFIG_HOME is read at first use so that a process (or a test) that points it elsewhere
    // before touching the defaults keeps them there.
    QString folder = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (folder.isEmpty()) folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (folder.isEmpty()) folder = QDir::homePath() + "/.config";
    return (folder + "/Tamberlo/Tamberlo.ini").toStdString();
}

// Creates the file empty and private before anything is written into it; an existing file is
// made private. Rewrites keep the mode of the file they replace.
void makePrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
    ::chmod(path.c_str(), 0600);
}

// Lists and dictionaries are kept as JSON bytes, which the ini file keeps apart from texts.
std::optional<QJsonDocument> jsonValue(const QVariant& value) {
    if (value.typeId() != QMetaType::QByteArray) return std::nullopt;
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(value.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError) return std::nullopt;
    return document;
}
}  // namespace

UserDefaults& UserDefaults::standardUserDefaults() {
    // Never destroyed: a completion finishing on a worker queue while the process exits may still
    // write here. Every write is already on disk, so nothing waits for a destructor.
    static UserDefaults* defaults = new UserDefaults(standardPath());
    return *defaults;
}

UserDefaults::UserDefaults(const std::string& iniPath) {
    QDir().mkpath(QFileInfo(toQ(iniPath)).absolutePath());
    makePrivate(iniPath);
    settings_ = std::make_unique<QSettings>(toQ(iniPath), QSettings::IniFormat);
}

UserDefaults::~UserDefaults() = default;

std::string UserDefaults::path() const {
    std::lock_guard lock(mutex_);
    return settings_->fileName().toStdString();
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const QVariant value = settings_->value(toQ(key));
    if (!value.isValid()) return std::nullopt;
    return value.toString().toStdString();
}

bool UserDefaults::boolForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const QVariant value = settings_->value(toQ(key));
    const QString text = value.toString().trimmed().toLower();
    if (text == "true" || text == "yes") return true;
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok && number != 0;
}

int64_t UserDefaults::integerForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    bool ok = false;
    const double number = settings_->value(toQ(key)).toString().toDouble(&ok);
    return ok ? int64_t(number) : 0;
}

double UserDefaults::doubleForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    bool ok = false;
    const double number = settings_->value(toQ(key)).toString().toDouble(&ok);
    return ok ? number : 0;
}

std::optional<QJsonArray> UserDefaults::arrayForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto document = jsonValue(settings_->value(toQ(key)));
    if (!document || !document->isArray()) return std::nullopt;
    return document->array();
}

std::optional<QJsonObject> UserDefaults::dictionaryForKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const auto document = jsonValue(settings_->value(toQ(key)));
    if (!document || !document->isObject()) return std::nullopt;
    return document->object();
}

void UserDefaults::setArray(const QJsonArray& value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), QJsonDocument(value).toJson(QJsonDocument::Compact));
    writeOut();
}

void UserDefaults::setDictionary(const QJsonObject& value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), QJsonDocument(value).toJson(QJsonDocument::Compact));
    writeOut();
}

void UserDefaults::writeOut() {
    settings_->sync();
    ::chmod(settings_->fileName().toLocal8Bit().constData(), 0600);
}

bool UserDefaults::hasKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return settings_->contains(toQ(key));
}

void UserDefaults::setString(const std::string& value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), toQ(value));
    writeOut();
}

void UserDefaults::setBool(bool value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), value);
    writeOut();
}

void UserDefaults::setInteger(int64_t value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), qlonglong(value));
    writeOut();
}

void UserDefaults::setDouble(double value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), value);
    writeOut();
}

void UserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->remove(toQ(key));
    writeOut();
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    writeOut();
    return settings_->status() == QSettings::NoError;
}

}  // namespace platform
