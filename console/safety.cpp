#include "console/safety.h"

#include "console/linkwatch.h"
#include "console/logbook.h"
#include "console/mainwindow.h"
#include "health/hvconfirm.h"
#include "health/ratingcheck.h"
#include "link/session.h"
#include "panels/alarmswindow.h"
#include "panels/controlspanel.h"
#include "panels/healthstrip.h"
#include "panels/prompt.h"
#include "panels/ratingmenu.h"
#include "panels/statuspanel.h"
#include "unit/updatecycle.h"
#include "widgets/widgets.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

namespace plv {

using logs::EventCategory;

EmergencyKey::EmergencyKey(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("sc_EMERGENCYOFF"));
    qApp->installEventFilter(this);
}

EmergencyKey::~EmergencyKey()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool EmergencyKey::eventFilter(QObject *, QEvent *e)
{
    const QEvent::Type t = e->type();
    if (t != QEvent::KeyPress && t != QEvent::ShortcutOverride && t != QEvent::KeyRelease)
        return false;
    auto *key = static_cast<QKeyEvent *>(e);
    if (key->key() != Qt::Key_F12)
        return false;
    // Taken here, before a shortcut, a menu or the focus widget sees it.
    e->accept();
    if (t == QEvent::KeyPress && !key->isAutoRepeat())
        emit activated();
    return true;
}

// ---------------------------------------------------------------------------

Safety::Safety(MainWindow &window) : QObject(&window), m_window(window), m_alarms(new AlarmList(this)), m_age(new QTimer(&window))
{
    setObjectName(QStringLiteral("safety"));
    HealthStrip &strip = window.healthStrip();
    LinkWatch &watch = window.linkWatch();
    ControlsPanel &controls = window.controls();
    StatusPanel &status = window.status();
    HvConfirmation &hv = watch.hvConfirmation();
    RatingCheck &rating = watch.ratingCheck();

    // The emergency stop: the key, and the last item of the Controls menu.
    auto *key = new EmergencyKey(&window);
    connect(key, &EmergencyKey::activated, this, [this] { emergencyOff(tr("key (F12)")); });
    if (auto *menu = window.findChild<QMenu *>(QStringLiteral("ControlMenu"))) {
        // The key shown beside the item, not bound to it: the filter alone takes F12.
        QAction *item = menu->addAction(tr("Emergency HV Off") + QStringLiteral("\tF12"));
        item->setObjectName(QStringLiteral("mnu_EMERGENCYOFF"));
        connect(item, &QAction::triggered, this, [this] { emergencyOff(tr("menu")); });
    }

    // The alarms: the window, its menu item after the View menu's own, the header count.
    if (auto *view = window.findChild<QMenu *>(QStringLiteral("mnu_VIEW"))) {
        QAction *item = view->addAction(tr("&Alarms"));
        item->setObjectName(QStringLiteral("mnu_ALARMS"));
        connect(item, &QAction::triggered, this, [this] {
            alarmsWindow().show();
            alarmsWindow().raise();
        });
    }
    connect(m_alarms, &AlarmList::changed, this,
            [this, &strip] { strip.showAlarms(m_alarms->headerText(), m_alarms->unacknowledged() > 0); });
    connect(m_alarms, &AlarmList::transition, this, [this](const QString &t) { log(int(EventCategory::Unit), t); });

    // What raises them.
    connect(&status, &StatusPanel::mainStatusRead, this, &Safety::statusRead);
    connect(&status, &StatusPanel::faultFlagsRead, this, [this](const std::array<std::optional<bool>, 6> &faults) {
        QList<std::pair<AlarmCondition, bool>> seen;
        for (int i = 0; i < 6; ++i)
            if (faults[i])
                seen.append({AlarmCondition(i), *faults[i]});
        m_alarms->observe(seen, QDateTime::currentDateTime());
    });
    connect(&watch, &LinkWatch::healthChanged, this, [this, &watch](LinkHealth::State s) {
        const bool lost = s == LinkHealth::State::NoReply
                          || (s == LinkHealth::State::NotConnected && watch.health().downReason() != LinkDown::Disconnected);
        if (s != LinkHealth::State::NotChosen)
            m_alarms->observe(AlarmCondition::LinkLost, lost, QDateTime::currentDateTime());
    });
    auto ratingSeen = [this, &strip, &rating] {
        strip.showRatingMismatch(rating.warningText());
        m_alarms->observe(AlarmCondition::RatingMismatch, !rating.warningText().isEmpty(), QDateTime::currentDateTime());
    };
    connect(&rating, &RatingCheck::warningChanged, this, ratingSeen);
    ratingSeen();
    // Other counts under high voltage: only on a second thought.
    window.rating().setChoiceGuard([this, &status](const Rating &r) {
        if (!status.led_HVSTAT->value())
            return true;
        const QString q = tr("High voltage is ON. Change the rating to %1 kV / %2 W?").arg(r.kV).arg(r.watts);
        return prompter().choose(&m_window, q, {tr("Change"), tr("Keep")}, 1, 1) == 0;
    });

    // An HV OFF seen through: once more when the next status still shows HV on.
    connect(&hv, &HvConfirmation::bannerChanged, this, [this](const QString &text) {
        const bool unconfirmed = text == QLatin1String("HV OFF NOT CONFIRMED") || text == QLatin1String("HV STILL ON");
        m_alarms->observe(AlarmCondition::HvOffNotConfirmed, unconfirmed, QDateTime::currentDateTime());
        if (text == QLatin1String("HV STILL ON"))
            log(int(EventCategory::Unit), tr("HV STILL ON after a second HV OFF"));
    });
    connect(&controls, &ControlsPanel::hvResent, &hv, &HvConfirmation::resent);
    // Queued: the status reply that asked for it is still being handled.
    connect(&hv, &HvConfirmation::resendOff, this, [this, &controls] {
        log(int(EventCategory::Console), tr("HV OFF sent again: the status still shows HV ON"));
        m_window.session().operateFirst([&controls] { controls.resendHvOff(); });
    }, Qt::QueuedConnection);
    connect(&controls, &ControlsPanel::hvRequested, this, [this](bool on) { m_offAsked = !on; });

    // The age of the values, and HV ON in every title.
    m_age->setObjectName(QStringLiteral("tmr_VALUEAGE"));
    m_age->setInterval(1000);
    connect(m_age, &QTimer::timeout, this, &Safety::showAge);
    connect(&window.cycle(), &UpdateCycle::modeChanged, this, [this](bool automatic) {
        m_automatic = automatic;
        showAge();
    });
    connect(status.led_HVSTAT, &LampButton::valueChanged, this, &Safety::hvShown);
    connect(&window.logbook(), &Logbook::viewMade, this, [this](Logbook::View, QWidget *w) {
        title(w);
        keepOffHeader(w);
    });
    hvShown(status.led_HVSTAT->value());
}

