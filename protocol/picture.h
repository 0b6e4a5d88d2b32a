#pragma once
// Display pictures: "0" a digit always printed, "#" a digit printed only when
// significant, "." the decimal point. Used by every panel that shows a number.
#include <QString>

namespace plv {

// Supported pictures: "#0.00", "0.00", "0.##0", "##.#0", "##.0", "#0.##0".
// The number of decimals is the count of placeholders after the point; a required
// digit after optional ones makes them all print ("0.##0" always shows three).
// Integer digits: at least as many as there are "0"s before the point (so "##.0"
// shows 0.5 as ".5"). Halves round away from zero, decided on the value's shortest
// decimal form (so 1.005 rounds to 1.01). A value that rounds to zero has no minus sign.
QString formatPicture(double value, const QString &picture);

// What a picture asks for: the least integer digits, the decimals, and how many of
// those always print.
struct PictureShape {
    qsizetype minInt = 0, decimals = 0, required = 0;
};
PictureShape pictureShape(const QString &picture);

} // namespace plv
