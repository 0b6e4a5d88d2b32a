#include "console/logbook.h"

#include "console/linkchoice.h"
#include "console/linkwatch.h"
#include "panels/eventwindow.h"
#include "panels/healthstrip.h"
#include "panels/infopanel.h"
#include "panels/prompt.h"
#include "panels/ratingmenu.h"
#include "panels/savefile.h"
#include "panels/trafficwindow.h"
#include "panels/trendswindow.h"
#include "unit/updatecycle.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>

namespace plv {

using logs::EventCategory;

QString Logbook::viewKey(View v)
{
    switch (v) {
    case View::Traffic: return QStringLiteral("traffic");
    case View::Events: return QStringLiteral("events");
    case View::Trends: return QStringLiteral("trends");
    }
    return {};
}

Logbook::Logbook(const Sources &from) : QObject(&from.window), m_window(from.window)
{
    setObjectName(QStringLiteral("logbook"));
    m_trendsTitle = from.trendsTitle;
    const RatingMenu *r = &from.rating;
    auto factors = [r] { return Factors{r->VoltsPerCount, r->MilliampsPerCount}; };
    auto rating = [r] {
        const Rating *sel = r->selected();
        return sel ? QStringLiteral("%1 kV / %2 W").arg(sel->kV).arg(sel->watts) : QString();
    };
    m_traffic = new TrafficFeed(from.session, from.unit, factors, this);
    m_events = new EventFeed(from.session, from.unit, rating, factors, from.eventFolder, this);
    m_samples = new SampleFeed(from.unit, from.cycle, rating, factors, this);
    connect(m_samples, &SampleFeed::sampleTaken, this, &Logbook::sampleTaken);

    // The View menu.
    auto item = [&](const char *name, const QString &caption, auto handler) {
        QAction *a = from.viewMenu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    item("mnu_TRAFFIC", tr("&Traffic Log"), [this] { showView(View::Traffic); });
    item("mnu_EVENTS", tr("&Event Log"), [this] { showView(View::Events); });
    m_recordAction = item("mnu_RECORD", tr("&Record Readbacks…"), [this] { mnu_RECORD_Click(); });
    m_recordAction->setCheckable(true);
    item("mnu_TRENDS", tr("Tre&nds"), [this] { showView(View::Trends); });
    logs::SampleRecorder *recorder = &m_samples->recorder();
    connect(recorder, &logs::SampleRecorder::recordingChanged, m_recordAction, &QAction::setChecked);
    connect(recorder, &logs::SampleRecorder::writeFailed, this, [this, recorder](const QString &reason) {
        m_recordAction->setToolTip(tr("Rows cannot be written: %1").arg(reason));
        log(EventCategory::Console, tr("recording to %1 failing: %2").arg(recorder->path(), reason));
    });
    connect(recorder, &logs::SampleRecorder::writeRecovered, this, [this, recorder] {
        m_recordAction->setToolTip(QString());
        log(EventCategory::Console, tr("recording to %1 written again").arg(recorder->path()));
    });

    // What the operator does, for the event log.
    connect(&from.links, &LinkChoice::opened, m_events, &EventFeed::linkOpened);
    connect(&from.links, &LinkChoice::failed, m_events, &EventFeed::linkFailed);
    connect(&from.links, &LinkChoice::retryFailed, this, [this](LinkDown reason, const QString &where) {
        log(EventCategory::Link, tr("reconnecting to %1: %2").arg(where, linkDownText(reason)));
    });
    connect(&from.watch, &LinkWatch::healthChanged, m_events, &EventFeed::healthChanged);
    connect(&from.cycle, &UpdateCycle::modeChanged, m_events, &EventFeed::modeChanged);
    connect(&from.rating, &RatingMenu::ratingSelected, m_events, &EventFeed::ratingSelected);
    connect(&from.editor, &SetpointEditor::sending, m_events, &EventFeed::setpointSending);
    if (QAction *extras = from.extras)
        connect(extras, &QAction::visibleChanged, this, [this, extras] {
            if (extras->isVisible())
                log(EventCategory::Operator, tr("special function mode entered"));
        });

    log(EventCategory::Console, tr("started: %1, rating %2").arg(from.caption, rating()));
}

Logbook::~Logbook()
{
    // The windows show these logs: they go first.
    for (auto &w : m_windows)
        delete w.data();
}

void Logbook::end()
{
    m_traffic->flushDiscarded();
    stopRecording();
    log(EventCategory::Console, tr("stopped"));
}

// ---------------------------------------------------------------------------
// Windows

QWidget &Logbook::window(View v)
{
    QPointer<QWidget> &w = m_windows[size_t(v)];
    if (!w) {
        switch (v) {
        case View::Traffic: w = new TrafficWindow(traffic(), &m_window); break;
        case View::Events:
            // Earlier runs of today join the window: a trip before a restart is still in
            // sight. Read when first shown, not at every start.
            events().loadDay(QDate::currentDate());
            w = new EventWindow(events(), &m_window);
            break;
        case View::Trends: {
            auto *t = new TrendsWindow(m_samples->trends(), &m_window);
            if (m_trendsTitle)
                t->setExportDescription(m_trendsTitle);
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
    m_recordAction->setChecked(recorder().isRecording());
    if (recorder().isRecording()) {
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
        prompter().message(&m_window, tr("Readbacks cannot be recorded to %1: %2").arg(path, recorder().errorString()),
                           QString(), Prompter::Icon::Warning);
}

bool Logbook::startRecording(const QString &path)
{
    if (!recorder().start(path))
        return false;
    m_recordAction->setToolTip(QString());
    log(EventCategory::Operator, tr("recording readbacks to %1").arg(recorder().path()));
    return true;
}

void Logbook::stopRecording()
{
    if (!recorder().isRecording())
        return;
    const QString path = recorder().path();
    const qint64 rows = recorder().rowsRecorded();
    recorder().stop();
    log(EventCategory::Operator, tr("recording stopped: %1, %2 rows").arg(path).arg(rows));
}

} // namespace plv
