#include "panels/trendswindow.h"

#include "panels/prompt.h"
#include "panels/savefile.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QGraphicsItem>
#include <QGraphicsLayout>
#include <QPainter>
#include <QStandardPaths>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace plv {

using logs::TrendSeries;

namespace {

// More pieces than this (a link that keeps dropping replies) join the rest into the last.
constexpr int kMaxPieces = 32;

// 1, 2, 2.5 or 5 times a power of ten, at least v.
double niceCeiling(double v)
{
    const double e = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 2.5, 5.0})
        if (m * e >= v * (1 - 1e-12))
            return m * e;
    return 10 * e;
}

QColor colourOf(TrendSeries s)
{
    switch (s) {
    case TrendSeries::Kv: return {200, 30, 30};
    case TrendSeries::Ma: return {20, 90, 200};
    case TrendSeries::Filament: return {200, 120, 0};
    // Setpoints: a lighter shade of their monitor's colour.
    case TrendSeries::KvSetpoint: return QColor(200, 30, 30).lighter(170);
    case TrendSeries::MaSetpoint: return QColor(20, 90, 200).lighter(170);
    case TrendSeries::FilamentLimit: return QColor(200, 120, 0).lighter(150);
    case TrendSeries::FilamentPreheat: return QColor(200, 120, 0).lighter(180);
    }
    return {};
}

QPen penFor(TrendSeries s)
{
    switch (s) {
    case TrendSeries::Kv:
    case TrendSeries::Ma:
    case TrendSeries::Filament: return QPen(colourOf(s), 1);
    // One pixel wide: a wider pen goes through the stroker, many times the cost.
    case TrendSeries::FilamentPreheat: return QPen(colourOf(s), 1, Qt::DotLine);
    default: return QPen(colourOf(s), 1, Qt::DashLine);
    }
}

// Ticks at round times: every 10 s, minute, 10 minutes, hour or day of the window.
qint64 tickMs(qint64 spanMs)
{
    constexpr qint64 minute = 60 * 1000;
    return spanMs <= minute ? 10 * 1000 : spanMs <= 10 * minute ? minute : spanMs <= 60 * minute ? 10 * minute
                                                                   : spanMs <= 24 * 60 * minute ? 60 * minute
                                                                                                 : 24 * 60 * minute;
}

// The next tick of local time after `ms`.
qint64 nextTick(qint64 ms, qint64 tick)
{
    const qint64 offset = qint64(QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc()) * 1000;
    const qint64 local = ms + offset;
    return (local - ((local % tick) + tick) % tick) + tick - offset;
}

} // namespace

// HV-on stretches as a light band behind a plot's lines, and each fault or interlock
// opening as a red mark, from the states drawn with the plot.
class StateBackdrop : public QGraphicsItem {
public:
    StateBackdrop(QChart *chart, const QDateTimeAxis *x) : QGraphicsItem(chart), m_chart(chart), m_x(x)
    {
        setZValue(0.5);   // over the plot's background, under its grid and lines
    }
    void setStates(const QList<logs::TrendState> &states, qint64 endMs)
    {
        m_states = states;
        m_endMs = endMs;
        update();
    }
    void areaChanged()
    {
        prepareGeometryChange();
        update();
    }
    QRectF boundingRect() const override { return m_chart->plotArea(); }
    void paint(QPainter *p, const QStyleOptionGraphicsItem *, QWidget *) override
    {
        const QRectF area = m_chart->plotArea();
        const double from = double(m_x->min().toMSecsSinceEpoch()), to = double(m_x->max().toMSecsSinceEpoch());
        if (m_states.isEmpty() || to <= from)
            return;
        const auto xOf = [&](qint64 t) { return std::clamp(area.left() + (double(t) - from) / (to - from) * area.width(),
                                                           area.left(), area.right()); };
        p->setClipRect(area);
        for (qsizetype i = 0; i < m_states.size(); ++i) {
            const qint64 end = i + 1 < m_states.size() ? m_states[i + 1].timeMs : m_endMs;
            if (m_states[i].flags & logs::StateHvOn)
                p->fillRect(QRectF(QPointF(xOf(m_states[i].timeMs), area.top()), QPointF(xOf(end), area.bottom())),
                            QColor(255, 236, 180));   // opaque: nothing to blend at each repaint
        }
        p->setPen(QPen(QColor(200, 0, 0), 1, Qt::DashLine));
        p->setBrush(QColor(200, 0, 0));
        constexpr quint8 abnormal = logs::StateFault | logs::StateInterlockOpen;
        for (qsizetype i = 1; i < m_states.size(); ++i) {
            // A fault or an open interlock that was not there before (unknown counts as not).
            const quint8 before = m_states[i - 1].flags & logs::StateUnknown ? 0 : m_states[i - 1].flags;
            if (!(m_states[i].flags & abnormal & ~before))
                continue;
            const double x = xOf(m_states[i].timeMs);
            p->drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
            p->drawPolygon(QPolygonF({QPointF(x - 4, area.top()), QPointF(x + 4, area.top()), QPointF(x, area.top() + 7)}));
        }
    }

private:
    QChart *m_chart;
    const QDateTimeAxis *m_x;
    QList<logs::TrendState> m_states;
    qint64 m_endMs = 0;
};

