#include "TamberloMac/Shell/DateUtilities.h"

#include <QDateTime>
#include <QString>

namespace tamberlo {

namespace {

QDateTime toQ(Date date) {
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    return QDateTime::fromMSecsSinceEpoch(millis);
}

Date fromQ(const QDateTime& dateTime) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::milliseconds(dateTime.toMSecsSinceEpoch())));
}

}  // namespace

int year(Date date) { return toQ(date).date().year(); }
int month(Date date) { return toQ(date).date().month(); }
int day(Date date) { return toQ(date).date().day(); }

std::optional<Date> dateFromString(const std::string& text, const std::string& format) {
    const QDateTime parsed = QDateTime::fromString(QString::fromStdString(text), QString::fromStdString(format));
    if (!parsed.isValid()) return std::nullopt;
    return fromQ(parsed);
}

std::string stringFromDate(Date date, const std::string& format) {
    return toQ(date).toString(QString::fromStdString(format)).toStdString();
}

}  // namespace tamberlo
