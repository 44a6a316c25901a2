#include "platform/foundation/URL.h"

namespace platform {

namespace {
// The path without trailing separators ("/a/b/" names the same item as "/a/b").
std::string trimmed(const std::filesystem::path& p) {
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}
}  // namespace

std::string URL::lastPathComponent() const {
    const std::string s = trimmed(path_);
    if (s == "/") return s;
    const auto slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::string URL::pathExtension() const {
    const std::string name = lastPathComponent();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
    return name.substr(dot + 1);
}

URL URL::deletingPathExtension() const {
    const std::string ext = pathExtension();
    if (ext.empty()) return URL(trimmed(path_));
    const std::string s = trimmed(path_);
    return URL(s.substr(0, s.size() - ext.size() - 1));
}

URL URL::appendingPathExtension(const std::string& ext) const {
    if (ext.empty()) return *this;
    return URL(trimmed(path_) + "." + ext);
}

URL URL::deletingLastPathComponent() const {
    const std::string s = trimmed(path_);
    const auto slash = s.rfind('/');
    if (slash == std::string::npos) return URL(std::string("."));
    if (slash == 0) return URL(std::string("/"));
    return URL(s.substr(0, slash));
}

URL URL::appendingPathComponent(const std::string& component) const {
    std::string s = trimmed(path_);
    if (s.empty()) return URL(component);
    if (s.back() != '/') s += '/';
    return URL(s + component);
}

}  // namespace platform