TrendsWindow::TrendsWindow(const logs::TrendStore &store, QWidget *parent)
    : QWidget(parent, Qt::Window), m_store(store), m_plotArea(new QWidget(this))
{
    setObjectName(QStringLiteral("frm_TRENDS"));
    setWindowTitle(tr("Trends"));

    cmb_SPAN = new QComboBox(this);
    cmb_SPAN->setObjectName(QStringLiteral("cmb_SPAN"));
    for (int minutes : {1, 10, 60})
        cmb_SPAN->addItem(minutes == 1 ? tr("last minute") : tr("last %1 minutes").arg(minutes), minutes);
    // Beyond the hour kept whole: each 10 s as its lowest and highest reading.
    cmb_SPAN->addItem(tr("last 24 hours (10 s min/max)"), 24 * 60);
    cmb_SPAN->addItem(tr("last 7 days (10 s min/max)"), 7 * 24 * 60);
    cmb_SPAN->setCurrentIndex(1);
    auto *spanLabel = new QLabel(tr("&Window"), this);
    spanLabel->setBuddy(cmb_SPAN);
    btn_PAUSE = new QPushButton(tr("&Pause"), this);
    btn_PAUSE->setObjectName(QStringLiteral("btn_PAUSE"));
    btn_PAUSE->setCheckable(true);
    btn_PAUSE->setToolTip(tr("Hold the plot still; readings keep being collected"));
    btn_RESETZOOM = new QPushButton(tr("&Live"), this);
    btn_RESETZOOM->setObjectName(QStringLiteral("btn_RESETZOOM"));
    btn_RESETZOOM->setToolTip(tr("Undo the zoom and follow the newest readings (drag across a plot to zoom)"));
    btn_EXPORT = new QPushButton(tr("&Export PNG…"), this);
    btn_EXPORT->setObjectName(QStringLiteral("btn_EXPORT"));
    lbl_STATE = new QLabel(this);
    lbl_STATE->setObjectName(QStringLiteral("lbl_STATE"));
    lbl_KEY = new QLabel(tr("<span style='background:#ffe9a8'>&nbsp;HV on&nbsp;</span> "
                            "<span style='color:#c80000'>&#9660; fault or interlock open</span>"),
                         this);
    lbl_KEY->setObjectName(QStringLiteral("lbl_KEY"));

    auto *bar = new QHBoxLayout;
    bar->addWidget(spanLabel);
    bar->addWidget(cmb_SPAN);
    bar->addWidget(btn_PAUSE);
    bar->addWidget(btn_RESETZOOM);
    bar->addWidget(lbl_STATE, 1);
    bar->addWidget(lbl_KEY);
    bar->addWidget(btn_EXPORT);
    auto *plots = new QVBoxLayout(m_plotArea);
    plots->setContentsMargins(0, 0, 0, 0);
    plots->setSpacing(0);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_plotArea, 1);

    m_plots.reserve(3);
    addPlot(tr("kV"), {{TrendSeries::Kv, tr("kV monitor")}, {TrendSeries::KvSetpoint, tr("kV setpoint")}}, false);
    addPlot(tr("mA"), {{TrendSeries::Ma, tr("mA monitor")}, {TrendSeries::MaSetpoint, tr("mA setpoint")}}, false);
    addPlot(tr("A"),
            {{TrendSeries::Filament, tr("filament monitor")},
             {TrendSeries::FilamentLimit, tr("filament limit")},
             {TrendSeries::FilamentPreheat, tr("filament preheat")}},
            true);

    m_catchUp = new QTimer(this);
    m_catchUp->setObjectName(QStringLiteral("tmr_TRENDSCATCHUP"));
    m_catchUp->setSingleShot(true);
    connect(m_catchUp, &QTimer::timeout, this, &TrendsWindow::drawNow);
    connect(cmb_SPAN, &QComboBox::currentIndexChanged, this, [this] {
        m_spanMinutes = cmb_SPAN->currentData().toInt();
        resetZoom();
    });
    connect(btn_PAUSE, &QPushButton::toggled, this, &TrendsWindow::setPaused);
    connect(btn_RESETZOOM, &QPushButton::clicked, this, &TrendsWindow::resetZoom);
    connect(btn_EXPORT, &QPushButton::clicked, this, &TrendsWindow::chooseAndExport);
    showState();
    resize(sizeHint());
}

