#include "platform/foundation/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

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
}  // namespace

UserDefaults& UserDefaults::standardUserDefaults() {
    static UserDefaults defaults(standardPath());
    return defaults;
}

UserDefaults::UserDefaults(const std::string& iniPath) {
    QDir().mkpath(QFileInfo(toQ(iniPath)).absolutePath());
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

bool UserDefaults::hasKey(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return settings_->contains(toQ(key));
}

void UserDefaults::setString(const std::string& value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), toQ(value));
    settings_->sync();
}

void UserDefaults::setBool(bool value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), value);
    settings_->sync();
}

void UserDefaults::setInteger(int64_t value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), qlonglong(value));
    settings_->sync();
}

void UserDefaults::setDouble(double value, const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->setValue(toQ(key), value);
    settings_->sync();
}

void UserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->remove(toQ(key));
    settings_->sync();
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(mutex_);
    settings_->sync();
    return settings_->status() == QSettings::NoError;
}

}  // namespace platform
