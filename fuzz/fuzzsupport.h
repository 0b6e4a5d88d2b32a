#pragma once
// Shared by the fuzz targets: a property check that stops the run, a reader that turns
// the fuzzer's bytes into typed choices, and the check of a number shown by a picture.
#include "protocol/picture.h"

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// abort() rather than assert(): the check must also hold in release replay builds.
#define FUZZ_CHECK(cond)                                                                       \
    do {                                                                                       \
        if (!(cond)) {                                                                         \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

namespace fuzz {

// Takes typed values from the front of the input; an exhausted input yields zeros so
// every input, however short, is a complete test case.
class Reader {
public:
    Reader(const std::uint8_t *data, std::size_t size) : d_(data), n_(size) {}
    bool empty() const { return p_ >= n_; }
    std::size_t left() const { return n_ - p_; }
    std::uint8_t u8() { return p_ < n_ ? d_[p_++] : 0; }
    std::uint16_t u16() { return std::uint16_t(u8() | (u8() << 8)); }
    std::uint32_t u32() { return std::uint32_t(u16()) | (std::uint32_t(u16()) << 16); }
    double f64()
    {
        std::uint64_t bits = std::uint64_t(u32()) | (std::uint64_t(u32()) << 32);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // Up to max bytes, the length taken from the input.
    std::string bytes(std::size_t max)
    {
        const std::size_t want = max ? u8() % (max + 1) : 0;
        const std::size_t take = want < left() ? want : left();
        std::string s(reinterpret_cast<const char *>(d_ + p_), take);
        p_ += take;
        return s;
    }
    std::string rest()
    {
        std::string s(reinterpret_cast<const char *>(d_ + p_), left());
        p_ = n_;
        return s;
    }

private:
    const std::uint8_t *d_;
    std::size_t n_;
    std::size_t p_ = 0;
};

// Checks what formatPicture made of value under picture: the layout the picture asks
// for, no minus on a zero, and a number within half a last place of the value.
inline void checkPictureText(const QString &text, double value, const QString &picture)
{
    if (std::isnan(value)) {
        FUZZ_CHECK(text == QLatin1String("NaN"));
        return;
    }
    if (std::isinf(value)) {
        FUZZ_CHECK(text == QLatin1String(value < 0 ? "-Inf" : "Inf"));
        return;
    }
    const plv::PictureShape shape = plv::pictureShape(picture);
    const qsizetype minInt = shape.minInt, decimals = shape.decimals, required = shape.required;

    const std::string s = text.toStdString();
    FUZZ_CHECK(!s.empty());
    if (s == "0") {   // the stand-in for an empty all-optional result
        FUZZ_CHECK(minInt == 0 && required == 0);
        FUZZ_CHECK(std::fabs(value) < 1.0);
        return;
    }
    const bool minus = s[0] == '-';
    const std::string body = minus ? s.substr(1) : s;
    const std::size_t dot = body.find('.');
    const std::string intPart = body.substr(0, dot);
    const std::string fracPart = dot == std::string::npos ? std::string() : body.substr(dot + 1);
    for (char c : intPart)
        FUZZ_CHECK(c >= '0' && c <= '9');
    for (char c : fracPart)
        FUZZ_CHECK(c >= '0' && c <= '9');
    FUZZ_CHECK(dot == std::string::npos || !fracPart.empty());
    FUZZ_CHECK(qsizetype(intPart.size()) >= minInt);
    FUZZ_CHECK(qsizetype(intPart.size()) == minInt || intPart[0] != '0');
    FUZZ_CHECK(qsizetype(fracPart.size()) >= required && qsizetype(fracPart.size()) <= decimals);
    FUZZ_CHECK(qsizetype(fracPart.size()) == required || fracPart.back() != '0');
    FUZZ_CHECK(!intPart.empty() || !fracPart.empty());

    const bool nonZero = (intPart + fracPart).find_first_not_of('0') != std::string::npos;
    if (minus)
        FUZZ_CHECK(nonZero && value < 0);
    else if (nonZero)
        FUZZ_CHECK(value >= 0);

    // Half a unit of the last decimal, plus the few ulps lost between the value's shortest
    // form, the rounded text and its reading back.
    const double shown = std::strtod(body.c_str(), nullptr);
    const double a = std::fabs(value);
    const double slack = 0.5 * std::pow(10.0, -double(decimals)) * (1 + 1e-9) + 4e-16 * (a > shown ? a : shown);
    FUZZ_CHECK(std::fabs(shown - a) <= slack);
}

} // namespace fuzz