void TrendsWindow::addPlot(const QString &unit, std::initializer_list<std::pair<TrendSeries, QString>> lines,
                           bool timeLabels)
{
    Plot p;
    p.chart = new QChart;
    p.chart->setMargins(QMargins(2, 2, 2, 2));
    p.chart->setBackgroundRoundness(0);
    p.chart->legend()->setAlignment(Qt::AlignRight);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.chart->legend()->setFont(small);
    // Legends of one width, so the three plots' time axes line up.
    const int legendWidth = QFontMetrics(small).horizontalAdvance(tr("filament preheat")) + 40;
    p.chart->legend()->setMinimumWidth(legendWidth);
    p.chart->legend()->setMaximumWidth(legendWidth);
    // Each line's own stroke in the legend: a monitor and its dashed setpoint tell apart.
    p.chart->legend()->setMarkerShape(QLegend::MarkerShapeFromSeries);
    p.x = new QDateTimeAxis(p.chart);
    p.x->setFormat(QStringLiteral("HH:mm:ss"));
    p.x->setLabelsVisible(timeLabels);
    p.x->setLabelsFont(small);
    p.y = new QValueAxis(p.chart);
    p.y->setTitleText(unit);
    p.y->setTitleFont(small);
    p.y->setLabelsFont(small);
    p.y->setLabelFormat(QStringLiteral("%.3g"));
    p.y->setTickType(QValueAxis::TicksDynamic);
    p.y->setTickAnchor(0);
    p.chart->addAxis(p.x, Qt::AlignBottom);
    p.chart->addAxis(p.y, Qt::AlignLeft);
    p.backdrop = new StateBackdrop(p.chart, p.x);
    connect(p.chart, &QChart::plotAreaChanged, this, [backdrop = p.backdrop] { backdrop->areaChanged(); });
    connect(p.x, &QDateTimeAxis::rangeChanged, this, [backdrop = p.backdrop] { backdrop->update(); });
    p.view = new QChartView(p.chart, m_plotArea);
    p.view->setObjectName(QStringLiteral("chv_") + unit);
    // Plain one-pixel lines: smoothing them costs more than the rest of the plot.
    p.view->setRenderHint(QPainter::Antialiasing, false);
    p.view->setRubberBand(QChartView::HorizontalRubberBand);
    p.view->setMinimumHeight(110);
    m_plotArea->layout()->addWidget(p.view);
    for (const auto &[series, name] : lines) {
        p.lines.push_back(Line{series, {}, 0, 0});
        piece(p, p.lines.back(), 0)->setName(name);
    }
    m_plots.push_back(p);
    const size_t index = m_plots.size() - 1;
    // A drag across one plot zooms all three alike and holds them still.
    connect(p.x, &QDateTimeAxis::rangeChanged, this, [this, index] {
        if (!m_drawing)
            zoomed(m_plots[index]);
    });
}

