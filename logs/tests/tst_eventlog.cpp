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

// Central European time: one hour east of UTC in winter, two in summer.
constexpr char Zone[] = "CET-1CEST,M3.5.0,M10.5.0/3";

QDateTime utc(const char *iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs); }

QStringList readLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
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
        QTest::newRow("winter time carries +01:00") << utc("2024-01-15T12:00:00Z") << int(EventCategory::Unit)
                                                    << "interlock open" << "2024-01-15T13:00:00.000+01:00 unit interlock open";
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
        QCOMPARE(readLines(log.filePath(QDate::fromString(line.left(10), Qt::ISODate))), QStringList{line});
        QCOMPARE(EventLog::formatLine(log.at(0)), line);
    }

    // The day of the file is the event's local day, decided per event.
    void dailyRollOver_data()
    {
        QTest::addColumn<QDateTime>("before");
        QTest::addColumn<QDateTime>("after");
        QTest::addColumn<QString>("dayBefore");
        QTest::addColumn<QString>("dayAfter");
        QTest::newRow("local midnight, not UTC midnight")
            << utc("2024-07-01T21:59:59.999Z") << utc("2024-07-01T22:00:00.000Z") << "2024-07-01" << "2024-07-02";
        QTest::newRow("UTC midnight is mid-day-file") << utc("2024-07-01T23:59:59.999Z") << utc("2024-07-02T00:00:00.000Z")
                                                      << "2024-07-02" << "2024-07-02";
        QTest::newRow("the night clocks go forward")
            << utc("2024-03-30T22:59:59.999Z") << utc("2024-03-30T23:00:00.000Z") << "2024-03-30" << "2024-03-31";
    }
    void dailyRollOver()
    {
        QFETCH(QDateTime, before);
        QFETCH(QDateTime, after);
        QFETCH(QString, dayBefore);
        QFETCH(QString, dayAfter);
        QTemporaryDir dir;
        EventLog log(dir.path() + "/not/yet/made");
        log.logAt(before, EventCategory::Unit, "first");
        log.logAt(after, EventCategory::Unit, "second");
        QVERIFY(log.waitForWritten(5000));
        const QString fileBefore = log.folder() + "/events-" + dayBefore + ".log";
        const QString fileAfter = log.folder() + "/events-" + dayAfter + ".log";
        const QStringList before1 = readLines(fileBefore);
        const QStringList after1 = readLines(fileAfter);
        if (dayBefore == dayAfter) {
            QCOMPARE(before1.size(), 2);
        } else {
            QCOMPARE(before1.size(), 1);
            QVERIFY(before1[0].endsWith("first"));
            QCOMPARE(after1.size(), 1);
            QVERIFY(after1[0].endsWith("second"));
        }
    }

    void appendsToTheDaysFile()
    {
        QTemporaryDir dir;
        const QDateTime t = utc("2024-07-01T10:00:00Z");
        {
            EventLog first(dir.path());
            first.logAt(t, EventCategory::Console, "started");
            QVERIFY(first.waitForWritten(5000));
        }
        // A line cut short by a crash, then a second run on the same day.
        const QString path = dir.path() + "/events-2024-07-01.log";
        QFile f(path);
        QVERIFY(f.open(QIODevice::Append));
        f.write("2024-07-01T12:00:00.000+02:00 unit HV o");
        f.close();
        EventLog second(dir.path());
        second.logAt(t, EventCategory::Console, "started again");
        QVERIFY(second.waitForWritten(5000));
        const QStringList lines = readLines(path);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[2].endsWith("console started again"));
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
        if (xdg.isEmpty())
            qunsetenv("XDG_STATE_HOME");
        else
            qputenv("XDG_STATE_HOME", xdg);
        const QString got = EventLog::defaultFolder();
        qputenv("XDG_STATE_HOME", saved);
        QCOMPARE(got, folder);
    }

    // The folder cannot be made (a file stands in its way): said once, not for every
    // event, and said again only after a line got through in between.
    void writeFailureSaidOnce()
    {
        QTemporaryDir dir;
        const QString blocker = dir.path() + "/state";
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        EventLog log(blocker + "/plv-console");
        QSignalSpy failed(&log, &EventLog::writeFailed);
        QSignalSpy recovered(&log, &EventLog::writeRecovered);
        log.log(EventCategory::Operator, "HV ON requested");
        QVERIFY(failed.wait(5000));
        QVERIFY(log.isWriteFailing());
        QVERIFY(!log.lastWriteError().isEmpty());
        log.log(EventCategory::Operator, "HV ON requested");
        QVERIFY(log.waitForWritten(5000));
        QCoreApplication::processEvents();   // whatever the writer posted is delivered now
        QCOMPARE(failed.count(), 1);
        QCOMPARE(log.count(), 2);   // kept in memory all the same

        QVERIFY(QFile::remove(blocker));
        log.log(EventCategory::Operator, "HV OFF requested");
        QVERIFY(recovered.wait(5000));
        QVERIFY(!log.isWriteFailing());

        QVERIFY(QDir(blocker).removeRecursively());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        log.log(EventCategory::Operator, "HV OFF requested");
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.count(), 2);
    }

    void diskFull()
    {
        LineWriter writer;
        QSignalSpy failed(&writer, &LineWriter::failed);
        writer.append("/dev/full", "a line\n");
        QVERIFY(failed.wait(5000));
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("/dev/full"));
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
        QCOMPARE(log.count(), 3);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.index(0, EventLogModel::TextColumn).data().toString(), QStringLiteral("2"));
        QCOMPARE(model.index(2, EventLogModel::TextColumn).data().toString(), QStringLiteral("4"));
        log.setMemoryCapacity(1);
        QCOMPARE(model.rowCount(), 1);
        QVERIFY(log.waitForWritten(5000));
        QCOMPARE(readLines(log.filePath(log.at(0).time.toLocalTime().date())).size(), 5);   // the file keeps all
    }
};

int main(int argc, char **argv)
{
    qputenv("TZ", Zone);
    QCoreApplication app(argc, argv);
    TstEventLog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_eventlog.moc"
