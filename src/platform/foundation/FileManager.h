// File-system operations with the platform's outcomes: calls that throw report an NSError in the
// NSCocoaErrorDomain with the platform's codes (4 no such file, 260 no such file to read,
// 513 no permission, 516 an item already exists, ...).
#pragma once

#include "platform/foundation/NSError.h"
#include "platform/foundation/URL.h"

#include <string>
#include <vector>

namespace platform {

// The platform's codes in NSCocoaErrorDomain.
inline constexpr int64_t NSFileNoSuchFileError = 4;
inline constexpr int64_t NSFileReadUnknownError = 256;
inline constexpr int64_t NSFileReadNoPermissionError = 257;
inline constexpr int64_t NSFileReadNoSuchFileError = 260;
inline constexpr int64_t NSFileWriteUnknownError = 512;
inline constexpr int64_t NSFileWriteNoPermissionError = 513;
inline constexpr int64_t NSFileWriteFileExistsError = 516;
inline constexpr int64_t NSFileWriteOutOfSpaceError = 640;
inline constexpr int64_t NSFileWriteVolumeReadOnlyError = 642;

class FileManager {
public:
    // FileManager.default.
    static FileManager& defaultManager();

    // True when an item exists at the path (a symbolic link counts by what it points to).
    bool fileExists(const std::string& path) const;
    // The same, and tells whether the item is a folder.
    bool fileExists(const std::string& path, bool& isDirectory) const;
    // True when the current user may read the item.
    bool isReadableFile(const std::string& path) const;

    // Removes a file, or a folder with everything in it. Throws NSErrorException (code 4) when
    // nothing is there.
    void removeItem(const URL& url) const;
    // Removes one file (or symbolic link), never a folder: a folder at the path throws (code 512)
    // and stays as it was. For paths that come from a user, where a tree must never go.
    void removeFile(const URL& url) const;
    // Copies a file or a folder tree. The destination must not exist (code 516 when it does); a
    // failed copy leaves nothing behind at the destination.
    void copyItem(const URL& source, const URL& destination) const;
    // Creates a folder; with intermediate folders an existing folder is fine, without them it is an
    // error (516), as is a missing parent (4).
    void createDirectory(const URL& url, bool withIntermediateDirectories) const;
    // The names of the items in a folder (hidden ones included, "." and ".." not), sorted.
    std::vector<std::string> contentsOfDirectory(const std::string& path) const;

    // The user's documents folder (absolute, tilde expanded).
    URL documentDirectoryURL() const;

private:
    FileManager() = default;
};

}  // namespace platform
