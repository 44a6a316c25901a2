// The user defaults: small values kept between runs under text keys, in an ini file at
// $XDG_CONFIG_HOME/Tamberlo/Tamberlo.ini (~/.config when the variable is not set). Safe to use
// from any thread; every change is written out at once. The file is readable by its owner only
// (it holds the account's sign-in token). Lists and dictionaries keep the JSON types of their values.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QSettings;
class QJsonArray;
class QJsonObject;

namespace platform {

class UserDefaults {
public:
    // UserDefaults.standard.
    static UserDefaults& standardUserDefaults();

    // Defaults kept in the given ini file (tests use their own).
    explicit UserDefaults(const std::string& iniPath);
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The file the values live in.
    std::string path() const;

    // The text stored under the key; none when nothing is stored.
    std::optional<std::string> stringForKey(const std::string& key) const;
    // The stored value as a Boolean / integer / double; false / 0 when nothing (or no number) is stored.
    bool boolForKey(const std::string& key) const;
    int64_t integerForKey(const std::string& key) const;
    double doubleForKey(const std::string& key) const;
    // The list / dictionary stored under the key; none when nothing (or another kind of value) is stored.
    std::optional<QJsonArray> arrayForKey(const std::string& key) const;
    std::optional<QJsonObject> dictionaryForKey(const std::string& key) const;
    // True when a value is stored under the key.
    bool hasKey(const std::string& key) const;

    void setString(const std::string& value, const std::string& key);
    void setBool(bool value, const std::string& key);
    void setInteger(int64_t value, const std::string& key);
    void setDouble(double value, const std::string& key);
    void setArray(const QJsonArray& value, const std::string& key);
    void setDictionary(const QJsonObject& value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // Writes pending changes; false when the file cannot be written.
    bool synchronize();

private:
    // Writes the file out and keeps it private to its owner.
    void writeOut();

    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
};

}  // namespace platform
