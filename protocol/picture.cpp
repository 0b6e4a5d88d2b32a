#include "protocol/picture.h"

#include <charconv>
#include <cmath>
#include <string>

namespace plv {

PictureShape pictureShape(const QString &picture)
{
    PictureShape shape;
    const qsizetype point = picture.indexOf(QLatin1Char('.'));
    const QString intPic = point < 0 ? picture : picture.left(point);
    const QString fracPic = point < 0 ? QString() : picture.mid(point + 1);
    shape.minInt = intPic.count(QLatin1Char('0'));
    for (QChar c : fracPic) {
        if (c == QLatin1Char('#') || c == QLatin1Char('0'))
            ++shape.decimals;
        if (c == QLatin1Char('0'))
            shape.required = shape.decimals;   // every placeholder before a '0' prints too
    }
    return shape;
}

QString formatPicture(double value, const QString &picture)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-Inf") : QStringLiteral("Inf");

    const PictureShape shape = pictureShape(picture);
    const qsizetype minInt = shape.minInt, decimals = shape.decimals, required = shape.required;

    // The shortest round-trip form is what the operator thinks the value is, so halves
    // are judged on it: 1.005 is a half even though the double lies just below it.
    char buf[512];   // the longest fixed form of a double is about 330 characters
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::fixed);
    if (res.ec != std::errc())
        return QStringLiteral("NaN");   // cannot happen for a finite double; never crash
    const std::string text(buf, res.ptr);
    const size_t dot = text.find('.');
    std::string intDigits = text.substr(0, dot);
    std::string fracDigits = dot == std::string::npos ? std::string() : text.substr(dot + 1);

    const bool roundUp = fracDigits.size() > size_t(decimals) && fracDigits[size_t(decimals)] >= '5';
    fracDigits.resize(size_t(decimals), '0');
    std::string digits = intDigits + fracDigits;
    if (roundUp) {
        int i = int(digits.size()) - 1;
        for (; i >= 0 && digits[size_t(i)] == '9'; --i)
            digits[size_t(i)] = '0';
        if (i < 0)
            digits.insert(digits.begin(), '1');
        else
            ++digits[size_t(i)];
    }
    const bool negative = value < 0 && digits.find_first_not_of('0') != std::string::npos;

    intDigits = digits.substr(0, digits.size() - size_t(decimals));
    fracDigits = digits.substr(digits.size() - size_t(decimals));
    while (intDigits.size() > size_t(minInt) && intDigits.front() == '0')
        intDigits.erase(0, 1);
    while (fracDigits.size() > size_t(required) && fracDigits.back() == '0')
        fracDigits.pop_back();

    if (intDigits.empty() && fracDigits.empty())
        return QStringLiteral("0");   // only an all-optional picture gets here; "" would read as missing
    QString out = QString::fromStdString(intDigits);
    if (!fracDigits.empty())
        out += QLatin1Char('.') + QString::fromStdString(fracDigits);
    return negative ? QLatin1Char('-') + out : out;
}

} // namespace plv
