#include "protocol/ratings.h"

namespace plv {

double milliampsPerCount(const Rating &r)
{
    // Dividing W by kV first keeps the results identical to the unit's own tables.
    return (double(r.watts) / double(r.kV)) / 4095.0;
}

QString kvRangeText(const Rating &r) { return QStringLiteral("0 to %1 kV").arg(r.kV); }

QString ratingMenuName(const Rating &r)
{
    return QStringLiteral("Menu%1KV%2W").arg(r.kV).arg(r.watts);
}

QString ratingMenuCaption(const Rating &r) { return QStringLiteral("%1KV").arg(r.kV); }
QString powerMenuName(int watts) { return QStringLiteral("Menu%1").arg(watts); }
QString powerMenuCaption(int watts) { return QStringLiteral("%1W").arg(watts); }

const Rating *BuildData::find(int kV, int watts) const
{
    for (const Rating &r : ratings)
        if (r.kV == kV && r.watts == watts)
            return &r;
    return nullptr;
}

const Rating &BuildData::defaultRating() const
{
    // The default is one of the build's own rows, so this cannot be null.
    return *find(defaultKV, defaultWatts);
}

namespace {

struct Row {
    int kV;
    double voltsPerCount;
    const char *mA[3];  // 1200 W, 600 W, 300 W
};

// The range texts are copied verbatim: their rounding is not uniform, so they are not derived.
const Row kPlvRows[] = {
    {70, 17.094, {"0 to 17.14 mA", "0 to 8.57 mA", "0 to 4.286 mA"}},
    {60, 14.652, {"0 to 20 mA", "0 to 10 mA", "0 to 5 mA"}},
    {50, 12.21, {"0 to 24 mA", "0 to 12 mA", "0 to 6 mA"}},
    {40, 9.768, {"0 to 30 mA", "0 to 15 mA", "0 to 7.5 mA"}},
    {30, 7.326, {"0 to 40 mA", "0 to 20 mA", "0 to 10 mA"}},
    {20, 4.884, {"0 to 60 mA", "0 to 30 mA", "0 to 15 mA"}},
};

const Row kPlrRows[] = {
    {140, 34.188, {"0 to 8.57 mA", "0 to 4.28 mA", "0 to 2.14 mA"}},
    {120, 29.3, {"0 to 10.0 mA", "0 to 5.0 mA", "0 to 2.5 mA"}},
    {100, 24.42, {"0 to 12.0 mA", "0 to 6.0 mA", "0 to 3 mA"}},
    {80, 19.536, {"0 to 15.0 mA", "0 to 7.5 mA", "0 to 3.75 mA"}},
    {60, 14.652, {"0 to 20.0 mA", "0 to 10 mA", "0 to 5 mA"}},
    {40, 9.768, {"0 to 30.0 mA", "0 to 15 mA", "0 to 7.5 mA"}},
};

template <size_t N>
BuildData makeBuild(const QString &id, const QString &name, const QString &version,
                    const Row (&rows)[N], int defaultKV)
{
    BuildData b;
    b.id = id;
    b.windowCaption = name + QStringLiteral(" Interface");
    b.aboutCaption = QStringLiteral("About the ") + b.windowCaption;
    b.aboutTitle = QStringLiteral(" GUI for Standard ") + name;
    b.aboutVersion = version;
    b.powers = {1200, 600, 300};
    for (const Row &row : rows)
        b.kVs.push_back(row.kV);
    // Menu order: power submenus outermost, kV items inside.
    for (size_t p = 0; p < b.powers.size(); ++p)
        for (const Row &row : rows)
            b.ratings.push_back({row.kV, b.powers[p], row.voltsPerCount, row.mA[p]});
    b.defaultKV = defaultKV;
    b.defaultWatts = 600;
    return b;
}

} // namespace

const BuildData &plvBuild()
{
    static const BuildData b = makeBuild(QStringLiteral("plv"), QStringLiteral("PLV"),
                                         QStringLiteral("Version 8.0"), kPlvRows, 70);
    return b;
}

const BuildData &plrBuild()
{
    static const BuildData b = makeBuild(QStringLiteral("plr"), QStringLiteral("PLR"),
                                         QStringLiteral("Version 1.0"), kPlrRows, 140);
    return b;
}

} // namespace plv
