// The event log: its lines, the file per local day and its roll-over at midnight, the
// XDG folder, a failing disk said once, and the bounded copy kept for the window.
#include "logs/eventlog.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace plv::logs;

namespace {

QDateTime utc(const char *iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs); }

QStringList readLines(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts) : QStringList();
}

} // namespace

class TstEventLog : public QObject {
    Q_OBJECT
private slots:
    void line_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");
        QTest::newRow("summer time carries +02:00") << utc("2024-07-01T00:30:00.250Z") << int(EventCategory::Operator)
                                                    << "HV ON requested" << "2024-07-01T02:30:00.250+02:00 operator HV ON requested";
        QTest::newRow("line breaks and tabs become spaces")
            << utc("2024-01-15T12:00:00Z") << int(EventCategory::Link) << "lost\r\nagain\ttoo"
            << "2024-01-15T13:00:00.000+01:00 link lost  again too";
    }
    void line()
    {
        QFETCH(QDateTime, time);
        QFETCH(int, category);
        QFETCH(QString, text);
        QFETCH(QString, line);
        QTemporaryDir dir;
        EventLog log(dir.path());
        log.logAt(time, EventCategory(category), text);
        QVERIFY(log.waitForWritten(5000));
        QCOMPARE(readLines(dir.path() + "/events-" + line.left(10) + ".log"), QStringList{line});
    }

    // The file is the event's local day, decided per event.
    void dailyRollOver_data()
    {
        QTest::addColumn<QDateTime>("before");
        QTest::addColumn<QDateTime>("after");
        QTest::addColumn<QStringList>("days");   // the file of each
        QTest::newRow("local midnight starts a file") << utc("2024-07-01T21:59:59.999Z") << utc("2024-07-01T22:00:00Z")
                                                      << QStringList{"2024-07-01", "2024-07-02"};
        QTest::newRow("UTC midnight does not") << utc("2024-07-01T23:59:59.999Z") << utc("2024-07-02T00:00:00Z")
                                               << QStringList{"2024-07-02", "2024-07-02"};
        QTest::newRow("the night clocks go forward") << utc("2024-03-30T22:59:59.999Z") << utc("2024-03-30T23:00:00Z")
                                                     << QStringList{"2024-03-30", "2024-03-31"};
    }
    void dailyRollOver()
    {
        QFETCH(QDateTime, before);
        QFETCH(QDateTime, after);
        QFETCH(QStringList, days);
        QTemporaryDir dir;
        EventLog log(dir.path() + "/not/yet/made");
        log.logAt(before, EventCategory::Unit, "before");
        log.logAt(after, EventCategory::Unit, "after");
        QVERIFY(log.waitForWritten(5000));
        QStringList got;
        for (const QString &day : days) {
            for (const QString &line : readLines(log.folder() + "/events-" + day + ".log"))
                got.append(day + ' ' + line.section(' ', 2));
        }
        got.removeDuplicates();   // both in one file: read twice
        QCOMPARE(got, (QStringList{days[0] + " before", days[1] + " after"}));
    }

    // A second run appends to the day's file, after a line a crash cut short.
    void appendsToTheDaysFile()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + "/events-2024-07-01.log";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("2024-07-01T12:00:00.000+02:00 unit HV o");
        f.close();
        EventLog log(dir.path());
        log.logAt(utc("2024-07-01T10:00:00Z"), EventCategory::Console, "started");
        QVERIFY(log.waitForWritten(5000));
        QCOMPARE(readLines(path).value(1), QStringLiteral("2024-07-01T12:00:00.000+02:00 console started"));
    }

    // A restarted console reads the day back: the newest events up to its bound, times and
    // categories as written, a line that is no event's skipped.
    void aRestartReadsTheDayBack()
    {
        QTemporaryDir dir;
        const QDate day(2024, 7, 1);
        {
            EventLog first(dir.path());
            for (int i = 0; i < 5; ++i)
                first.logAt(utc("2024-07-01T10:00:00.125Z").addSecs(i), i % 2 ? EventCategory::Unit : EventCategory::Link,
                            QStringLiteral("event %1").arg(i));
            QVERIFY(first.waitForWritten(5000));
        }
        QFile f(dir.path() + "/events-2024-07-01.log");
        QVERIFY(f.open(QIODevice::Append));
        f.write("not an event line\n");
        f.close();

        EventLog again(dir.path());
        again.setMemoryCapacity(3);
        QCOMPARE(again.loadDay(day), 3);
        QCOMPARE(again.at(0).text, QStringLiteral("event 2"));
        QCOMPARE(again.at(2).text, QStringLiteral("event 4"));
        QCOMPARE(again.at(1).category, EventCategory::Unit);
        QCOMPARE(again.at(1).time, utc("2024-07-01T10:00:03.125Z"));
        QCOMPARE(again.loadDay(day), 0);   // not twice
        QCOMPARE(EventLog(dir.path()).loadDay(day.addDays(1)), 0);
    }

    void defaultFolder_data()
    {
        QTest::addColumn<QByteArray>("xdg");
        QTest::addColumn<QString>("folder");
        QTest::newRow("from XDG_STATE_HOME") << QByteArray("/var/tmp/state") << "/var/tmp/state/plv-console";
        QTest::newRow("unset falls back to ~/.local/state") << QByteArray() << QDir::homePath() + "/.local/state/plv-console";
        QTest::newRow("a relative path is ignored") << QByteArray("state") << QDir::homePath() + "/.local/state/plv-console";
    }
    void defaultFolder()
    {
        QFETCH(QByteArray, xdg);
        QFETCH(QString, folder);
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        xdg.isEmpty() ? qunsetenv("XDG_STATE_HOME") : qputenv("XDG_STATE_HOME", xdg);
        const QString got = EventLog::defaultFolder();
        qputenv("XDG_STATE_HOME", saved);
        QCOMPARE(got, folder);
    }

    // A file stands where the folder should be: said once, not per event, and again
    // only after a line got through in between. Events stay in memory all along.
    void writeFailureSaidOnce()
    {
        QTemporaryDir dir;
        const QString blocker = dir.path() + "/state";
        const auto block = [&] {
            QFile f(blocker);
            return f.open(QIODevice::WriteOnly);
        };
        QVERIFY(block());
        EventLog log(blocker + "/plv-console");
        QSignalSpy failed(&log, &EventLog::writeFailed);
        QSignalSpy recovered(&log, &EventLog::writeRecovered);
        log.log(EventCategory::Operator, "HV ON requested");
        QVERIFY(failed.wait(5000));
        QVERIFY(log.isWriteFailing());
        log.log(EventCategory::Operator, "HV ON requested");
        QVERIFY(log.waitForWritten(5000));
        QCoreApplication::processEvents();   // whatever the writer posted arrives now
        QCOMPARE(failed.count(), 1);

        QVERIFY(QFile::remove(blocker));
        log.log(EventCategory::Operator, "HV OFF requested");
        QVERIFY(recovered.wait(5000));
        QVERIFY(!log.isWriteFailing());

        QVERIFY(QDir(blocker).removeRecursively() && block());
        log.log(EventCategory::Operator, "HV OFF requested");
        QVERIFY(failed.wait(5000));
        QCOMPARE(log.count(), 4);
    }

    void filter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("category");   // -1: any
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("nothing set shows all") << "" << -1 << QStringList{"HV ON requested", "HV on", "link lost", "HV OFF requested"};
        QTest::newRow("a word, any case") << "hv o" << -1 << QStringList{"HV ON requested", "HV on", "HV OFF requested"};
        QTest::newRow("a category") << "" << int(EventCategory::Operator) << QStringList{"HV ON requested", "HV OFF requested"};
        QTest::newRow("both") << "off" << int(EventCategory::Operator) << QStringList{"HV OFF requested"};
        QTest::newRow("no match") << "interlock" << int(EventCategory::Unit) << QStringList{};
    }
    void filter()
    {
        QFETCH(QString, text);
        QFETCH(int, category);
        QFETCH(QStringList, shown);
        QTemporaryDir dir;
        EventLog log(dir.path());
        EventLogModel model(&log);
        EventFilterModel filter(&model);
        QAbstractItemModelTester tester(&filter);
        log.log(EventCategory::Operator, "HV ON requested");
        filter.setText(text);
        filter.setCategory(category < 0 ? std::nullopt : std::optional(EventCategory(category)));
        // Events arriving after the filter was set are filtered too.
        log.log(EventCategory::Unit, "HV on");
        log.log(EventCategory::Link, "link lost");
        log.log(EventCategory::Operator, "HV OFF requested");
        QStringList got;
        for (int r = 0; r < filter.rowCount(); ++r)
            got << filter.index(r, EventLogModel::TextColumn).data().toString();
        QCOMPARE(got, shown);
    }

    void memoryIsBounded()
    {
        QTemporaryDir dir;
        EventLog log(dir.path());
        EventLogModel model(&log);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        log.setMemoryCapacity(3);
        for (int i = 0; i < 5; ++i)
            log.log(EventCategory::Unit, QString::number(i));
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.index(0, EventLogModel::TextColumn).data().toString(), QStringLiteral("2"));
        log.setMemoryCapacity(1);
        QCOMPARE(model.index(0, EventLogModel::TextColumn).data().toString(), QStringLiteral("4"));
        QVERIFY(log.waitForWritten(5000));
        QCOMPARE(readLines(log.filePath(log.at(0).time.toLocalTime().date())).size(), 5);   // the file keeps all
    }
};

int main(int argc, char **argv)
{
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");   // +01:00 in winter, +02:00 in summer
    QCoreApplication app(argc, argv);
    TstEventLog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_eventlog.moc"
