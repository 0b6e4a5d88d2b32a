#pragma once
// Decoders of the unit's replies, fed straight from the reply text (STX at position 1,
// data from position 5). Nothing here touches a widget or a link.
#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace plv {

// Character at 1-based position pos, or '\0' when the reply is shorter.
char charAt(const QByteArray &reply, int pos);

// A one-character status field: '1' -> true, '0' -> false, anything else -> unknown.
std::optional<bool> flagAt(const QByteArray &reply, int pos);

// Reply to "22," (and every unsolicited status frame): positions 5, 7, 9, 11.
struct MainStatus {
    std::optional<bool> hvOn, interlockOpen, fault, remote;
};
MainStatus decodeMainStatus(const QByteArray &reply);

// Reply to "68,": arc, temperature, over/under voltage, over/under current at positions
// 5..15; true means the fault is present ("1").
std::array<std::optional<bool>, 6> decodeFaultFlags(const QByteArray &reply);

// Comma-ended fields from position 5, up to the ETX. Stops at the first field without a
// closing comma before the ETX: 'fields' then holds only the complete ones before it.
QList<QByteArray> cutFields(const QByteArray &reply, int maxFields);

// A count as the unit sends it: decimal digits, optionally signed, with a decimal point
// and surrounding blanks tolerated. Anything else (empty, letters, "inf", "1e3") is nullopt.
std::optional<double> parseNumber(const QByteArray &field);

// Display texts of the analog readbacks (command 19 and 20 fields).
QString kvMonitorText(double count, double voltsPerCount);        // "#0.00" + " kV"
QString maMonitorText(double count, double milliampsPerCount);    // "0.00" + " mA"
QString filamentMonitorText(double count);                         // x0.001221, "0.##0" + " A"
QString supplyText(double count);            // "-" + (3972 - count) x 0.006224 "##.#0" + " V"
// The values those texts show, as numbers.
double monitorMilliamps(double count, double milliampsPerCount);   // count x mA per count
double filamentAmps(double count);           // count x 0.001221
double supplyVolts(double count);            // -(3972 - count) x 0.006224
QString rawChannelText(double count);        // "##.0", unscaled

} // namespace plv
