// A file URL: a path with the platform's path-component operations.
#pragma once

#include <filesystem>
#include <string>

namespace platform {

class URL {
public:
    URL() = default;
    URL(std::filesystem::path path) : path_(std::move(path)) {}  // NOLINT: a path is a file URL
    URL(const char* path) : path_(path) {}                        // NOLINT
    URL(const std::string& path) : path_(path) {}                 // NOLINT
    static URL fileURLWithPath(const std::string& path) { return URL(path); }

    std::string path() const { return path_.string(); }
    const std::filesystem::path& filePath() const { return path_; }
    operator const std::filesystem::path&() const { return path_; }  // NOLINT

    // Extension without the dot; empty when there is none.
    std::string pathExtension() const;
    std::string lastPathComponent() const;
    URL deletingPathExtension() const;
    URL appendingPathExtension(const std::string& ext) const;
    URL deletingLastPathComponent() const;
    URL appendingPathComponent(const std::string& component) const;
    bool isEmpty() const { return path_.empty(); }

    // "file://<path>", as the platform prints a file URL.
    std::string absoluteString() const { return "file://" + path(); }

    bool operator==(const URL& other) const { return path_ == other.path_; }

private:
    std::filesystem::path path_;
};

}  // namespace platform
