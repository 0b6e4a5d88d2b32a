#pragma once
// Values cut from identity and hours replies, and the checks on what a service
// technician types before it is sent to the unit.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace plv {

// Characters from position 5, at most maxLen (11 for "23,"/"25,", 3 for "24,"), ended
// early by a comma, the ETX or any other control byte.
QByteArray revisionValue(const QByteArray &reply, int maxLen);

// Five characters from position 5; when position 11 is a capital "X", "-" and five
// characters from position 11 follow ("ABCDE-X1234").
QByteArray modelNumberValue(const QByteArray &reply);

// The first field from position 5, ended by its comma or the ETX; nullopt without either.
std::optional<QByteArray> totalHoursValue(const QByteArray &reply);

// Result of checking an operator's entry: a value to send, or the message to show.
template <typename T> struct Checked {
    std::optional<T> value;
    QString error;   // set when value is empty
};

// Filament limit in amperes, 0 to 5.00: code = floor(A x 2047 / 5), 0..2047.
Checked<int> parseFilamentLimit(const QString &entry);

// A model number or hardware revision goes inside a comma-separated frame: printable
// ASCII only, no comma, at most 32 characters.
Checked<QByteArray> checkUnitText(const QString &entry, const QString &what);

// Unit baud-rate list of the "Set Unit BaudRate" dialog and its codes (position + 1).
const QStringList &unitBaudTexts();   // "9600", "19,200", "38,400", "57,600", "115,200"
Checked<int> unitBaudCode(const QString &text);

} // namespace plv
