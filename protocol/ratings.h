#pragma once
// The unit does not report its rating: the operator picks one, and it fixes the
// count-to-unit factors of channels A (kV) and B (mA).
#include <QString>
#include <vector>

namespace plv {

struct Rating {
    int kV;                 // full-scale output voltage
    int watts;              // 300, 600 or 1200
    double voltsPerCount;   // stored constant (kV x 0.2442 to three decimals; 120 kV is 29.3)
    const char *mARange;    // tooltip text of channel B, exactly as the unit's documentation words it
};

double milliampsPerCount(const Rating &r);   // (W / kV) / 4095, in that order
QString kvRangeText(const Rating &r);        // "0 to 70 kV"
QString ratingMenuName(const Rating &r);     // "Menu70KV600W"
QString ratingMenuCaption(const Rating &r);  // "70KV"
QString powerMenuName(int watts);            // "Menu1200", "Menu600", "Menu300"
QString powerMenuCaption(int watts);         // "1200W", ...

// Everything in which the two builds differ.
struct BuildData {
    QString id;               // "plv" or "plr"
    QString windowCaption;    // "PLV Interface"
    QString aboutCaption;     // "About the PLV Interface"
    QString aboutTitle;       // " GUI for Standard PLV"
    QString aboutVersion;     // "Version 8.0"
    std::vector<int> powers;  // submenu order: 1200, 600, 300
    std::vector<int> kVs;     // item order inside each submenu, highest first
    std::vector<Rating> ratings;  // all 18 rows
    int defaultKV;
    int defaultWatts;

    const Rating *find(int kV, int watts) const;  // nullptr when the build has no such row
    const Rating &defaultRating() const;
};

const BuildData &plvBuild();
const BuildData &plrBuild();

} // namespace plv
