#include "console/logbookevents.h"

#include "link/session.h"
#include "logs/formatting.h"
#include "unit/unit.h"

namespace plv {

using logs::EventCategory;

EventFeed::EventFeed(Session &session, Unit &unit, std::function<QString()> rating, std::function<Factors()> factors,
                     const QString &eventFolder, QObject *parent)
    : QObject(parent), m_rating(std::move(rating)), m_factors(std::move(factors)),
      m_events(new logs::EventLog(eventFolder.isEmpty() ? logs::EventLog::defaultFolder() : eventFolder, this))
{
    connect(&session, &Session::txFrame, this, [this](const QByteArray &frame) {
        m_lastSent = framePayload(frame);
        operatorSent(m_lastSent);
    });
    connect(&unit, &Unit::replied, this, [this](const Reply &r) {
        operatorAnswered(r);
        if (r.answered() && r.command == "22")
            statusSeen(r.status);
        else if (r.answered() && r.command == "68")
            flagsSeen(r.flags);
    });
    connect(&unit, &Unit::statusReported, this, [this](const Reply &r) { statusSeen(r.status); });
}

void EventFeed::linkOpened(LinkKind kind, const QString &where)
{
    m_status = {};
    m_flags = {};
    log(EventCategory::Operator, tr("link chosen: %1 %2, opened").arg(linkKindText(kind), where));
}

void EventFeed::linkFailed(LinkDown reason, const QString &where)
{
    log(EventCategory::Operator, reason == LinkDown::Disconnected
                                     ? tr("Disconnect: %1").arg(where)
                                     : tr("link chosen: %1, %2").arg(where, linkDownText(reason)));
}

void EventFeed::modeChanged(bool automatic)
{
    if (m_automatic != automatic)
        log(EventCategory::Operator, automatic ? tr("automatic update mode") : tr("manual update mode"));
    m_automatic = automatic;
}

void EventFeed::ratingSelected() { log(EventCategory::Operator, tr("rating selected: %1").arg(m_rating())); }

void EventFeed::setpointSending(Channel c, int count, SetpointEditor::Action action) { m_setpoint = {c, count, action}; }

void EventFeed::operatorSent(const QByteArray &payload)
{
    const int cmd = commandNumber(payload);
    const Factors f = m_factors();
    switch (cmd) {
    case 98:
    case 99:
    case 30:
    case 31:
    case 96:
        log(EventCategory::Operator, tr("%1 requested").arg(commandMeaning(payload, f)));
        return;
    case 7:
    case 93:
    case 94:
    case 95:
        log(EventCategory::Operator, tr("configuration write: %1").arg(commandMeaning(payload, f)));
        return;
    case 10: case 11: case 12: case 13: break;
    default: return;
    }
    const Channel c = Channel(cmd - 10);
    const auto count = parseNumber(payload.mid(3).split(',').value(0));
    const QString value = count ? confirmationText(c, int(*count), f.voltsPerCount, f.milliampsPerCount)
                                : QString::fromLatin1(payload.mid(3));
    const QString what = channelName(c);
    m_setpointText = tr("%1 %2").arg(what, value);
    const QString detail = tr("%1 %2 (count %3) at rating %4")
                               .arg(what, value, count ? QString::number(int(*count)) : QStringLiteral("?"), m_rating());
    // The editor said what it is doing; any other source (the shutdown's zeroing) is named as a send.
    const bool fromEditor = m_setpoint && m_setpoint->channel == c && count && m_setpoint->count == int(*count);
    const SetpointEditor::Action action = fromEditor ? m_setpoint->action : SetpointEditor::Action::Cancel;
    if (!fromEditor)
        log(EventCategory::Operator, tr("setpoint sent: %1").arg(detail));
    else if (action == SetpointEditor::Action::TryOut)
        log(EventCategory::Operator, tr("setpoint tried: %1").arg(detail));
    else if (action == SetpointEditor::Action::Program)
        log(EventCategory::Operator, tr("setpoint programmed: %1").arg(detail));
    else
        log(EventCategory::Operator, tr("setpoint restored by CANCEL: %1").arg(detail));
    m_setpoint.reset();
}

void EventFeed::operatorAnswered(const Reply &reply)
{
    const int cmd = reply.command.toInt();
    const bool setpoint = cmd >= 10 && cmd <= 13;
    if (!setpoint && cmd != 98 && cmd != 99 && cmd != 30 && cmd != 31 && cmd != 96)
        return;
    const QString what = setpoint ? m_setpointText
                                  : (commandNumber(m_lastSent) == cmd ? commandMeaning(m_lastSent, m_factors())
                                                                      : QString::fromLatin1(reply.command));
    if (!reply.answered())
        log(EventCategory::Operator, tr("%1: no reply, not confirmed").arg(what));
    else if (reply.answer == '$' || reply.answer == '1' || reply.answer == '2')
        log(EventCategory::Operator, tr("%1: %2").arg(what, answerText(reply)));
    else
        log(EventCategory::Operator, tr("%1: answered %2").arg(what, logs::renderFrame(reply.frame)));
}

void EventFeed::statusSeen(const MainStatus &st)
{
    const MainStatus was = m_status;
    const bool first = !was.hvOn && !was.interlockOpen && !was.fault && !was.remote;
    if (first && (st.hvOn || st.interlockOpen || st.fault || st.remote)) {
        log(EventCategory::Unit, tr("status: %1").arg(mainStatusText(st)));
    } else {
        // Status frames can come hundreds a second: the texts are made only for a change.
        auto change = [&](const std::optional<bool> &before, const std::optional<bool> &now, const char *yes,
                          const char *no) {
            if (before && now && *before != *now)
                log(EventCategory::Unit, tr(*now ? yes : no));
        };
        change(was.hvOn, st.hvOn, QT_TR_NOOP("HV on"), QT_TR_NOOP("HV off"));
        change(was.interlockOpen, st.interlockOpen, QT_TR_NOOP("interlock open"), QT_TR_NOOP("interlock closed"));
        change(was.fault, st.fault, QT_TR_NOOP("supply fault"), QT_TR_NOOP("supply fault cleared"));
        change(was.remote, st.remote, QT_TR_NOOP("remote control"), QT_TR_NOOP("local control"));
    }
    // A field that could not be read keeps its last known value.
    for (auto [into, from] : {std::pair{&m_status.hvOn, &st.hvOn}, std::pair{&m_status.interlockOpen, &st.interlockOpen},
                              std::pair{&m_status.fault, &st.fault}, std::pair{&m_status.remote, &st.remote}})
        if (*from)
            *into = *from;
}

void EventFeed::flagsSeen(const FaultFlags &flags)
{
    bool first = true;
    for (const auto &f : m_flags)
        first = first && !f;
    if (first) {
        log(EventCategory::Unit, tr("fault flags: %1").arg(faultFlagsText(flags)));
    } else {
        for (int i = 0; i < 6; ++i) {
            const auto &before = m_flags[size_t(i)], &now = flags[size_t(i)];
            if (before && now && *before != *now)
                log(EventCategory::Unit,
                    (*now ? tr("%1 fault flag set") : tr("%1 fault flag cleared")).arg(faultFlagName(i)));
        }
    }
    for (int i = 0; i < 6; ++i)
        if (flags[size_t(i)])
            m_flags[size_t(i)] = flags[size_t(i)];
}

void EventFeed::healthChanged(LinkHealth::State state, const QString &text)
{
    const LinkHealth::State was = std::exchange(m_health, state);
    switch (state) {
    case LinkHealth::State::Connected:
        log(EventCategory::Link, was == LinkHealth::State::NoReply ? tr("link restored: %1").arg(text)
                                                                   : tr("link up: %1").arg(text));
        break;
    case LinkHealth::State::NoReply: log(EventCategory::Link, tr("link lost: %1").arg(text)); break;
    case LinkHealth::State::NotConnected:
        log(EventCategory::Link, (was == LinkHealth::State::Connected || was == LinkHealth::State::NoReply
                                      ? tr("link lost: %1")
                                      : tr("link down: %1"))
                                     .arg(text));
        break;
    case LinkHealth::State::NotChosen: break;
    }
}

} // namespace plv
