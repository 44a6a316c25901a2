// The help document: "TamberloHelper.pdf" for a Chinese first preferred localization (zh-Hans or
// zh-Hant), "TamberloHelper_en.pdf" otherwise, opened in the system's default viewer. A missing
// document is logged and opens nothing.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace tamberlo {

class HelpDocument {
public:
    // "TamberloHelper" or "TamberloHelper_en" for a localization name ("zh-Hans", "en", ...).
    static QString nameForLocalization(const QString& localization);
    // The document's name for the user's first preferred localization.
    static QString name();
    // Folders searched for "<name>.pdf", in order: next to the executable ("help/") and the
    // installed share folder, unless set for testing.
    static QStringList& searchDirectories();
    // The document's path, or empty when it is not there.
    static QString path();
    // Opens a URL in the system's viewer; tests replace it. The default is QDesktopServices.
    static std::function<bool(const QUrl&)>& openHook();
    // Opens the document; false when it is missing or could not be opened.
    static bool open();
};

}  // namespace tamberlo
