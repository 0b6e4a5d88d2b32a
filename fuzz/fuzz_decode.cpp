// Replies from the wire through every decoder: status flags, fields, numbers, the
// monitor and readback texts, and the identity values.
#include "fuzzsupport.h"

#include "protocol/decode.h"
#include "protocol/channels.h"
#include "protocol/picture.h"
#include "protocol/identity.h"

#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstdlib>

using namespace plv;

namespace {

void checkFlags(const QByteArray &r)
{
    for (int pos = -2; pos <= int(r.size()) + 2; ++pos) {
        const char c = charAt(r, pos);
        FUZZ_CHECK(c == (pos >= 1 && pos <= r.size() ? r.at(pos - 1) : '\0'));
        const std::optional<bool> f = flagAt(r, pos);
        // Only '0' and '1' ever become a flag.
        FUZZ_CHECK(f.has_value() == (c == '0' || c == '1'));
        FUZZ_CHECK(!f || *f == (c == '1'));
        if (pos > 40)   // the decoders below read no further; the rest is covered above
            break;
    }
    const MainStatus s = decodeMainStatus(r);
    FUZZ_CHECK(s.hvOn == flagAt(r, 5) && s.interlockOpen == flagAt(r, 7));
    FUZZ_CHECK(s.fault == flagAt(r, 9) && s.remote == flagAt(r, 11));
    const auto faults = decodeFaultFlags(r);
    for (int i = 0; i < 6; ++i)
        FUZZ_CHECK(faults[size_t(i)] == flagAt(r, 5 + 2 * i));
}

// The number's text must have been a plain signed decimal, and its value what the C
// library reads from that text.
void checkNumber(const QByteArray &field)
{
    const std::optional<double> v = parseNumber(field);
    if (!v)
        return;
    FUZZ_CHECK(std::isfinite(*v));
    const QByteArray t = field.trimmed();
    int digits = 0, points = 0;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const char c = t.at(i);
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++points;
        else
            FUZZ_CHECK(i == 0 && (c == '+' || c == '-'));
    }
    FUZZ_CHECK(digits > 0 && points <= 1);
    const double ref = std::strtod(t.constData(), nullptr);   // "C" locale: never set otherwise
    FUZZ_CHECK(ref == *v);
    FUZZ_CHECK(std::signbit(ref) == std::signbit(*v));
}

void checkTexts(double n)
{
    // Factors of a low and the highest rating, and one that is not a rating at all.
    static const double volts[] = {17.094, 29.3, 1e300};
    static const double milliamps[] = {0.00209, 0.0000244, -3.5};
    for (int i = 0; i < 3; ++i) {
        const double vpc = volts[i], mpc = milliamps[i];
        const QString kv = kvMonitorText(n, vpc);
        FUZZ_CHECK(kv.endsWith(QLatin1String(" kV")));
        fuzz::checkPictureText(kv.chopped(3), n * vpc / 1000.0, QStringLiteral("#0.00"));
        const QString ma = maMonitorText(n, mpc);
        FUZZ_CHECK(ma.endsWith(QLatin1String(" mA")));
        fuzz::checkPictureText(ma.chopped(3), n * mpc, QStringLiteral("0.00"));

        for (int c = 0; c < 4; ++c) {
            const Channel ch = Channel(c);
            const ChannelInfo &info = channelInfo(ch);
            const QString t = readbackText(ch, n, vpc, mpc);
            const QLatin1String unit(info.unitText);
            FUZZ_CHECK(t.endsWith(unit));
            const double f = channelFactor(ch, vpc, mpc);
            fuzz::checkPictureText(t.chopped(unit.size()), ch == Channel::A ? n * f / 1000.0 : n * f,
                                   QLatin1String(info.readPicture));
        }
    }
    const QString fil = filamentMonitorText(n);
    FUZZ_CHECK(fil.endsWith(QLatin1String(" A")));
    fuzz::checkPictureText(fil.chopped(2), n * kFilamentAmpsPerCount, QStringLiteral("0.##0"));
    const QString sup = supplyText(n);
    FUZZ_CHECK(sup.startsWith(QLatin1Char('-')) && sup.endsWith(QLatin1String(" V")));
    fuzz::checkPictureText(sup.mid(1).chopped(2), (3972.0 - n) * 0.006224, QStringLiteral("##.#0"));
    fuzz::checkPictureText(rawChannelText(n), n, QStringLiteral("##.0"));
}

void checkFields(const QByteArray &r)
{
    // Nothing at or past the ETX is data.
    QByteArray data = r.size() > 4 ? r.mid(4) : QByteArray();
    if (const qsizetype etx = data.indexOf('\x03'); etx >= 0)
        data.truncate(etx);
    for (int maxFields : {0, 1, 3, 64}) {
        const QList<QByteArray> f = cutFields(r, maxFields);
        FUZZ_CHECK(f.size() <= maxFields);
        // The fields are exactly the comma-ended pieces from position 5, in order.
        QByteArray joined;
        for (const QByteArray &field : f) {
            FUZZ_CHECK(!field.contains(','));
            joined += field + ',';
        }
        FUZZ_CHECK(data.startsWith(joined));
        if (f.size() < maxFields)   // stopped early only for want of another comma
            FUZZ_CHECK(!data.mid(joined.size()).contains(','));
    }
    const QList<QByteArray> fields = cutFields(r, 8);
    for (const QByteArray &field : fields) {
        checkNumber(field);
        if (const auto n = parseNumber(field))
            checkTexts(*n);
    }
    checkNumber(r);
}

void checkIdentity(const QByteArray &r)
{
    for (int maxLen : {-1, 0, 3, 11, 5000}) {
        const QByteArray v = revisionValue(r, maxLen);
        // A prefix of the text from position 5, ended early only by a comma or control byte.
        const QByteArray from5 = r.size() >= 5 && maxLen > 0 ? r.mid(4, maxLen) : QByteArray();
        FUZZ_CHECK(from5.startsWith(v));
        for (char c : v)
            FUZZ_CHECK(c != ',' && static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        if (v.size() < from5.size()) {
            const auto next = static_cast<unsigned char>(from5.at(v.size()));
            FUZZ_CHECK(next == ',' || next < 0x20 || next == 0x7F);
        }
    }
    const QByteArray model = modelNumberValue(r);
    const QByteArray head = revisionValue(r, 5);
    FUZZ_CHECK(model.startsWith(head));
    FUZZ_CHECK(model == head || (charAt(r, 11) == 'X' && model.mid(head.size(), 2) == "-X"));
    FUZZ_CHECK(model.size() <= 11);

    const std::optional<QByteArray> hours = totalHoursValue(r);
    const qsizetype etx = r.indexOf('\x03', 4), comma = r.indexOf(',', 4);
    FUZZ_CHECK(hours.has_value() == (r.size() >= 5 && comma >= 0 && (etx < 0 || comma < etx)));
    if (hours) {
        FUZZ_CHECK(!hours->contains(','));
        FUZZ_CHECK(r.mid(4, hours->size() + 1) == *hours + ',');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    checkFlags(reply);
    checkFields(reply);
    checkIdentity(reply);

    // Any double at all, as a reading could become after scaling.
    if (size >= 8) {
        fuzz::Reader in(data, size);
        const double v = in.f64();
        for (const char *p : {"#0.00", "0.00", "0.##0", "##.#0", "##.0", "#0.##0"})
            fuzz::checkPictureText(formatPicture(v, QLatin1String(p)), v, QLatin1String(p));
    }
    return 0;
}
