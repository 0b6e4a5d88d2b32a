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
    Sample s;
    s.time = utc("2024-07-01T08:15:30.125Z");
    s.kV = 40.1;
    s.mA = 1.25;
    s.filamentA = 2.2;
    s.supplyMinus15V = -15.02;
    s.converterA = 2730;
    s.converterB = 512;
    s.kVSetpoint = 40;
    s.mASetpoint = 1.25;
    s.filamentLimitA = 3.5;
    s.filamentPreheatA = 1.5;
    s.rating = QStringLiteral("60 kV, 2 mA");
    s.hvOn = true;
    s.interlockClosed = true;
    s.fault = false;
    s.remote = false;
    s.arc = false;
    s.overTemperature = true;
    s.overVoltage = s.underVoltage = s.overCurrent = s.underCurrent = false;
    return s;
}

const QString KnownRow = QStringLiteral(
    "2024-07-01T10:15:30.125+02:00,40.1,1.25,2.2,-15.02,2730,512,40,1.25,3.5,1.5,\"60 kV, 2 mA\",1,1,0,0,0,1,0,0,0,0");

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
        QTest::newRow("the hour that repeats in autumn, second time")
            << CET << utc("2024-10-27T01:30:00Z") << "2024-10-27T02:30:00.000+01:00";
        QTest::newRow("local date before UTC's") << CET << utc("2024-12-31T23:30:00Z") << "2025-01-01T00:30:00.000+01:00";
        // Half an hour ahead of a whole-hour zone, with a half-hour clock change.
        const QByteArray halfHour = "LHST-10:30LHDT-11,M10.1.0,M4.1.0";
        QTest::newRow("a half-hour offset") << halfHour << utc("2024-07-01T00:00:00Z") << "2024-07-01T10:30:00.000+10:30";
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
        const QDate day = localDate(time.toMSecsSinceEpoch());
        qputenv("TZ", CET);
        tzset();
        QCOMPARE(got, text);
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

    void missingValuesAreEmpty_data()
    {
        QTest::addColumn<int>("column");
        QTest::newRow("kV query failed") << 1;
        QTest::newRow("converter channel failed") << 5;
        QTest::newRow("setpoint readback failed") << 9;
        QTest::newRow("rating unknown") << 11;
        QTest::newRow("status query failed") << 12;
        QTest::newRow("fault flags failed") << 21;
    }
    void missingValuesAreEmpty()
    {
        QFETCH(int, column);
        Sample s = known();
        switch (column) {
        case 1: s.kV.reset(); break;
        case 5: s.converterA.reset(); break;
        case 9: s.filamentLimitA.reset(); break;
        case 11: s.rating.reset(); break;
        case 12: s.hvOn.reset(); break;
        case 21: s.underCurrent.reset(); break;
        }
        // The rating's quoted comma aside, fields split on commas.
        const QStringList fields = sampleCsvRow(s).replace("\"60 kV, 2 mA\"", "R").split(',');
        const QStringList full = QString(KnownRow).replace("\"60 kV, 2 mA\"", "R").split(',');
        QCOMPARE(fields.size(), SampleCsvColumns);
        for (int i = 0; i < SampleCsvColumns; ++i)
            QCOMPARE(fields[i], i == column ? QString() : full[i]);
    }

    void headerMatchesRow()
    {
        const QStringList header = sampleCsvHeader().split(',');
        QCOMPARE(header.size(), SampleCsvColumns);
        QCOMPARE(header.mid(0, 5), (QStringList{"time_iso8601", "kv_kV", "ma_mA", "filament_A", "supply_minus15_V"}));
        QCOMPARE(header[7], QStringLiteral("kv_set_kV"));
        QCOMPARE(header[11], QStringLiteral("rating"));
        QCOMPARE(header[21], QStringLiteral("under_current_flag"));
    }

    // A new file gets the header; a second run appends to it without another one.
    void recorderAppends()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("run.csv");
        const QByteArray header = sampleCsvHeader().toUtf8() + "\r\n";
        const QByteArray row = KnownRow.toUtf8() + "\r\n";
        {
            SampleRecorder rec;
            QSignalSpy changed(&rec, &SampleRecorder::recordingChanged);
            QVERIFY(rec.start(path));
            rec.record(known());
            rec.record(known());
            QVERIFY(rec.waitForWritten(5000));
            // Still recording, as a killed console would leave it: every row complete.
            QCOMPARE(readAll(path), header + row + row);
            rec.stop();
            QCOMPARE(changed.count(), 2);
            rec.record(known());   // not recording: ignored
            QVERIFY(rec.waitForWritten(5000));
        }
        SampleRecorder again;
        QVERIFY(again.start(path));
        again.record(known());
        QVERIFY(again.waitForWritten(5000));
        QCOMPARE(readAll(path), header + row + row + row);
    }

    void recorderOnAnEmptyFileWritesTheHeader()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("empty.csv");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        SampleRecorder rec;
        QVERIFY(rec.start(path));
        QVERIFY(rec.waitForWritten(5000));
        QCOMPARE(readAll(path), sampleCsvHeader().toUtf8() + "\r\n");
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