QLineSeries *TrendsWindow::piece(Plot &plot, Line &line, int index)
{
    while (line.pieces.size() <= index) {
        auto *s = new QLineSeries(plot.chart);
        s->setPen(penFor(line.series));
        plot.chart->addSeries(s);
        s->attachAxis(plot.x);
        s->attachAxis(plot.y);
        if (!line.pieces.isEmpty()) {
            s->setName(line.pieces.first()->name());
            for (QLegendMarker *m : plot.chart->legend()->markers(s))
                m->setVisible(false);   // one legend entry per line, not per piece
        }
        line.pieces.append(s);
    }
    return line.pieces[index];
}

void TrendsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    drawNow();
}

void TrendsWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_alignDue = true;
    QTimer::singleShot(0, this, [this] {
        if (m_alignDue && isVisible())
            alignPlots();
    });
}

// Each chart lays out on its own (value labels and the time labels below the last one
// take different room); then each one's margins grow by what it lacks of the common left
// and right edges, so one time is at one x in every plot.
void TrendsWindow::alignPlots()
{
    m_alignDue = false;
    const QMargins base(2, 2, 2, 2);
    qreal left = 0, right = std::numeric_limits<qreal>::max();
    for (Plot &p : m_plots) {
        p.chart->setMargins(base);
        p.chart->layout()->activate();
        left = std::max(left, p.chart->plotArea().left());
        right = std::min(right, p.chart->plotArea().right());
    }
    if (right <= left)
        return;
    for (Plot &p : m_plots) {
        const QRectF a = p.chart->plotArea();
        p.chart->setMargins(base + QMargins(int(std::lround(left - a.left())), 0, int(std::lround(a.right() - right)), 0));
    }
}

void TrendsWindow::refresh()
{
    if (m_paused || !isVisible())
        return;
    // The plot moves on one pixel per span / width: drawing more often than that shows
    // next to nothing and costs a whole redraw. What is held back shows within that time.
    const qint64 span = qint64(m_spanMinutes) * 60 * 1000;
    const qint64 pixelMs = span / std::max(100, m_plots.front().view->width());
    if (m_drawnLatestMs >= 0 && span == m_drawnSpanMs && m_store.latestMs() - m_drawnLatestMs < pixelMs) {
        if (!m_catchUp->isActive())
            m_catchUp->start(int(std::min<qint64>(pixelMs, std::numeric_limits<int>::max())));
        return;
    }
    drawNow();
}

void TrendsWindow::drawNow()
{
    m_catchUp->stop();
    if (m_paused || !isVisible())
        return;
    const qint64 span = qint64(m_spanMinutes) * 60 * 1000;
    const qint64 latest = m_store.latestMs() >= 0 ? m_store.latestMs() : QDateTime::currentMSecsSinceEpoch();
    // The time axis ends on the tick after the newest reading and moves on a tick at a
    // time, so its labels are laid out again only then and fall on round times.
    const qint64 tick = tickMs(span);
    if (span != m_axisSpanMs || latest >= m_axisEndMs || m_axisEndMs - latest > tick) {
        m_axisSpanMs = span;
        m_axisEndMs = nextTick(latest, tick);
    }
    m_drawnLatestMs = m_store.latestMs();
    m_drawnSpanMs = span;
    const QList<logs::TrendState> states = m_store.states(m_axisEndMs - span, m_axisEndMs);
    m_drawing = true;
    for (Plot &p : m_plots) {
        draw(p, m_axisEndMs - span, m_axisEndMs);
        p.backdrop->setStates(states, std::max<qint64>(m_store.latestMs(), m_axisEndMs - span));
    }
    m_drawing = false;
    if (m_alignDue)
        alignPlots();
}

