#include "TamberloMac/Files/MusicFileManager.h"

#include "platform/foundation/FileManager.h"

#include <cstdio>
#include <filesystem>
#include <iostream>

namespace tamberlo {

using platform::FileManager;
using platform::URL;

namespace {

std::unique_ptr<MusicFileManager>& sharedSlot() {
    static std::unique_ptr<MusicFileManager> instance;
    return instance;
}

void createFolder(const std::string& path) {
    auto& files = FileManager::defaultManager();
    if (files.fileExists(path)) return;
    try {
        files.createDirectory(URL(path), true);
    } catch (const platform::NSErrorException&) {
        // The store goes on; imports into a missing folder fail one by one.
    }
}

void emptyFolder(const std::string& path) {
    auto& files = FileManager::defaultManager();
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
        const std::string destination = savePath_ + "/" + name;

        // Removing the destination when it is the source itself would lose the file.
        if (!isSameFile(url.path(), destination)) {
            if (files.fileExists(destination)) {
                try {
                    files.removeItem(URL(destination));
                } catch (const platform::NSErrorException& error) {
                    std::cout << "删除已存在的文件失败: " << " " << error.error().localizedDescription << std::endl;
                }
            }
            try {
                files.copyItem(url, URL(destination));
            } catch (const platform::NSErrorException& error) {
                std::cout << error.error().localizedDescription << std::endl;
                continue;
            }
        }

        std::shared_ptr<platform::AVAudioFile> file;
        try {
            file = platform::AVAudioFile::forReading(URL(destination));
        } catch (const platform::NSErrorException&) {
            continue;  // not audio: the copy stays, no clip
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
