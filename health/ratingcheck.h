#pragma once
// The selected rating against the rating the unit's model number gives.
//
// The unit's kV is known only when the model number's first field (the text up to
// the first "-", or all of it without one) is exactly the build's letters followed
// by a kV of the build's table in plain decimal (no sign, blank or leading zero):
// "PLV70" in "PLV70-X0600". Anything else, the "Unknown" of a failed query
// included, leaves it unknown, and an unknown kV never warns. A model number that
// starts with the other product line's letters warns whatever the rating: the other
// build's counts mean other volts. Nothing here changes the selected rating.
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

namespace plv {

class RatingCheck : public QObject {
    Q_OBJECT
public:
    // letters: "PLV" or "PLR"; kVs: the build's full-scale ratings; otherLetters: the
    // other product line's.
    RatingCheck(const QString &letters, const QList<int> &kVs, const QString &otherLetters,
                QObject *parent = nullptr);

    static std::optional<int> unitKvFromModel(const QString &model, const QString &letters,
                                              const QList<int> &kVs);

    void select(int kV, int watts);
    // The model number as shown; pass "" when it is no longer known (new link).
    void setModelNumber(const QString &model);

    std::optional<int> unitKv() const { return m_unitKv; }
    QString ratingText() const;    // "Rating 70 kV / 600 W"; "" before a selection
    QString unitText() const;      // "Unit 70 kV" or "Unit rating not known"
    // "Selected rating 20 kV does not match the unit (70 kV)",
    // "PLV unit on the PLR console (PLV70-X0600)" or "".
    QString warningText() const;

signals:
    void ratingTextChanged(const QString &text);
    void unitTextChanged(const QString &text);
    void warningChanged(const QString &text);

private:
    template <typename F> void changing(F &&change);

    QString m_letters;
    QList<int> m_kVs;
    QString m_otherLetters;
    QString m_otherLineModel;   // the model number when it is the other line's
    int m_kV = 0;   // 0: nothing selected yet
    int m_watts = 0;
    std::optional<int> m_unitKv;
};

} // namespace plv
