#include "EditorUI/App/HelpDocument.h"

#include "TamberloMac/Shell/Localized.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace tamberlo {

QString HelpDocument::nameForLocalization(const QString& localization) {
    const QString lower = localization.toLower();
    return lower.contains("zh-hans") || lower.contains("zh-hant") ? "TamberloHelper" : "TamberloHelper_en";
}

QString HelpDocument::name() {
    return nameForLocalization(QString::fromStdString(preferredLocalization(preferredLanguages())));
}

QStringList& HelpDocument::searchDirectories() {
    static QStringList directories = [] {
        const QString app = QCoreApplication::applicationDirPath();
        return QStringList{app + "/help", app + "/../share/tamberlo/help"};
    }();
    return directories;
}

QString HelpDocument::path() {
    const QString file = name() + ".pdf";
    for (const QString& directory : searchDirectories()) {
        const QFileInfo candidate(QDir(directory).filePath(file));
        if (candidate.isFile()) return candidate.absoluteFilePath();
    }
    return {};
}

std::function<bool(const QUrl&)>& HelpDocument::openHook() {
    static std::function<bool(const QUrl&)> hook = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return hook;
}

bool HelpDocument::open() {
    const QString found = path();
    if (found.isEmpty()) {
        std::printf("help document missing: %s.pdf\n", name().toStdString().c_str());
        return false;
    }
    return openHook()(QUrl::fromLocalFile(found));
}

}  // namespace tamberlo
