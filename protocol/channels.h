#pragma once
// The four setpoint channels of the unit and how their counts convert.
#include <QByteArray>
#include <QString>
#include <optional>

namespace plv {

enum class Channel { A = 0, B = 1, C = 2, D = 3 };

constexpr int kMaxCount = 4095;
constexpr double kFilamentAmpsPerCount = 0.001221;   // channel C and the filament monitor
constexpr double kPreheatAmpsPerCount = 0.0006105;   // channel D

struct ChannelInfo {
    Channel channel;
    const char *optionName;   // "opt_DACA"
    const char *optionText;   // "KV_PROG"
    const char *modifyText;   // "Now Modifying KV_PROG"
    double scaledMax;         // scaled box upper limit: 70000, 8.56, 4.999995, 2.5
    const char *setPrefix;    // "10,"
    const char *readCommand;  // "14,"
    const char *resultBox;    // "txt_DACA"
    const char *readPicture;  // "#0.00", "0.00", "0.##0", "0.##0"
    const char *unitText;     // " kV", " mA", " A", " A"
};

const ChannelInfo &channelInfo(Channel c);

// Factor per count: A in volts (VoltsPerCount), B in mA, C and D fixed amperes.
double channelFactor(Channel c, double voltsPerCount, double milliampsPerCount);

// Channel A's count in kV: count x VoltsPerCount / 1000, in that order. The readbacks,
// the TRY OUT confirmation and the kV monitor all use it, so one count shows one value
// (29.3 / 1000 is inexact and would move exact halves such as 10.255 kV down).
double kilovolts(double count, double voltsPerCount);

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4); saturates to the
// 16-bit range so a huge box value cannot overflow.
int roundHalfEven16(double v);

// The count of an engineering value by the scaled box's rule: value / factor (volts for
// A), rounded half to even; nullopt when that lies outside 0..4095. Clients and the
// broker refuse such a value with nothing sent.
std::optional<int> countForValue(Channel c, double value, double voltsPerCount, double milliampsPerCount);
// The same count before the range check, for saying how far out a refused value lies.
int nearestCount(Channel c, double value, double voltsPerCount, double milliampsPerCount);

// "10,2048," for A at 2048; nullopt for a count outside 0..4095 (never sent).
std::optional<QByteArray> setpointCommand(Channel c, int count);

// The value a readback shows for a count, in its units: kV for A (as kilovolts()), mA
// for B, A for C and D.
double readbackValue(Channel c, double count, double voltsPerCount, double milliampsPerCount);

// Readback text of a count, e.g. "35.01 kV" (A: count x VoltsPerCount / 1000 with "#0.00").
QString readbackText(Channel c, double count, double voltsPerCount, double milliampsPerCount);

// Confirmation after an accepted TRY OUT: the sent count in the readback's units, with
// "#0.##0" for A (kV) and "0.##0" for B (mA), C and D (A).
QString confirmationText(Channel c, int count, double voltsPerCount, double milliampsPerCount);

} // namespace plv
