// Costs of the logs: a simulated week of samples into the trend store, a traffic log
// filled to its 100,000 rows and turning, the event log and the recording. Prints one
// table; runs with temporary XDG folders so nothing lands in the user's home.
#include "bench/benchutil.h"
#include "logs/eventlog.h"
#include "logs/sample.h"
#include "logs/trafficmodel.h"
#include "logs/trendstore.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>

using namespace plv::logs;

namespace {

using bench::rssKiB;

// User plus system time of every thread of this process (the writer threads included).
double cpuMs() { return double(bench::cpuNs()) / 1e6; }

double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

void row(const char *what, const QString &value) { std::printf("%-60s %s\n", what, qPrintable(value)); }

void trendWeek()
{
    constexpr qint64 stepMs = 800;
    constexpr qint64 samples = TrendStore::HistorySpanMs / stepMs;
    const long rss0 = rssKiB();
    TrendStore store;
    qint64 t = QDateTime(QDate(2024, 3, 4), QTime(8, 0)).toMSecsSinceEpoch();   // a fake clock
    QElapsedTimer timer;
    timer.start();
    for (qint64 i = 0; i < samples; ++i, t += stepMs) {
        TrendStore::Values v;
        const bool failed = i % 997 == 0;   // now and then a cycle whose queries failed
        if (!failed) {
            v[0] = 40.0 + 0.5 * std::sin(double(i) / 500.0);
            v[1] = 1.0 + 0.01 * std::cos(double(i) / 300.0);
            v[2] = 2.2;
        }
        v[3] = 40.0;
        v[4] = 1.0;
        v[5] = 3.0;
        v[6] = 1.5;
        store.add(t, v);
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    const long rss1 = rssKiB();
    row("trend: samples fed (a week at 0.8 s)", QString::number(samples));
    row("trend: time to feed", QStringLiteral("%1 ms (%2 us/sample)").arg(ms, 0, 'f', 1).arg(ms * 1000 / double(samples), 0, 'f', 3));
    row("trend: full-rate points / 10 s buckets held",
        QStringLiteral("%1 / %2").arg(store.pointCount()).arg(store.bucketCount()));
    row("trend: store size", QStringLiteral("%1 MiB").arg(mib(double(store.approxBytes())), 0, 'f', 2));
    row("trend: resident memory added", QStringLiteral("%1 MiB").arg(double(rss1 - rss0) / 1024.0, 0, 'f', 2));
    timer.restart();
    const auto hour = store.recentPoints(TrendSeries::Kv, 60 * 60 * 1000);
    const double hourMs = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    const auto week = store.recentRanges(TrendSeries::Kv, TrendStore::HistorySpanMs);
    const double weekMs = double(timer.nsecsElapsed()) / 1e6;
    row("trend: 60 min query (points, ms)", QStringLiteral("%1 (%2 ms)").arg(hour.size()).arg(hourMs, 0, 'f', 2));
    row("trend: 7 day query (ranges, ms)", QStringLiteral("%1 (%2 ms)").arg(week.size()).arg(weekMs, 0, 'f', 2));
}

void trafficLog()
{
    const long rss0 = rssKiB();
    TrafficLog log;
    log.setDecoder({[](Direction d, const QString &, const QByteArray &) {
                        return d == Direction::Rx ? QStringLiteral("HV off, interlock closed, no fault, local")
                                                  : QStringLiteral("status request");
                    },
                    [](const QString &, const QByteArray &) { return ChecksumVerdict::Ok; }});
    TrafficLogModel model(&log);
    TrafficFilterModel filter(&model);
    filter.setDirections(directionBit(Direction::Rx));
    const QByteArray tx("\x02" "22,p\x03");
    const QByteArray rx("\x02" "22,0,1,0,0,H\x03");
    const QString link = QStringLiteral("COMM1");

    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < TrafficLog::DefaultCapacity; ++i)
        log.record(i % 2 ? Direction::Rx : Direction::Tx, link, i % 2 ? rx : tx);
    const double fillMs = double(timer.nsecsElapsed()) / 1e6;
    const long rss1 = rssKiB();
    timer.restart();
    for (int i = 0; i < TrafficLog::DefaultCapacity; ++i)
        log.record(i % 2 ? Direction::Rx : Direction::Tx, link, i % 2 ? rx : tx);
    const double turnMs = double(timer.nsecsElapsed()) / 1e6;
    const long rss2 = rssKiB();

    row("traffic: rows held / model rows / filtered rows",
        QStringLiteral("%1 / %2 / %3").arg(log.size()).arg(model.rowCount()).arg(filter.rowCount()));
    row("traffic: fill 100,000 rows (model and filter attached)",
        QStringLiteral("%1 ms (%2 us/row)").arg(fillMs, 0, 'f', 1).arg(fillMs * 10 / 1000, 0, 'f', 2));
    row("traffic: 100,000 more while the ring turns",
        QStringLiteral("%1 ms (%2 us/row)").arg(turnMs, 0, 'f', 1).arg(turnMs * 10 / 1000, 0, 'f', 2));
    row("traffic: store size (estimate, 32 B allocator overhead a row)", QStringLiteral("%1 MiB").arg(mib(double(log.approxBytes())), 0, 'f', 2));
    row("traffic: resident memory added, full ring", QStringLiteral("%1 MiB").arg(double(rss1 - rss0) / 1024.0, 0, 'f', 2));
    row("traffic: resident memory change while turning", QStringLiteral("%1 MiB").arg(double(rss2 - rss1) / 1024.0, 0, 'f', 2));

    // What one screenful costs: 40 rows of every column, as a view would ask.
    timer.restart();
    qsizetype chars = 0;
    for (int r = 0; r < 40; ++r)
        for (int c = 0; c < TrafficLogModel::ColumnCount; ++c)
            chars += model.index(model.rowCount() - 1 - r, c).data().toString().size();
    row("traffic: one 40-row screen rendered", QStringLiteral("%1 us").arg(double(timer.nsecsElapsed()) / 1e3, 0, 'f', 0));
    timer.restart();
    filter.setText(QStringLiteral("interlock closed"));
    row("traffic: text filter over 100,000 rows",
        QStringLiteral("%1 ms (%2 rows)").arg(double(timer.nsecsElapsed()) / 1e6, 0, 'f', 1).arg(filter.rowCount()));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    timer.restart();
    log.write(buffer, TrafficLog::Format::Csv);
    row("traffic: save 100,000 rows as CSV",
        QStringLiteral("%1 ms (%2 MiB)").arg(double(timer.nsecsElapsed()) / 1e6, 0, 'f', 1).arg(mib(double(buffer.size())), 0, 'f', 1));
    Q_UNUSED(chars);
}

void eventsAndRecording()
{
    EventLog events;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 10000; ++i)
        events.log(EventCategory::Operator, QStringLiteral("kV setpoint programmed: %1 kV (rating 60 kV)").arg(i));
    const double queuedUs = double(timer.nsecsElapsed()) / 1e3 / 10000;
    events.waitForWritten(30000);
    row("events: 10,000 lines, caller's cost per event", QStringLiteral("%1 us").arg(queuedUs, 0, 'f', 2));
    row("events: 10,000 lines on disk after", QStringLiteral("%1 ms").arg(double(timer.nsecsElapsed()) / 1e6, 0, 'f', 1));

