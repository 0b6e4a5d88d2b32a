#pragma once
// "Trends": kV, mA and the filament monitor against time, each with its programmed
// setpoints as lines, over the last 1, 10 or 60 minutes at full rate, or the last 24 hours
// or 7 days as each 10 s's lowest and highest reading. Pausing or zooming freezes the
// plot only; the store keeps collecting. A missing reading or more than two cycles without
// one is a gap, never joined across. HV-on stretches show as a band, faults and interlock
// openings as marks; ticks fall on round times.
#include "logs/trendstore.h"

#include <QWidget>

#include <functional>
#include <vector>

class QChart;
class QChartView;
class QComboBox;
class QTimer;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QValueAxis;

namespace plv {

class StateBackdrop;

class TrendsWindow : public QWidget {
    Q_OBJECT
public:
    explicit TrendsWindow(const logs::TrendStore &store, QWidget *parent = nullptr);

    // Redraws from the store, unless paused or hidden; called for each new sample.
    void refresh();
    void setSpanMinutes(int minutes);   // 1, 10, 60, 1440 or 10080
    int spanMinutes() const { return m_spanMinutes; }
    void setPaused(bool paused);
    bool isPaused() const { return m_paused; }
    void resetZoom();   // and back to live
    bool exportPng(const QString &path);
    void chooseAndExport();
    // The exported picture's title line: the time range shown, then what `describe`
    // says (the unit's model, the rating, the build).
    QString exportTitle() const;
    void setExportDescription(std::function<QString()> describe) { m_describe = std::move(describe); }

    // Points drawn for a series, over all its pieces between gaps.
    int pointsShown(logs::TrendSeries series) const;
    int piecesShown(logs::TrendSeries series) const;
    const QDateTimeAxis &timeAxis() const { return *m_plots.front().x; }

    QSize sizeHint() const override { return {900, 520}; }

    QComboBox *cmb_SPAN;
    QPushButton *btn_PAUSE, *btn_RESETZOOM, *btn_EXPORT;
    QLabel *lbl_STATE, *lbl_KEY;

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Line {
        logs::TrendSeries series;
        QList<QLineSeries *> pieces;   // one per run between gaps
        int points = 0;
        int used = 0;
    };
    struct Plot {
        QChart *chart;
        QChartView *view;
        QDateTimeAxis *x;
        QValueAxis *y;
        std::vector<Line> lines;
        StateBackdrop *backdrop;   // HV-on bands and fault marks
        qint64 fromMs = -1, toMs = -1;   // the time axis as last set
        double yLo = 0, yHi = -1;
    };
    void addPlot(const QString &unit, std::initializer_list<std::pair<logs::TrendSeries, QString>> lines,
                 bool timeLabels);
    QLineSeries *piece(Plot &plot, Line &line, int index);
    void draw(Plot &plot, qint64 fromMs, qint64 toMs);
    // Full-rate points for up to an hour, the 10 s buckets' low and high beyond.
    QList<logs::TrendPoint> pointsFor(logs::TrendSeries series, qint64 fromMs, qint64 toMs) const;
    void zoomed(const Plot &from);
    void alignPlots();
    void drawNow();
    void showState();

    const logs::TrendStore &m_store;
    std::function<QString()> m_describe;
    QWidget *m_plotArea;
    std::vector<Plot> m_plots;
    int m_spanMinutes = 10;
    qint64 m_axisSpanMs = 0;
    qint64 m_axisEndMs = 0;
    bool m_paused = false;
    bool m_drawing = false;
    qint64 m_drawnLatestMs = -1, m_drawnSpanMs = -1;   // what the last drawing showed
    QTimer *m_catchUp;                                  // draws what refresh() held back
    bool m_alignDue = true;   // a value axis or the size changed: line the plots up again
};

} // namespace plv
