// What the operator types: link entries, the filament limit, unit texts and baud rate,
// and a setpoint box value on its way to a count and a command.
#include "fuzzsupport.h"

#include "protocol/entries.h"
#include "protocol/channels.h"
#include "protocol/ratings.h"
#include "protocol/identity.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cmath>
#include <string>

using namespace plv;

namespace {

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

void checkSerialPort(const QString &entry)
{
    const Checked<QString> r = parseSerialPortEntry(entry);
    FUZZ_CHECK(r.value.has_value() == r.error.isEmpty());
    if (!r.value)
        return;
    const QString &dev = *r.value;
    const QString t = entry.trimmed();
    // A device path of plain characters, never a directory step.
    FUZZ_CHECK(dev.startsWith(QLatin1Char('/')) && !dev.endsWith(QLatin1Char('/')));
    for (QChar c : dev)
        FUZZ_CHECK((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || isAsciiDigit(c) || c == u'/'
                   || c == u'_' || c == u'.' || c == u'-');
    const QStringList parts = dev.split(QLatin1Char('/'));
    FUZZ_CHECK(!parts.contains(QLatin1String(".")) && !parts.contains(QLatin1String("..")));
    if (!t.isEmpty() && std::all_of(t.begin(), t.end(), isAsciiDigit)) {
        const int n = t.toInt();
        FUZZ_CHECK(n >= 1 && n <= 256 && dev == QStringLiteral("/dev/ttyS%1").arg(n - 1));
    } else if (!t.startsWith(QLatin1Char('/'))) {
        FUZZ_CHECK(t.startsWith(QLatin1String("tty")) && dev == QLatin1String("/dev/") + t);
    } else {
        FUZZ_CHECK(dev == t);
    }
}

void checkTcpPort(const QString &entry)
{
    const Checked<quint16> r = parseTcpPort(entry);
    FUZZ_CHECK(r.value.has_value() == r.error.isEmpty());
    const QString t = entry.trimmed();
    const bool digits = !t.isEmpty() && std::all_of(t.begin(), t.end(), isAsciiDigit);
    // Leading zeros aside, at most five digits can name a port.
    QString sig = t;
    while (sig.size() > 1 && sig.front() == u'0')
        sig.remove(0, 1);
    const int n = digits && sig.size() <= 5 ? sig.toInt() : 0;
    FUZZ_CHECK(r.value.has_value() == (n >= 1 && n <= 65535));
    if (r.value)
        FUZZ_CHECK(*r.value == n);
}

// floor(A x 2047 / 5) in decimal string arithmetic, digit by digit: no rounding anywhere.
int referenceFilamentCode(const QString &intDigits, const QString &fracDigits)
{
    std::string n;   // A x 10^k as digits
    for (QChar c : intDigits + fracDigits)
        n.push_back(char(c.unicode()));
    int carry = 0;   // n x 2047
    for (auto it = n.rbegin(); it != n.rend(); ++it) {
        const int v = (*it - '0') * 2047 + carry;
        *it = char('0' + v % 10);
        carry = v / 10;
    }
    n.insert(0, std::to_string(carry));
    std::string q;   // / 5
    int rem = 0;
    for (char c : n) {
        const int v = rem * 10 + (c - '0');
        q.push_back(char('0' + v / 5));
        rem = v % 5;
    }
    // / 10^k, dropping the fraction; what is left is at most 2047 for accepted entries.
    q.resize(q.size() > size_t(fracDigits.size()) ? q.size() - size_t(fracDigits.size()) : 0);
    const size_t nz = q.find_first_not_of('0');
    if (nz == std::string::npos)
        return 0;
    q.erase(0, nz);
    return q.size() > 6 ? 1000000 : std::stoi(q);
}

void checkFilamentLimit(const QString &entry)
{
    const Checked<int> r = parseFilamentLimit(entry);
    FUZZ_CHECK(r.value.has_value() == r.error.isEmpty());
    if (r.value)
        FUZZ_CHECK(*r.value >= 0 && *r.value <= 2047);

    // Independent reading: [+-] digits [. digits], at least one digit, 0 <= A <= 5.
    const QString t = entry.trimmed();
    qsizetype i = 0;
    bool minus = false;
    if (i < t.size() && (t[i] == u'+' || t[i] == u'-'))
        minus = t[i++] == u'-';
    QString whole, frac;
    while (i < t.size() && isAsciiDigit(t[i]))
        whole += t[i++];
    const bool point = i < t.size() && t[i] == u'.';
    if (point)
        ++i;
    while (point && i < t.size() && isAsciiDigit(t[i]))
        frac += t[i++];
    const bool shape = i == t.size() && whole.size() + frac.size() > 0;
    if (!shape) {
        FUZZ_CHECK(!r.value);
        return;
    }
    QString w = whole;
    while (w.size() > 1 && w.front() == u'0')
        w.remove(0, 1);
    const bool fracZero = std::all_of(frac.begin(), frac.end(), [](QChar c) { return c == u'0'; });
    const bool wholeZero = w.isEmpty() || w == QLatin1String("0");
    const bool inRange = (wholeZero || (w.size() == 1 && w[0] <= u'4')) || (w == QLatin1String("5") && fracZero);
    const bool ok = inRange && (!minus || (wholeZero && fracZero));
    FUZZ_CHECK(r.value.has_value() == ok);
    if (ok)
        FUZZ_CHECK(*r.value == (minus ? 0 : referenceFilamentCode(whole, frac)));
}

void checkUnitTexts(const QString &entry)
{
    const QString what = QStringLiteral("model number");
    const Checked<QByteArray> r = checkUnitText(entry, what);
    FUZZ_CHECK(r.value.has_value() == r.error.isEmpty());
    if (!r.value) {
        FUZZ_CHECK(r.error.contains(what));
        return;
    }
    // Safe to place between commas of a frame.
    const QByteArray &v = *r.value;
    FUZZ_CHECK(!v.isEmpty() && v.size() <= 32);
    for (char c : v)
        FUZZ_CHECK(c >= 0x20 && c <= 0x7E && c != ',');
    FUZZ_CHECK(v.front() != ' ' && v.back() != ' ');
    FUZZ_CHECK(QString::fromLatin1(v) == entry.trimmed());
}

void checkBaud(const QString &entry)
{
    const Checked<int> baud = unitBaudCode(entry);
    FUZZ_CHECK(baud.value.has_value() == baud.error.isEmpty());
    const qsizetype at = unitBaudTexts().indexOf(entry.trimmed());
    FUZZ_CHECK(baud.value.has_value() == (at >= 0));
    if (baud.value)
        FUZZ_CHECK(*baud.value == at + 1 && *baud.value >= 1 && *baud.value <= 5);
}

void checkRound(double v)
{
    const int r = roundHalfEven16(v);
    FUZZ_CHECK(r >= -32768 && r <= 32767);
    if (std::isnan(v)) {
        FUZZ_CHECK(r == 0);
        return;
    }
    if (v >= 32767) {
        FUZZ_CHECK(r == 32767);
    } else if (v <= -32768) {
        FUZZ_CHECK(r == -32768);
    } else {
        const double d = std::fabs(double(r) - v);   // exact for |v| < 2^15
        FUZZ_CHECK(d <= 0.5);
        if (d == 0.5)
            FUZZ_CHECK(r % 2 == 0);
    }
}

void checkCommand(Channel c, int count)
{
    const std::optional<QByteArray> cmd = setpointCommand(c, count);
    // Nothing outside the unit's range is ever formed.
    FUZZ_CHECK(cmd.has_value() == (count >= 0 && count <= kMaxCount));
    if (!cmd)
        return;
    const QByteArray prefix(channelInfo(c).setPrefix);
    FUZZ_CHECK(cmd->startsWith(prefix) && cmd->endsWith(',') && cmd->count(',') == 2);
    const QByteArray digits = cmd->mid(prefix.size()).chopped(1);
    bool ok = false;
    FUZZ_CHECK(digits.toInt(&ok) == count && ok);
    FUZZ_CHECK(digits.size() == 1 || digits.front() != '0');
}

void checkSetpointPath(fuzz::Reader &in)
{
    const BuildData &build = (in.u8() & 1) ? plrBuild() : plvBuild();
    const Rating &rating = build.ratings[in.u8() % build.ratings.size()];
    const Channel c = Channel(in.u8() % 4);
    const double vpc = rating.voltsPerCount, mpc = milliampsPerCount(rating);
    const double boxValue = in.f64();
    const int count = roundHalfEven16(boxValue / channelFactor(c, vpc, mpc));
    checkRound(boxValue);
    checkRound(boxValue / channelFactor(c, vpc, mpc));
    checkCommand(c, count);
    checkCommand(c, int(in.u32()));
    if (count >= 0 && count <= kMaxCount) {
        const QString text = confirmationText(c, count, vpc, mpc);
        const QLatin1String unit(channelInfo(c).unitText);
        FUZZ_CHECK(text.endsWith(unit));
        const double f = channelFactor(c, vpc, mpc);
        fuzz::checkPictureText(text.chopped(unit.size()), c == Channel::A ? count * f / 1000.0 : count * f,
                               c == Channel::A ? QStringLiteral("#0.##0") : QStringLiteral("0.##0"));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks how the rest reads as text, so any UTF-16 unit can occur.
    const char *text = reinterpret_cast<const char *>(data + 1);
    const qsizetype n = qsizetype(size - 1);
    QString entry;
    switch (data[0] % 3) {
    case 0: entry = QString::fromUtf8(text, n); break;
    case 1: entry = QString::fromLatin1(text, n); break;
    default: entry = QString(reinterpret_cast<const QChar *>(QByteArray(text, n & ~1).constData()), n / 2); break;
    }
    checkSerialPort(entry);
    checkTcpPort(entry);
    checkFilamentLimit(entry);
    checkUnitTexts(entry);
    checkBaud(entry);

    fuzz::Reader in(data + 1, size - 1);
    checkSetpointPath(in);
    return 0;
}
