#include "console/linkwatch.h"

#include "console/linkchoice.h"
#include "health/hvconfirm.h"
#include "health/linkhealth.h"
#include "health/ratingcheck.h"
#include "health/staleness.h"
#include "link/session.h"
#include "panels/controlspanel.h"
#include "panels/dacpanel.h"
#include "panels/healthstrip.h"
#include "panels/prompt.h"
#include "panels/infopanel.h"
#include "panels/mainpanel.h"
#include "panels/ratingmenu.h"
#include "panels/readbackspanel.h"
#include "panels/statuspanel.h"
#include "protocol/ratings.h"
#include "unit/unit.h"
#include "unit/updatecycle.h"
#include "widgets/widgets.h"

#include <QLineEdit>
#include <QTimer>

namespace plv {

LinkWatch::LinkWatch(const Sources &from)
    : QObject(&from.window), m_window(from.window), m_session(from.session), m_panel(from.panel),
      m_strip(*from.panel.strip), m_shutdown(from.shutdown), m_health(new LinkHealth(systemWallClock(), this)),
      m_stale(new Staleness(systemWallClock(), this)), m_hv(new HvConfirmation(this)), m_tick(new QTimer(&from.window))
{
    const BuildData &build = from.build;
    const BuildData &other = &build == &plvBuild() ? plrBuild() : plvBuild();
    m_rating = new RatingCheck(build.id.toUpper(), QList<int>(build.kVs.begin(), build.kVs.end()), other.id.toUpper(),
                               this);

    // What each reply fills; the cycle reads all but the three identity values.
    StatusPanel &st = *from.panel.status;
    ReadbacksPanel &rb = *from.panel.readbacks;
    InfoPanel &info = *from.panel.info;
    DacPanel &dacs = *from.panel.dacs;
    m_valuesOf = {
        {"19", {rb.txt_ADC2, rb.txt_ADC3, rb.txt_ADC13}},
        {"20", {rb.txt_ADC1, rb.txt_ADC0, rb.txt_ADC6}},
        {"14", {dacs.box(Channel::A)}},
        {"15", {dacs.box(Channel::B)}},
        {"16", {dacs.box(Channel::C)}},
        {"17", {dacs.box(Channel::D)}},
        {"22", {st.led_HVSTAT, st.led_INTRLKSTAT, st.led_FAULT}},
        {"68", {st.flagLeds, st.flagLeds + 6}},
        {"21", {info.txt_totalHours}},
        {"25", {info.txt_WEBREV}},
        {"26", {info.txt_MODNUM}},
        {"23", {info.txt_SWREV}},
        {"24", {info.txt_HWREV}},
    };
    for (auto it = m_valuesOf.cbegin(); it != m_valuesOf.cend(); ++it) {
        const bool cycle = it.key() != "26" && it.key() != "23" && it.key() != "24";
        for (QWidget *w : it.value()) {
            m_widget.insert(w->objectName(), w);
            m_stale->add(w->objectName(), cycle ? Staleness::Refresh::Cycle : Staleness::Refresh::NotCycle);
        }
    }

    // A coarse tick for the time rules, running only while a link is up.
    m_tick->setObjectName(QStringLiteral("tmr_HEALTH"));
    m_tick->setInterval(250);
    connect(m_tick, &QTimer::timeout, this, [this] {
        const qint64 now = monotonicMs();
        m_health->tick(now);
        m_stale->tick(now);
    });

    Session &s = from.session;
    connect(&from.unit, &Unit::replied, this, &LinkWatch::replied);
    connect(&from.unit, &Unit::statusReported, this, [this](const Reply &r) { m_hv->statusReply(r.status.hvOn); });
    // The links may be handed in (tests): only the real ones have a device name or an
    // address. Nothing is read from the session once it is going away.
    connect(&s, &QObject::destroyed, this, [this] { m_sessionGone = true; });
    auto *serial = qobject_cast<SerialTransport *>(&s.link(Session::LinkKind::Serial));
    connect(&s, &Session::serialReopened, this, [this, &s, serial] {
        if (!m_sessionGone && s.linkKind() == Session::LinkKind::Serial)
            linkOpened(LinkKind::Serial, serial ? serial->portName() : QString());
    });
    if (auto *tcp = qobject_cast<TcpTransport *>(&s.link(Session::LinkKind::Ethernet)))
        connect(tcp, &TcpTransport::disconnectedByPeer, this, [this, &s, tcp] {
            if (!m_sessionGone && s.isEthernet())
                linkFailed(LinkDown::ClosedByUnit, QStringLiteral("%1:%2").arg(tcp->host()).arg(tcp->remotePort()));
        });
    Transport &serialLink = s.link(Session::LinkKind::Serial);
    connect(&serialLink, &Transport::errorOccurred, this, [this, &s, &serialLink, serial] {
        if (!m_sessionGone && s.linkKind() == Session::LinkKind::Serial && m_health->isUp() && !serialLink.isOpen())
            linkFailed(LinkDown::ClosedByUnit, serial ? serial->portName() : QString());
    });
    connect(&from.cycle, &UpdateCycle::modeChanged, this, [this](bool automatic) {
        const qint64 now = monotonicMs();
        m_health->setAutomatic(automatic, now);
        m_stale->setAutomatic(automatic, now);
    });
    connect(&from.cycle, &UpdateCycle::cycleCompleted, this, [this] { m_stale->cycleCompleted(monotonicMs()); });
    connect(from.panel.controls, &ControlsPanel::hvRequested, m_hv, &HvConfirmation::requested);
    connect(&from.links, &LinkChoice::opened, this, &LinkWatch::linkOpened);
    connect(&from.links, &LinkChoice::failed, this, &LinkWatch::linkFailed);
    connect(&from.rating, &RatingMenu::ratingSelected, m_rating, &RatingCheck::select);
    if (const Rating *r = from.rating.selected())
        m_rating->select(r->kV, r->watts);

    connect(m_health, &LinkHealth::textChanged, this, &LinkWatch::showLink);
    connect(m_health, &LinkHealth::stateChanged, this,
            [this](LinkHealth::State state) { emit healthChanged(state, m_health->text()); });
    connect(m_health, &LinkHealth::modeChanged, this, [this] { m_strip.showMode(m_health->modeText()); });
    connect(m_health, &LinkHealth::lastGoodReplyTextChanged, &m_strip, &HealthStrip::showLastReply);
    connect(m_rating, &RatingCheck::ratingTextChanged, &m_strip, &HealthStrip::showRating);
    connect(m_hv, &HvConfirmation::bannerChanged, &m_strip, &HealthStrip::showHvCommand);
    connect(m_stale, &Staleness::staleChanged, this, &LinkWatch::showStale);
    connect(st.led_HVSTAT, &LampButton::valueChanged, &m_strip, &HealthStrip::showHvOn);
    m_strip.showRating(m_rating->ratingText());
    m_strip.showMode(m_health->modeText());
}

LinkWatch::~LinkWatch() = default;

void LinkWatch::linkOpened(LinkKind kind, const QString &where)
{
    m_chosen = true;
    m_health->linkUp(kind, where, monotonicMs());
    setLinkUp(true);
}

void LinkWatch::linkFailed(LinkDown reason, const QString &where)
{
    m_chosen = true;
    m_health->linkDown(reason, where, monotonicMs());
    setLinkUp(false);
}

void LinkWatch::setLinkUp(bool up)
{
    m_stale->setLinkUp(up, monotonicMs());
    if (up)
        m_tick->start();
    else
        m_tick->stop();
    // The first choice brings the marks in; before it, nothing claims to be from the unit.
    for (auto it = m_widget.cbegin(); it != m_widget.cend(); ++it)
        showStale(it.key(), m_stale->isStale(it.key()));
    showLink();
}

bool LinkWatch::mayExit()
{
    if (!hvMayBeOn())
        return true;
    const QStringList choices{tr("Switch HV off and shut down"), tr("Exit and leave HV on"), tr("Cancel")};
    const int choice = prompter().choose(&m_window, tr("High voltage is ON."), choices, 2, 2);
    if (choice == 0)   // "98,0," next, then the unit back to local and its setpoints zeroed
        m_session.operateFirst([this] {
            m_panel.controls->hvOff();
            m_shutdown();
        });
    return choice == 1;
}

bool LinkWatch::hvMayBeOn() const
{
    return m_panel.status->led_HVSTAT->value() || m_hv->bannerText().startsWith(QLatin1String("HV OFF NOT"));
}

void LinkWatch::replied(const Reply &reply)
{
    const qint64 now = monotonicMs();
    // Only a whole reply echoing its command shows the link alive: a piece is a miss.
    const bool good = reply.answered();
    if (good)
        m_health->goodReply(now);
    else
        m_health->missedReply(now);
    // A refusal carries no value: what it answered stays unconfirmed.
    for (QWidget *w : m_valuesOf.value(reply.command))
        reply.isData() ? m_stale->valueRead(w->objectName(), now) : m_stale->valueFailed(w->objectName(), now);
    if (reply.command == "98")
        m_hv->replied(good ? reply.answer : '\0');
    else if (reply.command == "22" && good)
        m_hv->statusReply(reply.status.hvOn);
    else if (reply.command == "26" && reply.isData())
        m_rating->setModelNumber(QString::fromLatin1(reply.fields.value(0)));
}

void LinkWatch::showLink()
{
    if (!m_chosen)
        return;
    const QString text = m_health->text();
    const bool alarm = m_health->state() == LinkHealth::State::NoReply
                       || m_health->state() == LinkHealth::State::NotConnected;
    m_strip.showLink(text, alarm);
}

void LinkWatch::showStale(const QString &key, bool stale)
{
    if (!m_chosen)
        return;
    if (QWidget *w = m_widget.value(key))
        setStale(w, stale, m_stale->lastReadText(key));
}

} // namespace plv
