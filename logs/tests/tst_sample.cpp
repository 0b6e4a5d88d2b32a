// Samples as CSV: ISO 8601 stamps with the UTC offset, the header against a row of known
// readbacks, empty fields for failed queries, the locale, and the recorder's file.
#include "logs/sample.h"

#include "logs/formatting.h"

#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using namespace plv::logs;

namespace {

const QByteArray CET = "CET-1CEST,M3.5.0,M10.5.0/3";   // +01:00 in winter, +02:00 in summer

QDateTime utc(const char *iso) { return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs); }

Sample known()
{
    return {utc("2024-07-01T08:15:30.125Z"), 40.1, 1.25, 2.2, -15.02, 2730, 512, 40, 1.25, 3.5, 1.5,
            QStringLiteral("60 kV, 2 mA"), true, true, false, false, false, true, false, false, false, false};
}

const QString KnownRow = QStringLiteral(
    "2024-07-01T10:15:30.125+02:00,2024-07-01 10:15:30.125,40.1,1.25,2.2,-15.02,2730,512,40,1.25,3.5,1.5,\"60 kV, 2 mA\",1,1,0,0,0,1,0,0,0,0");

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TstSample : public QObject {
    Q_OBJECT
private slots:
    void isoTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("winter, +01:00") << CET << utc("2024-01-15T12:00:00Z") << "2024-01-15T13:00:00.000+01:00";
        QTest::newRow("summer, +02:00") << CET << utc("2024-07-01T00:30:00.250Z") << "2024-07-01T02:30:00.250+02:00";
        QTest::newRow("last millisecond before clocks go forward")
            << CET << utc("2024-03-31T00:59:59.999Z") << "2024-03-31T01:59:59.999+01:00";
        QTest::newRow("first millisecond after") << CET << utc("2024-03-31T01:00:00.000Z") << "2024-03-31T03:00:00.000+02:00";
        QTest::newRow("local date before UTC's") << CET << utc("2024-12-31T23:30:00Z") << "2025-01-01T00:30:00.000+01:00";
        // Half an hour ahead of a whole-hour zone, with a half-hour clock change.
        const QByteArray halfHour = "LHST-10:30LHDT-11,M10.1.0,M4.1.0";
        QTest::newRow("a change at half past a UTC hour")
            << halfHour << utc("2024-10-05T15:30:00Z") << "2024-10-06T02:30:00.000+11:00";
        QTest::newRow("west of Greenwich") << QByteArray("EST5EDT,M3.2.0,M11.1.0") << utc("2024-01-15T03:00:00Z")
                                           << "2024-01-14T22:00:00.000-05:00";
    }
    void isoTime()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QDateTime, time);
        QFETCH(QString, text);
        qputenv("TZ", zone);
        tzset();
        const QString got = plv::logs::isoTime(time);
        const QString sheet = spreadsheetTime(time.toMSecsSinceEpoch());
        const QDate day = localDate(time.toMSecsSinceEpoch());
        qputenv("TZ", CET);
        tzset();
        QCOMPARE(got, text);
        QCOMPARE(sheet, text.left(23).replace(QLatin1Char('T'), QLatin1Char(' ')));
        QCOMPARE(day, QDate::fromString(text.left(10), Qt::ISODate));
    }

    void row_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("row");
        QTest::newRow("known readbacks") << "C" << KnownRow;
        QTest::newRow("a decimal comma locale still writes points") << "de_DE" << KnownRow;
    }
    void row()
    {
        QFETCH(QString, locale);
        QFETCH(QString, row);
        const QLocale saved;
        QLocale::setDefault(QLocale(locale));
        const QString got = sampleCsvRow(known());
        QLocale::setDefault(saved);
        QCOMPARE(got, row);
    }

    // Every query failed: the time, then an empty field for each of the other columns.
    void missingValuesAreEmpty()
    {
        Sample s;
        s.time = utc("2024-07-01T08:15:30.125Z");
        const QString times = QStringLiteral("2024-07-01T10:15:30.125+02:00,2024-07-01 10:15:30.125");
        QCOMPARE(sampleCsvRow(s), times + QString(SampleCsvColumns - 2, ','));
        s.kV = qQNaN();   // a value that cannot be shown is no value either
        QCOMPARE(sampleCsvRow(s), times + QString(SampleCsvColumns - 2, ','));
    }

    void headerNamesUnits()
    {
        const QStringList header = sampleCsvHeader().split(',');
        QCOMPARE(header.size(), SampleCsvColumns);
        QCOMPARE(header.mid(0, 6),
                 (QStringList{"time_iso8601", "local_time", "kv_kV", "ma_mA", "filament_A", "supply_minus15_V"}));
        QCOMPARE(header.mid(8, 4), (QStringList{"kv_set_kV", "ma_set_mA", "filament_limit_A", "filament_preheat_A"}));
    }

    void recorder_data()
    {
        QTest::addColumn<QByteArray>("before");   // the file's content; "-" for no file
        QTest::addColumn<QByteArray>("numbered");   // run-1.csv's content; "-" for no file
        QTest::addColumn<QString>("taker");      // the file that gets the rows
        QTest::addColumn<bool>("header");
        const QByteArray ours = sampleCsvHeader().toUtf8() + "\r\n";
        const QByteArray older = "time_iso8601,kv_kV,ma_mA\r\n2024-01-01T00:00:00.000+01:00,1,2\r\n";
        QTest::newRow("a new file gets the header") << QByteArray("-") << QByteArray("-") << "run.csv" << true;
        QTest::newRow("an empty file gets the header") << QByteArray() << QByteArray("-") << "run.csv" << true;
        QTest::newRow("a file with rows gets only rows") << ours << QByteArray("-") << "run.csv" << false;
        QTest::newRow("other columns: a numbered file instead") << older << QByteArray("-") << "run-1.csv" << true;
        QTest::newRow("other columns: the numbered file with ours is added to")
            << older << ours << "run-1.csv" << false;
        QTest::newRow("other columns twice: the next number") << older << older << "run-2.csv" << true;
    }
    void recorder()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, numbered);
        QFETCH(QString, taker);
        QFETCH(bool, header);
        QTemporaryDir dir;
        const QString path = dir.filePath("run.csv");
        const QString takerPath = dir.filePath(taker);
        for (const auto &[name, content] : {std::pair{path, before}, std::pair{dir.filePath("run-1.csv"), numbered}}) {
            QFile f(name);
            if (content != "-")
                QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
        }
        const QByteArray untouched = readAll(takerPath);
        const QByteArray expected = untouched + (header ? sampleCsvHeader().toUtf8() + "\r\n" : QByteArray())
                                    + KnownRow.toUtf8() + "\r\n" + KnownRow.toUtf8() + "\r\n";
        SampleRecorder rec;
        QSignalSpy changed(&rec, &SampleRecorder::recordingChanged);
        QVERIFY(rec.start(path));
        QCOMPARE(rec.path(), takerPath);
        rec.record(known());
        rec.record(known());
        QVERIFY(rec.waitForWritten(5000));
        QCOMPARE(readAll(takerPath), expected);   // still recording, as a killed console leaves it
        if (takerPath != path)
            QCOMPARE(readAll(path), before);
        rec.stop();
        rec.record(known());   // ignored
        QVERIFY(rec.waitForWritten(5000));
        QCOMPARE(readAll(takerPath), expected);
        QCOMPARE(changed.count(), 2);
    }

    void recorderFailures()
    {
        QTemporaryDir dir;
        SampleRecorder rec;
        QVERIFY(!rec.start(dir.filePath("no/such/folder/run.csv")));
        QVERIFY(!rec.errorString().isEmpty());
        QVERIFY(!rec.isRecording());

        QSignalSpy failed(&rec, &SampleRecorder::writeFailed);
        QVERIFY(rec.start("/dev/full"));   // opens fine; the disk is full
        rec.record(known());
        QVERIFY(failed.wait(5000));
        rec.record(known());
        QVERIFY(rec.waitForWritten(5000));
        QCoreApplication::processEvents();
        QCOMPARE(failed.count(), 1);
    }
};

int main(int argc, char **argv)
{
    qputenv("TZ", CET);
    QCoreApplication app(argc, argv);
    TstSample test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_sample.moc"
