#include "console/logbook.h"

#include "console/linkchoice.h"
#include "console/linkwatch.h"
#include "console/mainwindow.h"
#include "panels/eventwindow.h"
#include "panels/healthstrip.h"
#include "panels/infopanel.h"
#include "panels/prompt.h"
#include "panels/ratingmenu.h"
#include "panels/savefile.h"
#include "panels/trafficwindow.h"
#include "panels/trendswindow.h"
#include "protocol/framing.h"
#include "unit/updatecycle.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>

namespace plv {

using logs::Direction;
using logs::EventCategory;

namespace {

const char *const kChannelNames[4] = {"kV setpoint", "mA setpoint", "filament limit", "filament preheat"};

// Junk rows keep this much of what was thrown away; the count says how much there was.
constexpr int kJunkHeadBytes = 64;

bool complete(const QByteArray &reply) { return reply.startsWith(STX) && reply.contains(ETX); }

} // namespace

QString Logbook::viewKey(View v)
{
    switch (v) {
    case View::Traffic: return QStringLiteral("traffic");
    case View::Events: return QStringLiteral("events");
    case View::Trends: return QStringLiteral("trends");
    }
    return {};
}

Logbook::Logbook(MainWindow &window, QMenu *viewMenu, const QString &eventFolder)
    : QObject(&window), m_window(window), m_session(window.session()), m_traffic(new logs::TrafficLog(
                                                                              logs::TrafficLog::DefaultCapacity, this)),
      m_events(new logs::EventLog(eventFolder.isEmpty() ? logs::EventLog::defaultFolder() : eventFolder, this)),
      m_recorder(new logs::SampleRecorder(this)), m_junkFlush(new QTimer(this))
{
    setObjectName(QStringLiteral("logbook"));

    // The View menu.
    auto item = [&](const char *name, const QString &caption, auto handler) {
        QAction *a = viewMenu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    item("mnu_TRAFFIC", tr("&Traffic Log"), [this] { showView(View::Traffic); });
    item("mnu_EVENTS", tr("&Event Log"), [this] { showView(View::Events); });
    m_recordAction = item("mnu_RECORD", tr("&Record Readbacks…"), [this] { mnu_RECORD_Click(); });
    m_recordAction->setCheckable(true);
    item("mnu_TRENDS", tr("Tre&nds"), [this] { showView(View::Trends); });
    connect(m_recorder, &logs::SampleRecorder::recordingChanged, m_recordAction, &QAction::setChecked);
    connect(m_recorder, &logs::SampleRecorder::recordingChanged, this, [this](bool on) {
        m_window.healthStrip().showRecording(on ? QDir::toNativeSeparators(m_recorder->path()) : QString());
    });
    connect(m_recorder, &logs::SampleRecorder::writeFailed, this, [this](const QString &reason) {
        m_recordAction->setToolTip(tr("Rows cannot be written: %1").arg(reason));
        log(EventCategory::Console, tr("recording to %1 failing: %2").arg(m_recorder->path(), reason));
    });
    connect(m_recorder, &logs::SampleRecorder::writeRecovered, this, [this] {
        m_recordAction->setToolTip(QString());
        log(EventCategory::Console, tr("recording to %1 written again").arg(m_recorder->path()));
    });

    // Traffic, from the link layer's signals.
    Session &s = m_session;
    connect(&s, &Session::txFrame, this, &Logbook::sent);
    connect(&s, &Session::exchanged, this, &Logbook::exchanged);
    connect(&s, &Session::rxText, this, [this](const QByteArray &text, bool awaited) {
        if (!awaited)
            unsolicited(text);
    });
    connect(&s, &Session::inputDiscarded, this, &Logbook::discarded);
    connect(&s, &Session::sendFailed, this, [this](const QByteArray &frame) {
        addRow(Direction::Error, m_session.linkKind(), frame, tr("not sent: the link would not take it"));
    });
    connect(&s.link(Session::LinkKind::Ethernet), &Transport::errorOccurred, this, [this](const QString &what) {
        addRowOn(Direction::Error, linkName(Session::LinkKind::Ethernet), false, {}, what);
    });
    connect(&s.link(Session::LinkKind::Serial), &Transport::errorOccurred, this, [this](const QString &what) {
        addRowOn(Direction::Error, linkName(Session::LinkKind::Serial), false, {}, what);
    });
    connect(&s, &Session::unsolicitedStatus, this,
            [this](const QByteArray &frame) { statusSeen(decodeMainStatus(frame)); });
    m_junkFlush->setObjectName(QStringLiteral("tmr_JUNKROWS"));
    m_junkFlush->setSingleShot(true);
    m_junkFlush->setInterval(500);
    connect(m_junkFlush, &QTimer::timeout, this, &Logbook::flushDiscarded);

    // Events.
    LinkChoice &links = window.links();
    connect(&links, &LinkChoice::opened, this, [this](LinkKind kind, const QString &where) {
        m_status = {};
        m_flags = {};
        log(EventCategory::Operator, tr("link chosen: %1 %2, opened").arg(linkKindText(kind), where));
    });
    connect(&links, &LinkChoice::failed, this, [this](LinkDown reason, const QString &where) {
        log(EventCategory::Operator, reason == LinkDown::Disconnected
                                         ? tr("Disconnect: %1").arg(where)
                                         : tr("link chosen: %1, %2").arg(where, linkDownText(reason)));
    });
    connect(&links, &LinkChoice::retryFailed, this, [this](LinkDown reason, const QString &where) {
        log(EventCategory::Link, tr("reconnecting to %1: %2").arg(where, linkDownText(reason)));
    });
    connect(&window.linkWatch(), &LinkWatch::healthChanged, this, &Logbook::healthChanged);
    connect(&window.cycle(), &UpdateCycle::modeChanged, this, [this](bool automatic) {
        if (m_automatic != automatic)
            log(EventCategory::Operator, automatic ? tr("automatic update mode") : tr("manual update mode"));
        m_automatic = automatic;
    });
    connect(&window.rating(), &RatingMenu::ratingSelected, this,
            [this] { log(EventCategory::Operator, tr("rating selected: %1").arg(ratingText())); });
    connect(&window.editor(), &SetpointEditor::sending, this,
            [this](Channel c, int count, SetpointEditor::Action action) { m_setpoint = {c, count, action}; });
    if (auto *emergency = window.findChild<QShortcut *>(QStringLiteral("sc_EMERGENCYOFF")))
        connect(emergency, &QShortcut::activated, this,
                [this] { log(EventCategory::Operator, tr("emergency HV OFF key (F12)")); });
    if (auto *extras = window.findChild<QAction *>(QStringLiteral("mnu_EXTRAS")))
        connect(extras, &QAction::visibleChanged, this, [this, extras] {
            if (extras->isVisible())
                log(EventCategory::Operator, tr("special function mode entered"));
        });
    connect(&window, &MainWindow::programEnded, this, [this] {
        flushDiscarded();
        stopRecording();
        log(EventCategory::Console, tr("stopped"));
    });

    // One sample per completed cycle.
    connect(&window.cycle(), &UpdateCycle::cycleCompleted, this, &Logbook::cycleCompleted);
    // Automatic mode goes on where the cycle stopped: a cycle resumed mid-way is no sample,
    // its first queries were never made in it.
    connect(&window.cycle(), &UpdateCycle::modeChanged, this, [this] {
        m_sample.clear();
        m_cycleWhole = m_window.cycle().ctr_AutoUpdate == 0;
    });

    log(EventCategory::Console,
        tr("started: %1, rating %2").arg(window.build().windowCaption, ratingText()));
}

Logbook::~Logbook()
{
    // The windows show these logs: they go first.
    for (auto &w : m_windows)
        delete w.data();
}

// ---------------------------------------------------------------------------
// Windows

QWidget &Logbook::window(View v)
{
    QPointer<QWidget> &w = m_windows[size_t(v)];
    if (!w) {
        switch (v) {
        case View::Traffic: w = new TrafficWindow(*m_traffic, &m_window); break;
        case View::Events:
            // Earlier runs of today join the window: a trip before a restart is still in
            // sight. Read when first shown, not at every start.
            m_events->loadDay(QDate::currentDate());
            w = new EventWindow(*m_events, &m_window);
            break;
        case View::Trends: {
            auto *t = new TrendsWindow(m_trends, &m_window);
            t->setExportDescription([this] {
                QString model = m_window.info().txt_MODNUM->text();
                if (model == QLatin1String("Rev. ??"))
                    model = tr("not read");
                return tr("model %1  ·  %2  ·  %3 %4")
                    .arg(model, ratingText(), m_window.build().windowCaption, m_window.build().aboutVersion.trimmed());
            });
            connect(this, &Logbook::sampleTaken, t, &TrendsWindow::refresh);
            w = t;
            break;
        }
        }
        emit viewMade(v, w);
    }
    return *w;
}

TrafficWindow &Logbook::trafficWindow() { return static_cast<TrafficWindow &>(window(View::Traffic)); }
EventWindow &Logbook::eventWindow() { return static_cast<EventWindow &>(window(View::Events)); }
TrendsWindow &Logbook::trendsWindow() { return static_cast<TrendsWindow &>(window(View::Trends)); }

void Logbook::showView(View v)
{
    QWidget &w = window(v);
    w.show();
    w.raise();
    w.activateWindow();
}

void Logbook::hideViews()
{
    for (auto &w : m_windows)
        if (w)
            w->hide();
}

// ---------------------------------------------------------------------------
// Recording

void Logbook::mnu_RECORD_Click()
{
    // Qt ticked the item already; the recorder's state alone sets it.
    m_recordAction->setChecked(m_recorder->isRecording());
    if (m_recorder->isRecording()) {
        stopRecording();
        return;
    }
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = QDir(dir.isEmpty() ? QDir::homePath() : dir)
                                  .filePath(QDateTime::currentDateTime().toString(
                                      QStringLiteral("'plv-readbacks-'yyyyMMdd-HHmmss'.csv'")));
    const QString path = chooseFileToWrite(&m_window, tr("Record Readbacks"), suggested, {tr("CSV (*.csv)")},
                                           nullptr, true);
    if (!path.isEmpty() && !startRecording(path))
        prompter().message(&m_window, tr("Readbacks cannot be recorded to %1: %2").arg(path, m_recorder->errorString()),
                           QString(), Prompter::Icon::Warning);
}

bool Logbook::startRecording(const QString &path)
{
    if (!m_recorder->start(path))
        return false;
    m_recordAction->setToolTip(QString());
    log(EventCategory::Operator, tr("recording readbacks to %1").arg(m_recorder->path()));
    return true;
}

void Logbook::stopRecording()
{
    if (!m_recorder->isRecording())
        return;
    const QString path = m_recorder->path();
    const qint64 rows = m_recorder->rowsRecorded();
    m_recorder->stop();
    log(EventCategory::Operator, tr("recording stopped: %1, %2 rows").arg(path).arg(rows));
}

// ---------------------------------------------------------------------------
// Traffic

QString Logbook::linkName(Session::LinkKind kind) const
{
    // Made once per link and its address, not for every row.
    LinkNameCache &c = m_linkNames[int(kind)];
    // Links handed in (tests) have no device name or address.
    const auto *serial = qobject_cast<const SerialTransport *>(&m_session.link(Session::LinkKind::Serial));
    const auto *tcp = qobject_cast<const TcpTransport *>(&m_session.link(Session::LinkKind::Ethernet));
    const QString address = kind == Session::LinkKind::Serial     ? (serial ? serial->portName() : QString())
                            : kind == Session::LinkKind::Ethernet ? (tcp ? tcp->host() : QString())
                                                                  : QString();
    const quint16 port = kind == Session::LinkKind::Ethernet && tcp ? tcp->remotePort() : 0;
    if (c.name.isEmpty() || c.address != address || c.port != port)
        c = {address, port, makeLinkName(kind)};
    return c.name;
}

QString Logbook::makeLinkName(Session::LinkKind kind) const
{
    switch (kind) {
    case Session::LinkKind::Serial: {
        // The port keeps "ttyS0" for "/dev/ttyS0": the row names the device as chosen.
        const auto *serial = qobject_cast<const SerialTransport *>(&m_session.link(kind));
        const QString name = serial ? serial->portName() : QString();
        return QStringLiteral("serial ") + (name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
    }
    case Session::LinkKind::Ethernet:
    {
        const auto *tcp = qobject_cast<const TcpTransport *>(&m_session.link(kind));
        return tcp ? QStringLiteral("Ethernet %1:%2").arg(tcp->host()).arg(tcp->remotePort()) : QStringLiteral("Ethernet");
    }
    case Session::LinkKind::Usb: return QStringLiteral("USB");
    }
    return {};
}

Factors Logbook::factors() const
{
    const RatingMenu &r = m_window.rating();
    return {r.VoltsPerCount, r.MilliampsPerCount};
}

QString Logbook::ratingText() const
{
    const Rating *r = m_window.rating().selected();
    return r ? QStringLiteral("%1 kV / %2 W").arg(r->kV).arg(r->watts) : QString();
}

void Logbook::addRow(Direction d, Session::LinkKind kind, const QByteArray &frame, const QString &meaning)
{
    addRowOn(d, linkName(kind), kind != Session::LinkKind::Ethernet, frame, meaning);
}

void Logbook::addRowOn(Direction d, const QString &link, bool checksummed, const QByteArray &frame,
                       const QString &meaning)
{
    if (m_junk.active)
        flushDiscarded();
    m_traffic->recordAt(m_clock.nowMs(), d, link, frame,
                        checksummed ? checksumVerdict(frame) : logs::ChecksumVerdict::NotApplicable, meaning);
}

void Logbook::sent(const QByteArray &frame)
{
    m_lastSent = framePayload(frame);
    addRow(Direction::Tx, m_session.linkKind(), frame, commandMeaning(m_lastSent, factors()));
    operatorSent(m_lastSent);
}

void Logbook::exchanged(const QByteArray &command, const QByteArray &reply)
{
    const Session::LinkKind kind = m_session.linkKind();
    if (complete(reply)) {
        addRow(Direction::Rx, kind, reply, replyMeaning(reply, m_lastSent, factors()));
    } else {
        const int limit = kind == Session::LinkKind::Usb ? Session::kUsbTimeoutMs : Session::kSerialTcpTimeoutMs;
        addRow(Direction::Timeout, kind, reply,
               reply.isEmpty() ? tr("no reply to %1 within %2 ms").arg(QString::fromLatin1(command)).arg(limit)
                               : tr("reply to %1 incomplete after %2 ms").arg(QString::fromLatin1(command)).arg(limit));
    }
    m_sample.take(command, reply, factors());
    operatorAnswered(command, reply);
    if (complete(reply) && command == "22")
        statusSeen(decodeMainStatus(reply));
    else if (complete(reply) && command == "68")
        flagsSeen(decodeFaultFlags(reply));
}

void Logbook::unsolicited(const QByteArray &frame)
{
    // A unit reporting on its own repeats one frame hundreds of times a second.
    const Factors f = factors();
    if (frame != m_lastUnsolicited || f.voltsPerCount != m_lastUnsolicitedFactors.voltsPerCount
        || f.milliampsPerCount != m_lastUnsolicitedFactors.milliampsPerCount) {
        m_lastUnsolicited = frame;
        m_lastUnsolicitedFactors = f;
        m_lastUnsolicitedMeaning = replyMeaning(frame, {}, f);
    }
    addRow(Direction::RxUnsolicited, m_session.linkKind(), frame, m_lastUnsolicitedMeaning);
}

void Logbook::discarded(Session::LinkKind kind, const QByteArray &bytes, const QString &reason)
{
    // A frame is a row of its own; pieces of junk in a row are counted into one.
    const bool junk = !bytes.contains(ETX);
    if (m_junk.active && (!junk || kind != m_junk.link || reason != m_junk.reason))
        flushDiscarded();
    if (!junk) {
        const QString meaning = replyMeaning(bytes, {}, factors());
        addRow(Direction::Discarded, kind, bytes,
               tr("%1 bytes, %2").arg(bytes.size()).arg(reason) + (meaning.isEmpty() ? QString() : QStringLiteral(": ") + meaning));
        return;
    }
    if (!m_junk.active)
        m_junk = {true, kind, reason, bytes.left(kJunkHeadBytes), 0, 0, m_clock.nowMs()};
    m_junk.bytes += bytes.size();
    ++m_junk.pieces;
    m_junkFlush->start();
}

void Logbook::flushDiscarded()
{
    if (!m_junk.active)
        return;
    const Junk j = std::exchange(m_junk, {});
    m_junkFlush->stop();
    QString meaning = j.pieces > 1 ? tr("%1 bytes in %2 pieces, %3").arg(j.bytes).arg(j.pieces).arg(j.reason)
                                   : tr("%1 bytes, %2").arg(j.bytes).arg(j.reason);
    if (j.bytes > j.head.size())
        meaning += tr(" (first %1 shown)").arg(j.head.size());
    m_traffic->recordAt(j.timeMs, Direction::Discarded, linkName(j.link), j.head, logs::ChecksumVerdict::NotApplicable,
                        meaning);
}

// ---------------------------------------------------------------------------
// Events

void Logbook::operatorSent(const QByteArray &payload)
{
    const int cmd = logs::frameCommand(payload);
    const Factors f = factors();
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
    const QString what = QLatin1String(kChannelNames[cmd - 10]);
    m_setpointText = tr("%1 %2").arg(what, value);
    const QString detail = tr("%1 %2 (count %3) at rating %4")
                               .arg(what, value, count ? QString::number(int(*count)) : QStringLiteral("?"), ratingText());
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

void Logbook::operatorAnswered(const QByteArray &command, const QByteArray &reply)
{
    const int cmd = logs::frameCommand(command + ',');
    const bool setpoint = cmd >= 10 && cmd <= 13;
    if (!setpoint && cmd != 98 && cmd != 99 && cmd != 30 && cmd != 31 && cmd != 96)
        return;
    const QString what = setpoint ? m_setpointText
                                  : (logs::frameCommand(m_lastSent) == cmd ? commandMeaning(m_lastSent, factors())
                                                                           : QString::fromLatin1(command));
    if (!complete(reply)) {
        log(EventCategory::Operator, tr("%1: no reply, not confirmed").arg(what));
        return;
    }
    const char answer = charAt(reply, 5);
    if (answer == '$')
        log(EventCategory::Operator, tr("%1: accepted").arg(what));
    else if (answer == '1' || answer == '2')
        log(EventCategory::Operator, tr("%1: refused (%2)").arg(what).arg(QLatin1Char(answer)));
    else
        log(EventCategory::Operator, tr("%1: answered %2").arg(what, logs::renderFrame(reply)));
}

void Logbook::statusSeen(const MainStatus &st)
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

void Logbook::flagsSeen(const std::array<std::optional<bool>, 6> &flags)
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

void Logbook::healthChanged(LinkHealth::State state, const QString &text)
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

// ---------------------------------------------------------------------------
// Samples

void Logbook::cycleCompleted()
{
    const logs::Sample sample = m_sample.finish(m_clock.now(), ratingText());
    if (!std::exchange(m_cycleWhole, true))
        return;
    m_recorder->record(sample);
    m_trends.add(sample);
    emit sampleTaken(sample);
}

} // namespace plv
