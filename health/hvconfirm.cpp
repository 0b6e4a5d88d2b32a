#include "health/hvconfirm.h"

namespace plv {

HvConfirmation::HvConfirmation(QObject *parent) : QObject(parent)
{
}

void HvConfirmation::requested(bool on)
{
    const QString before = bannerText();
    if (on != m_on)
        m_outcome = Outcome::None;
    m_on = on;
    m_awaiting = true;
    m_resent = false;
    if (bannerText() != before)
        emit bannerChanged(bannerText());
}

void HvConfirmation::resent()
{
    m_awaiting = true;
}

void HvConfirmation::replied(char c)
{
    if (!m_awaiting)
        return;
    m_awaiting = false;
    if (c == '$')
        set(Outcome::None);
    else if (c == '1' || c == '2')
        set(Outcome::Refused);
    else
        set(Outcome::NotConfirmed);
}

void HvConfirmation::statusReply(std::optional<bool> hvOn)
{
    if (m_outcome == Outcome::Refused || (hvOn && *hvOn == m_on)) {
        m_resent = false;
        set(Outcome::None);
        return;
    }
    // Only a definite HV on after an HV OFF; a reply still awaited decides first.
    if (m_on || !hvOn || m_awaiting)
        return;
    if (m_resent) {
        set(Outcome::StillOn);
    } else if (m_outcome == Outcome::NotConfirmed) {
        m_resent = true;
        emit resendOff();
    }
}

QString HvConfirmation::bannerText() const
{
    const QString dir = m_on ? QStringLiteral("HV ON") : QStringLiteral("HV OFF");
    switch (m_outcome) {
    case Outcome::None: return {};
    case Outcome::NotConfirmed: return dir + QStringLiteral(" NOT CONFIRMED");
    case Outcome::Refused: return dir + QStringLiteral(" REFUSED");
    case Outcome::StillOn: return QStringLiteral("HV STILL ON");
    }
    return {};
}

void HvConfirmation::set(Outcome o)
{
    const QString before = bannerText();
    m_outcome = o;
    if (bannerText() != before)
        emit bannerChanged(bannerText());
}

} // namespace plv