void TrendsWindow::draw(Plot &plot, qint64 fromMs, qint64 toMs)
{
    // More points than the plot has pixels become each pixel's minimum and maximum.
    const int width = std::max(100, plot.view->width());
    const qint64 bucketMs = std::max<qint64>(1, (toMs - fromMs) / width);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (Line &line : plot.lines) {
        const QList<logs::TrendPoint> points = m_store.latestMs() >= 0 ? pointsFor(line.series, fromMs, toMs)
                                                                        : QList<logs::TrendPoint>{};
        const bool thin = points.size() > 2 * width;
        QList<QList<QPointF>> runs;
        bool open = false;
        qint64 bucket = -1;
        QPointF low, high;
        auto flush = [&] {
            if (bucket < 0)
                return;
            if (low.x() <= high.x())
                runs.last() << low << high;
            else
                runs.last() << high << low;
            bucket = -1;
        };
        for (const logs::TrendPoint &tp : points) {
            if (std::isnan(tp.value)) {
                flush();
                open = false;
                continue;
            }
            if (!open && runs.size() < kMaxPieces) {
                runs.append(QList<QPointF>());
                open = true;
            }
            lo = std::min(lo, tp.value);
            hi = std::max(hi, tp.value);
            const QPointF pt(double(tp.timeMs), tp.value);
            if (!thin) {
                runs.last().append(pt);
                continue;
            }
            const qint64 b = (tp.timeMs - fromMs) / bucketMs;
            if (b != bucket) {
                flush();
                bucket = b;
                low = high = pt;
            } else if (tp.value < low.y()) {
                low = pt;
            } else if (tp.value > high.y()) {
                high = pt;
            }
        }
        flush();
        line.points = 0;
        for (qsizetype i = 0; i < runs.size(); ++i) {
            line.points += int(runs[i].size());
            piece(plot, line, int(i))->replace(runs[i]);
        }
        for (qsizetype i = runs.size(); i < line.used; ++i)
            line.pieces[i]->clear();
        line.used = int(runs.size());
    }
    if (fromMs != plot.fromMs || toMs != plot.toMs) {
        plot.fromMs = fromMs;
        plot.toMs = toMs;
        const qint64 span = toMs - fromMs;
        plot.x->setFormat(span > 2 * 24 * 3600 * 1000LL ? QStringLiteral("ddd d MMM")
                          : span > 60 * 1000 ? QStringLiteral("HH:mm")
                                             : QStringLiteral("HH:mm:ss"));
        plot.x->setTickCount(int(span / tickMs(span)) + 1);
        plot.x->setRange(QDateTime::fromMSecsSinceEpoch(fromMs), QDateTime::fromMSecsSinceEpoch(toMs));
    }
    // From zero, so a small wobble does not fill the plot, up to a round number above the
    // top; changed only when the readings leave it or shrink well below it.
    if (!(hi >= lo))
        lo = hi = 0;
    const double want = std::max(hi * 1.05, 1e-3);
    const double low = lo < 0 ? -niceCeiling(-lo) : 0;
    if (low != plot.yLo || want > plot.yHi || plot.yHi > 2.5 * niceCeiling(want)) {
        plot.yLo = low;
        plot.yHi = niceCeiling(want);
        plot.y->setRange(plot.yLo, plot.yHi);
        plot.y->setTickInterval(niceCeiling(plot.yHi / 5));   // round steps: 0, 0.5, 1 ... 2.5
        m_alignDue = true;   // its labels may take other room
    }
}