AlarmsWindow &Safety::alarmsWindow()
{
    if (!m_alarmsWindow) {
        m_alarmsWindow = new AlarmsWindow(*m_alarms, &m_window);
        title(m_alarmsWindow);
        keepOffHeader(m_alarmsWindow);
    }
    return *m_alarmsWindow;
}

void Safety::emergencyOff(const QString &how)
{
    log(int(EventCategory::Operator), tr("emergency HV OFF %1").arg(how));
    m_window.session().operateFirst([this] { m_window.controls().hvOff(); });
}

void Safety::log(int category, const QString &text)
{
    m_window.logbook().events().log(EventCategory(category), text);
}

void Safety::statusRead(const MainStatus &st)
{
    const QDateTime now = QDateTime::currentDateTime();
    m_readAt = now;
    m_sinceRead.start();
    if (!m_age->isActive())
        m_age->start();
    QList<std::pair<AlarmCondition, bool>> seen;
    if (st.fault)
        seen.append({AlarmCondition::SupplyFault, *st.fault});
    if (st.interlockOpen)
        seen.append({AlarmCondition::InterlockOpen, *st.interlockOpen});
    m_alarms->observe(seen, now);
    if (st.hvOn) {
        if (*st.hvOn && !m_hvOn.value_or(false))
            m_offAsked = false;
        else if (!*st.hvOn && m_hvOn.value_or(false) && !m_offAsked)
            m_alarms->pulse(AlarmCondition::HvDropped, now);
        m_hvOn = st.hvOn;
    }
    showAge();
}

void Safety::showAge()
{
    HealthStrip &strip = m_window.healthStrip();
    if (!m_sinceRead.isValid()) {
        strip.showAge({});
        return;
    }
    const qint64 s = m_sinceRead.elapsed() / 1000;
    strip.showAge(s < 120 ? tr("read %1 s ago").arg(s) : tr("read %1 min ago").arg(s / 60));
    // Automatic mode reads the HV state every cycle; in manual mode it is as old as the read.
    strip.showHvAsRead(m_automatic ? QString() : tr("as read %1").arg(m_readAt.toString(QStringLiteral("hh:mm:ss"))));
}

void Safety::hvShown(bool)
{
    title(&m_window);
    for (int v = 0; v < Logbook::ViewCount; ++v)
        if (QWidget *w = m_window.logbook().windowIfMade(Logbook::View(v)))
            title(w);
    if (m_alarmsWindow)
        title(m_alarmsWindow);
}

void Safety::title(QWidget *w)
{
    // The window's own caption, kept the first time: the window system shows exactly it,
    // or it and " — HV ON".
    QVariant caption = w->property("plvCaption");
    if (!caption.isValid()) {
        caption = w->windowTitle();
        w->setProperty("plvCaption", caption);
    }
    const bool on = m_window.status().led_HVSTAT->value();
    w->setWindowTitle(caption.toString() + (on ? QStringLiteral(" \u2014 HV ON") : QString()));
}

void Safety::keepOffHeader(QWidget *w)
{
    // A window nobody placed, or one placed over the header, opens below it.
    const QWidget &header = m_window.healthStrip();
    const QRect onScreen(header.mapToGlobal(QPoint(0, 0)), header.size());
    if (w->testAttribute(Qt::WA_Moved) && !w->frameGeometry().intersects(onScreen))
        return;
    w->move(w->testAttribute(Qt::WA_Moved) ? w->x() : m_window.frameGeometry().left() + 40, onScreen.bottom() + 8);
}

} // namespace plv
