#include "TamberloMac/Files/AudiovisualContent.h"

#include <QMimeDatabase>
#include <QMimeType>
#include <QString>

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace tamberlo {

namespace {

bool hasKnownExtension(const platform::URL& url) {
    static constexpr std::array<std::string_view, 18> extensions{"caf", "aif", "aiff", "aifc", "wav", "bwf",
                                                                 "mp3", "m4a", "aac",  "mp4",  "m4v", "mov",
                                                                 "flac", "ogg", "opus", "snd", "au",  "ts"};
    std::string extension = url.pathExtension();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return std::find(extensions.begin(), extensions.end(), extension) != extensions.end();
}

bool hasAudiovisualMimeType(const platform::URL& url) {
    static thread_local QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFile(QString::fromStdString(url.path()));
    if (!type.isValid()) return false;
    auto isAV = [](const QString& name) { return name.startsWith("audio/") || name.startsWith("video/"); };
    if (isAV(type.name())) return true;
    for (const QString& parent : type.allAncestors())
        if (isAV(parent)) return true;
    return false;
}

}  // namespace

bool isAudiovisualContent(const platform::URL& url) { return hasKnownExtension(url) || hasAudiovisualMimeType(url); }

std::vector<platform::URL> audiovisualContentURLs(const std::vector<platform::URL>& urls) {
    std::vector<platform::URL> kept;
    for (const auto& url : urls)
        if (isAudiovisualContent(url)) kept.push_back(url);
    return kept;
}

}  // namespace tamberlo