QList<logs::TrendPoint> TrendsWindow::pointsFor(TrendSeries series, qint64 fromMs, qint64 toMs) const
{
    if (toMs - fromMs <= logs::TrendStore::FullRateSpanMs)
        return m_store.points(series, fromMs, toMs);
    // Each bucket as its low then its high, a gap as a NaN: drawn like full-rate points.
    const QList<logs::TrendRange> ranges = m_store.ranges(series, fromMs - fromMs % logs::TrendStore::BucketMs, toMs);
    QList<logs::TrendPoint> points;
    points.reserve(2 * ranges.size());
    for (const logs::TrendRange &r : ranges) {
        points.append({r.timeMs, r.min});
        if (!std::isnan(r.min))
            points.append({r.timeMs + logs::TrendStore::BucketMs / 2, r.max});
    }
    return points;
}

void TrendsWindow::zoomed(const Plot &from)
{
    if (!m_paused)
        btn_PAUSE->setChecked(true);
    m_drawing = true;
    for (Plot &p : m_plots) {
        if (p.x != from.x)
            p.x->setRange(from.x->min(), from.x->max());
        p.fromMs = p.toMs = -1;   // the live range is set again on resuming
    }
    m_drawing = false;
}

void TrendsWindow::setSpanMinutes(int minutes)
{
    const int i = cmb_SPAN->findData(minutes);
    if (i >= 0)
        cmb_SPAN->setCurrentIndex(i);
}

void TrendsWindow::setPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    btn_PAUSE->setChecked(paused);
    showState();
    drawNow();
}

void TrendsWindow::resetZoom()
{
    m_drawing = true;
    for (Plot &p : m_plots) {
        p.chart->zoomReset();
        p.fromMs = p.toMs = -1;   // set again at the next drawing
    }
    m_axisSpanMs = 0;
    m_drawing = false;
    setPaused(false);
    drawNow();
}

void TrendsWindow::showState()
{
    lbl_STATE->setText(m_paused ? tr("Held still: readings are still being collected") : tr("Live"));
}

int TrendsWindow::pointsShown(TrendSeries series) const
{
    for (const Plot &p : m_plots)
        for (const Line &l : p.lines)
            if (l.series == series)
                return l.points;
    return 0;
}

int TrendsWindow::piecesShown(TrendSeries series) const
{
    for (const Plot &p : m_plots)
        for (const Line &l : p.lines)
            if (l.series == series)
                return l.used;
    return 0;
}

QString TrendsWindow::exportTitle() const
{
    const QDateTimeAxis *x = m_plots.front().x;
    const QDateTime from = x->min(), to = x->max();
    const QString range = from.date() == to.date()
                              ? QStringLiteral("%1 – %2").arg(from.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                                               to.toString(QStringLiteral("HH:mm:ss")))
                              : QStringLiteral("%1 – %2").arg(from.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                                                               to.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    const QString more = m_describe ? m_describe() : QString();
    return more.isEmpty() ? range : range + QStringLiteral("  ·  ") + more;
}

bool TrendsWindow::exportPng(const QString &path)
{
    // A title line above the plots: when, and which unit under which rating.
    const QPixmap plots = m_plotArea->grab();
    const qreal ratio = plots.devicePixelRatio();
    const int titleHeight = fontMetrics().height() + 8;
    QPixmap out(plots.width(), plots.height() + qRound(titleHeight * ratio));
    out.setDevicePixelRatio(ratio);
    out.fill(Qt::white);
    QPainter painter(&out);
    painter.setPen(Qt::black);
    painter.setFont(font());
    const QSizeF size = plots.deviceIndependentSize();
    painter.drawText(QRectF(6, 0, size.width() - 12, titleHeight), Qt::AlignVCenter | Qt::AlignLeft, exportTitle());
    painter.drawPixmap(QPointF(0, titleHeight), plots);
    painter.end();
    return out.save(path, "PNG");
}

void TrendsWindow::chooseAndExport()
{
    const QString path = chooseFileToWrite(
        this, tr("Export Trends"),
        QDateTime::currentDateTime().toString(QStringLiteral("'plv-trends-'yyyyMMdd-HHmmss'.png'")),
        {tr("PNG image (*.png)")});
    if (!path.isEmpty() && !exportPng(path))
        prompter().message(this, tr("The picture could not be written to %1.").arg(path), windowTitle(),
                           Prompter::Icon::Warning);
}

} // namespace plv