    QTemporaryDir dir;
    SampleRecorder recorder;
    recorder.start(dir.filePath(QStringLiteral("run.csv")));
    Sample s{};
    s.kV = 40.125;
    s.mA = 1.5;
    s.filamentA = 2.2;
    s.supplyMinus15V = -15.02;
    s.converterA = 2048;
    s.converterB = 1024;
    s.kVSetpoint = 40;
    s.mASetpoint = 1.5;
    s.filamentLimitA = 3;
    s.filamentPreheatA = 1.5;
    s.rating = QStringLiteral("60 kV");
    s.hvOn = s.interlockClosed = true;
    s.fault = s.remote = s.arc = s.overTemperature = s.overVoltage = s.underVoltage = s.overCurrent = s.underCurrent = false;
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    timer.restart();
    for (int i = 0; i < 10000; ++i) {
        s.time = QDateTime::fromMSecsSinceEpoch(t0 + i * 800, Qt::UTC);
        recorder.record(s);
    }
    const double rowUs = double(timer.nsecsElapsed()) / 1e3 / 10000;
    recorder.waitForWritten(30000);
    row("recording: 10,000 rows, caller's cost per row", QStringLiteral("%1 us").arg(rowUs, 0, 'f', 2));
    row("recording: 10,000 rows on disk after", QStringLiteral("%1 ms").arg(double(timer.nsecsElapsed()) / 1e6, 0, 'f', 1));
}

// Everything the logs do for one update cycle, with the traffic log's models attached:
// 14 queries (28 frames) logged and decoded, one sample recorded and trended.
void perCycle()
{
    constexpr int cycles = 20000;
    constexpr int queries = 14;
    QTemporaryDir dir;
    TrafficLog log;
    log.setDecoder({[](Direction, const QString &, const QByteArray &) { return QStringLiteral("HV off, interlock closed"); },
                    [](const QString &, const QByteArray &) { return ChecksumVerdict::Ok; }});
    TrafficLogModel model(&log);
    TrafficFilterModel filter(&model);
    filter.setText(QStringLiteral("interlock"));
    SampleRecorder recorder;
    recorder.start(dir.filePath(QStringLiteral("cycles.csv")));
    TrendStore trends;
    Sample s{};
    s.kV = 40.125;
    s.mA = 1.5;
    s.filamentA = 2.2;
    s.kVSetpoint = 40;
    s.hvOn = true;
    const QByteArray tx("\x02" "22,p\x03");
    const QByteArray rx("\x02" "22,0,1,0,0,H\x03");
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch();
    const double cpu0 = cpuMs();
    for (int c = 0; c < cycles; ++c) {
        for (int q = 0; q < queries; ++q) {
            log.record(Direction::Tx, QStringLiteral("COMM1"), tx);
            log.record(Direction::Rx, QStringLiteral("COMM1"), rx);
        }
        s.time = QDateTime::fromMSecsSinceEpoch(t0 + c * 800, Qt::UTC);
        recorder.record(s);
        trends.add(s);
    }
    recorder.waitForWritten(60000);
    const double perCycleUs = (cpuMs() - cpu0) * 1e3 / cycles;
    row("cycle: CPU per update cycle (28 frames, 1 sample)", QStringLiteral("%1 us").arg(perCycleUs, 0, 'f', 1));
    row("cycle: CPU share at one cycle per 0.8 s",
        QStringLiteral("%1 percentage points").arg(perCycleUs / 800000.0 * 100.0, 0, 'f', 4));
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    QCoreApplication app(argc, argv);
    std::printf("%-60s %s\n", "measure", "value");
    trendWeek();
    trafficLog();
    eventsAndRecording();
    perCycle();
    std::printf("=== end of table\n");
    return 0;
}
