#include "panels/trendswindow.h"

#include "panels/prompt.h"
#include "panels/savefile.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPushButton>
#include <QStandardPaths>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

namespace plv {

using logs::TrendSeries;

namespace {

// More pieces than this (a link that keeps dropping replies) join the rest into the last.
constexpr int kMaxPieces = 32;

QPen penFor(TrendSeries s)
{
    switch (s) {
    case TrendSeries::Kv: return QPen(QColor(200, 30, 30), 2);
    case TrendSeries::Ma: return QPen(QColor(20, 90, 200), 2);
    case TrendSeries::Filament: return QPen(QColor(200, 120, 0), 2);
    case TrendSeries::KvSetpoint: return QPen(QColor(200, 30, 30), 1, Qt::DashLine);
    case TrendSeries::MaSetpoint: return QPen(QColor(20, 90, 200), 1, Qt::DashLine);
    case TrendSeries::FilamentLimit: return QPen(QColor(120, 60, 0), 1, Qt::DashLine);
    case TrendSeries::FilamentPreheat: return QPen(QColor(90, 140, 40), 1, Qt::DotLine);
    }
    return {};
}

} // namespace

TrendsWindow::TrendsWindow(const logs::TrendStore &store, QWidget *parent)
    : QWidget(parent, Qt::Window), m_store(store), m_plotArea(new QWidget(this))
{
    setObjectName(QStringLiteral("frm_TRENDS"));
    setWindowTitle(tr("Trends"));

    cmb_SPAN = new QComboBox(this);
    cmb_SPAN->setObjectName(QStringLiteral("cmb_SPAN"));
    for (int minutes : {1, 10, 60})
        cmb_SPAN->addItem(minutes == 1 ? tr("last minute") : tr("last %1 minutes").arg(minutes), minutes);
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

    auto *bar = new QHBoxLayout;
    bar->addWidget(spanLabel);
    bar->addWidget(cmb_SPAN);
    bar->addWidget(btn_PAUSE);
    bar->addWidget(btn_RESETZOOM);
    bar->addWidget(lbl_STATE, 1);
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
    p.x = new QDateTimeAxis(p.chart);
    p.x->setFormat(QStringLiteral("HH:mm:ss"));
    p.x->setLabelsVisible(timeLabels);
    p.x->setLabelsFont(small);
    p.x->setTickCount(7);
    p.y = new QValueAxis(p.chart);
    p.y->setTitleText(unit);
    p.y->setTitleFont(small);
    p.y->setLabelsFont(small);
    p.y->setLabelFormat(QStringLiteral("%.3g"));
    p.chart->addAxis(p.x, Qt::AlignBottom);
    p.chart->addAxis(p.y, Qt::AlignLeft);
    p.view = new QChartView(p.chart, m_plotArea);
    p.view->setObjectName(QStringLiteral("chv_") + unit);
    p.view->setRenderHint(QPainter::Antialiasing);
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
    refresh();
}

void TrendsWindow::refresh()
{
    if (m_paused || !isVisible())
        return;
    const qint64 span = qint64(m_spanMinutes) * 60 * 1000;
    const qint64 latest = m_store.latestMs() >= 0 ? m_store.latestMs() : QDateTime::currentMSecsSinceEpoch();
    m_drawing = true;
    for (Plot &p : m_plots)
        draw(p, latest - span + 1, latest + 1);
    m_drawing = false;
}

void TrendsWindow::draw(Plot &plot, qint64 fromMs, qint64 toMs)
{
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (Line &line : plot.lines) {
        const QList<logs::TrendPoint> points = m_store.latestMs() >= 0 ? m_store.points(line.series, fromMs, toMs)
                                                                        : QList<logs::TrendPoint>{};
        QList<QList<QPointF>> runs;
        bool open = false;
        for (const logs::TrendPoint &tp : points) {
            if (std::isnan(tp.value)) {
                open = false;
                continue;
            }
            if (!open && runs.size() < kMaxPieces) {
                runs.append(QList<QPointF>());
                open = true;
            }
            runs.last().append(QPointF(double(tp.timeMs), tp.value));
            lo = std::min(lo, tp.value);
            hi = std::max(hi, tp.value);
        }
        line.points = 0;
        for (qsizetype i = 0; i < runs.size(); ++i) {
            line.points += int(runs[i].size());
            piece(plot, line, int(i))->replace(runs[i]);
        }
        for (qsizetype i = runs.size(); i < line.used; ++i)
            line.pieces[i]->clear();
        line.used = int(runs.size());
    }
    plot.x->setRange(QDateTime::fromMSecsSinceEpoch(fromMs), QDateTime::fromMSecsSinceEpoch(toMs));
    if (!(hi >= lo)) {
        lo = 0;
        hi = 1;
    }
    // From zero, so a small wobble does not fill the plot; a little room above the top.
    lo = std::min(lo, 0.0);
    hi = hi > lo ? hi + (hi - lo) * 0.08 : lo + 1;
    plot.y->setRange(lo, hi);
}

void TrendsWindow::zoomed(const Plot &from)
{
    if (!m_paused)
        btn_PAUSE->setChecked(true);
    m_drawing = true;
    for (Plot &p : m_plots)
        if (p.x != from.x)
            p.x->setRange(from.x->min(), from.x->max());
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
    refresh();
}

void TrendsWindow::resetZoom()
{
    m_drawing = true;
    for (Plot &p : m_plots)
        p.chart->zoomReset();
    m_drawing = false;
    setPaused(false);
    refresh();
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

bool TrendsWindow::exportPng(const QString &path)
{
    return m_plotArea->grab().save(path, "PNG");
}

void TrendsWindow::chooseAndExport()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    const QString suggested = QDir(dir.isEmpty() ? QDir::homePath() : dir)
                                  .filePath(QDateTime::currentDateTime().toString(
                                      QStringLiteral("'plv-trends-'yyyyMMdd-HHmmss'.png'")));
    const QString path = chooseFileToWrite(this, tr("Export Trends"), suggested, {tr("PNG image (*.png)")});
    if (!path.isEmpty() && !exportPng(path))
        prompter().message(this, tr("The picture could not be written to %1.").arg(path), windowTitle(),
                           Prompter::Icon::Warning);
}

} // namespace plv
