#include "platform/foundation/FileManager.h"

#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& name) { return "\u201C" + name + "\u201D"; }

std::string nameOf(const fs::path& p) { return URL(p).lastPathComponent(); }

[[noreturn]] void fail(int64_t code, const std::string& description) {
    throw NSErrorException(NSError{NSCocoaErrorDomain, code, description});
}

// Errors while writing (removing, copying to, creating), by the errno the system gave.
[[noreturn]] void failWriting(const std::error_code& ec, const fs::path& item, const std::string& failure) {
    const std::string name = quoted(nameOf(item));
    const std::string folder = quoted(nameOf(item.parent_path()));
    switch (ec.value()) {
    case ENOENT:
        if (failure == "removed") fail(NSFileNoSuchFileError, name + " couldn\u2019t be removed because it doesn\u2019t exist.");
        fail(NSFileNoSuchFileError,
             name + " couldn\u2019t be " + failure + " because the folder " + folder + " doesn\u2019t exist.");
    case EACCES:
    case EPERM:
        fail(NSFileWriteNoPermissionError,
             "You don\u2019t have permission to save the file " + name + " in the folder " + folder + ".");
    case EEXIST:
        fail(NSFileWriteFileExistsError,
             "The file " + name + " couldn\u2019t be saved because a file with the same name already exists.");
    case ENOSPC:
    case EDQUOT:
        fail(NSFileWriteOutOfSpaceError, "The file " + name + " couldn\u2019t be saved because there isn\u2019t enough space.");
    case EROFS:
        fail(NSFileWriteVolumeReadOnlyError, "The file " + name + " couldn\u2019t be saved because the volume is read only.");
    default:
        fail(NSFileWriteUnknownError, name + " couldn\u2019t be " + failure + ": " + ec.message() + ".");
    }
}

// Errors while reading (a copy's source, a folder listing).
[[noreturn]] void failReading(const std::error_code& ec, const fs::path& item) {
    const std::string name = quoted(nameOf(item));
    switch (ec.value()) {
    case ENOENT:
        fail(NSFileReadNoSuchFileError, "The file " + name + " couldn\u2019t be opened because there is no such file.");
    case EACCES:
    case EPERM:
        fail(NSFileReadNoPermissionError,
             "The file " + name + " couldn\u2019t be opened because you don\u2019t have permission to view it.");
    default: fail(NSFileReadUnknownError, "The file " + name + " couldn\u2019t be opened: " + ec.message() + ".");
    }
}

std::error_code errnoCode(int value) { return std::error_code(value, std::generic_category()); }

}  // namespace

FileManager& FileManager::defaultManager() {
    static FileManager manager;
    return manager;
}

bool FileManager::fileExists(const std::string& path) const {
    std::error_code ec;
    return !path.empty() && fs::exists(fs::path(path), ec);
}

bool FileManager::fileExists(const std::string& path, bool& isDirectory) const {
    isDirectory = false;
    if (path.empty()) return false;
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(path), ec);
    if (ec || !fs::exists(status)) return false;
    isDirectory = fs::is_directory(status);
    return true;
}

bool FileManager::isReadableFile(const std::string& path) const {
    return !path.empty() && ::access(path.c_str(), R_OK) == 0;
}

void FileManager::removeItem(const URL& url) const {
    const fs::path& p = url.filePath();
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(p, ec);
    if (ec || !fs::exists(status)) failWriting(errnoCode(ENOENT), p, "removed");
    fs::remove_all(p, ec);
    if (ec) failWriting(ec, p, "removed");
}

void FileManager::removeFile(const URL& url) const {
    const fs::path& p = url.filePath();
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(p, ec);
    if (ec || !fs::exists(status)) failWriting(errnoCode(ENOENT), p, "removed");
    if (fs::is_directory(status)) failWriting(errnoCode(EISDIR), p, "removed");
    // remove() unlinks a file and refuses a non-empty folder; the check above keeps empty ones too.
    fs::remove(p, ec);
    if (ec) failWriting(ec, p, "removed");
}

void FileManager::copyItem(const URL& source, const URL& destination) const {
    const fs::path& from = source.filePath();
    const fs::path& to = destination.filePath();
    std::error_code ec;
    const fs::file_status fromStatus = fs::symlink_status(from, ec);
    if (ec || !fs::exists(fromStatus)) failReading(errnoCode(ENOENT), from);
    if (::access(from.c_str(), R_OK) != 0 && !fs::is_symlink(fromStatus)) failReading(errnoCode(errno), from);

    const fs::file_status toStatus = fs::symlink_status(to, ec);
    if (fs::exists(toStatus)) {
        fail(NSFileWriteFileExistsError, quoted(nameOf(from)) + " couldn\u2019t be copied to " +
                                             quoted(nameOf(to.parent_path())) +
                                             " because an item with the same name already exists.");
    }
    ec.clear();
    if (fs::is_symlink(fromStatus)) {
        fs::copy_symlink(from, to, ec);
    } else if (fs::is_directory(fromStatus)) {
        fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    } else {
        fs::copy_file(from, to, fs::copy_options::none, ec);
    }
    if (ec) {
        // A half-written copy would look like a good one to the next reader.
        std::error_code ignored;
        if (fs::exists(fs::symlink_status(to, ignored))) fs::remove_all(to, ignored);
        failWriting(ec, to, "copied");
    }
}

void FileManager::createDirectory(const URL& url, bool withIntermediateDirectories) const {
    const fs::path& p = url.filePath();
    std::error_code ec;
    const fs::file_status status = fs::status(p, ec);
    if (fs::exists(status)) {
        if (withIntermediateDirectories && fs::is_directory(status)) return;
        failWriting(errnoCode(EEXIST), p, "created");
    }
    ec.clear();
    if (withIntermediateDirectories) fs::create_directories(p, ec);
    else fs::create_directory(p, ec);
    if (ec) failWriting(ec, p, "created");
}

std::vector<std::string> FileManager::contentsOfDirectory(const std::string& path) const {
    const fs::path p(path);
    std::error_code ec;
    fs::directory_iterator it(p, ec);
    if (ec) failReading(ec, p);
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) names.push_back(it->path().filename().string());
    if (ec) failReading(ec, p);
    std::sort(names.begin(), names.end());
    return names;
}

URL FileManager::documentDirectoryURL() const {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!folder.isEmpty()) return URL(folder.toStdString());
    const char* home = std::getenv("HOME");
    return URL(std::string(home && *home ? home : "/tmp") + "/Documents");
}

}  // namespace platform
