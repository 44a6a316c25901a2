#include "TamberloMac/Files/MusicFileManager.h"

#include "platform/foundation/FileManager.h"
#include "platform/foundation/OSLog.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

namespace tamberlo {

using platform::FileManager;
using platform::URL;

namespace {

std::unique_ptr<MusicFileManager>& sharedSlot() {
    static std::unique_ptr<MusicFileManager> instance;
    return instance;
}

const platform::OSLog& storeLog() {
    static const platform::OSLog log{"io.tamberlo.editor", "MusicFileManager"};
    return log;
}

// A work folder is emptied at every start, so it must be a folder of the store's own: a symbolic
// link (whose target is someone else's) or a file in its place is replaced by a new folder, and
// what a link names is left as it is.
void createFolder(const std::string& path) {
    auto& files = FileManager::defaultManager();
    std::error_code error;
    const auto status = std::filesystem::symlink_status(path, error);
    if (std::filesystem::is_directory(status)) return;
    if (std::filesystem::exists(status)) {
        const bool link = std::filesystem::is_symlink(status);
        std::filesystem::remove(path, error);  // the link itself, never what it names
        platform::os_log(storeLog(), platform::OSLogType::error,
                         "the work folder " + path + (link ? " was a symbolic link" : " was not a folder") +
                             (error ? "; it could not be replaced: " + error.message() : "; replaced by an empty folder"));
        if (error) return;
    }
    try {
        files.createDirectory(URL(path), true);
    } catch (const platform::NSErrorException&) {
        // The store goes on; imports into a missing folder fail one by one.
    }
}

void emptyFolder(const std::string& path) {
    auto& files = FileManager::defaultManager();
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) return;  // never through a link
    std::vector<std::string> names;
    try {
        names = files.contentsOfDirectory(path);
    } catch (const platform::NSErrorException&) {
        return;
    }
    for (const auto& name : names) {
        try {
            files.removeItem(URL(path + "/" + name));
        } catch (const platform::NSErrorException&) {
        }
    }
}

bool isSameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error) && !error;
}

// True when both files hold the same bytes: a copy already there serves another import of the
// same file.
bool sameContent(const std::string& a, const std::string& b) {
    std::error_code error;
    const auto size = std::filesystem::file_size(a, error);
    if (error || std::filesystem::file_size(b, error) != size || error) return false;
    std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
    std::vector<char> x(1 << 16), y(1 << 16);
    while (first && second) {
        first.read(x.data(), std::streamsize(x.size()));
        second.read(y.data(), std::streamsize(y.size()));
        if (first.gcount() != second.gcount() || !std::equal(x.begin(), x.begin() + first.gcount(), y.begin()))
            return false;
    }
    return first.eof() && second.eof();
}

// "x.wav" taken: "x-1.wav", "x-2.wav", ... the first name free in `folder`.
std::string freeName(const std::string& folder, const std::string& name) {
    const URL named(name);
    const std::string stem = named.deletingPathExtension().path();
    const std::string extension = named.pathExtension();
    for (long n = 1;; ++n) {
        const std::string candidate =
            folder + "/" + stem + "-" + std::to_string(n) + (extension.empty() ? "" : "." + extension);
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, error))) return candidate;
    }
}

}  // namespace

MusicFileManager& MusicFileManager::shared() {
    auto& slot = sharedSlot();
    if (!slot) slot = std::make_unique<MusicFileManager>();
    return *slot;
}

void MusicFileManager::resetShared() { sharedSlot() = std::make_unique<MusicFileManager>(); }

MusicFileManager::MusicFileManager() {
    const std::string documents = FileManager::defaultManager().documentDirectoryURL().path();
    const std::string save = documents + "/user_docs";
    const std::string operate = documents + "/user_operate";
    createFolder(save);
    createFolder(operate);
    emptyFolder(save);
    emptyFolder(operate);
    savePath_ = save;
    operatePath_ = operate;
}

std::vector<std::shared_ptr<MusicModel>> MusicFileManager::importMusicsWithArr(const std::vector<URL>& urls) {
    auto& files = FileManager::defaultManager();
    std::vector<std::shared_ptr<MusicModel>> musics;
    for (const auto& url : urls) {
        const std::string name = url.lastPathComponent();
        bool isDirectory = false;
        if (files.fileExists(url.path(), isDirectory) && isDirectory) {
            std::cout << "导入失败: " << url.path() << ": a folder is not an audio file" << std::endl;
            continue;
        }
        std::string destination = savePath_ + "/" + name;
        // A symbolic link is imported as the file it names: a copied link would break (relative)
        // or follow whatever later happens to the original (absolute).
        std::error_code linkError;
        const std::filesystem::path source = std::filesystem::is_symlink(std::filesystem::symlink_status(url.filePath(), linkError))
                                                 ? std::filesystem::canonical(url.filePath(), linkError)
                                                 : url.filePath();
        if (linkError) {
            std::cout << "导入失败: " << url.path() << ": " << linkError.message() << std::endl;
            continue;
        }

        // The store's own copy opens where it lies; a copy of another file with the same name gets
        // a free name, so that each clip keeps its own bytes.
        if (!isSameFile(source, destination)) {
            if (files.fileExists(destination) && !sameContent(source, destination))
                destination = freeName(savePath_, name);
            if (!files.fileExists(destination)) {
                try {
                    files.copyItem(URL(source), URL(destination));
                } catch (const platform::NSErrorException& error) {
                    std::cout << error.error().localizedDescription << std::endl;
                    continue;
                }
            }
        }

        std::shared_ptr<platform::AVAudioFile> file;
        try {
            file = platform::AVAudioFile::forReading(URL(destination));
        } catch (const platform::NSErrorException& error) {
            // Not audio, or damaged: the copy stays, no clip.
            std::cout << "导入失败: " << url.path() << ": " << error.error().localizedDescription << std::endl;
            continue;
        }
        auto music = MusicModel::make();
        music->name = name;
        music->file = std::move(file);
        musics.push_back(std::move(music));
    }
    return musics;
}

std::string MusicFileManager::nextOperatePath() {
    operateFileCount_ += 1;
    char counter[32];
    std::snprintf(counter, sizeof counter, "%05ld", operateFileCount_);
    return operatePath_ + "/" + counter;
}

}  // namespace tamberlo
