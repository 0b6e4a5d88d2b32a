// The traffic log: frame text, command numbers, the ring's bounds and order, decoding
// through the caller's hooks, the models following the ring, pause, filter, copy, save.
#include "logs/trafficmodel.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QTest>

using namespace plv::logs;
using Tester = QAbstractItemModelTester;

namespace {

QByteArray frameOf(const QByteArray &payload) { return '\x02' + payload + '\x03'; }

// Rows whose frames are "0,", "1,", ... so a row's command tells its order.
void fill(TrafficLog &log, int from, int to, Direction d = Direction::Tx)
{
    for (int i = from; i < to; ++i)
        log.recordAt(1000 + i, d, "COMM1", frameOf(QByteArray::number(i) + ','), ChecksumVerdict::NotApplicable, {});
}

QList<int> column(const QAbstractItemModel &m, int role = TrafficLogModel::CommandRole)
{
    QList<int> out;
    for (int r = 0; r < m.rowCount(); ++r)
        out.append(m.index(r, 0).data(role).toInt());
    return out;
}

QList<int> range(int from, int to)
{
    QList<int> out;
    for (int i = from; i < to; ++i)
        out.append(i);
    return out;
}

} // namespace

class TstTrafficLog : public QObject {
    Q_OBJECT
private slots:
    void frameText_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("text");
        QTest::newRow("STX and ETX by name") << QByteArray("\x02" "22,p\x03") << "<STX>22,p<ETX>";
        QTest::newRow("other control bytes, DEL and high bytes as hex") << QByteArray("1\r\x00\x7f\xff", 5)
                                                                       << "1<0d><00><7f><ff>";
        QTest::newRow("a literal bracket cannot pass for a control byte") << QByteArray("<02>") << "<3c>02>";
    }
    void frameText()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, text);
        QCOMPARE(renderFrame(frame), text);
    }

    void command_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("command");
        QTest::newRow("reply with values") << QByteArray("\x02" "14,1234,A\x03") << 14;
        QTest::newRow("digits without a comma") << QByteArray("\x02" "22\x03") << -1;
        QTest::newRow("five digits are no command") << QByteArray("12345,") << -1;
    }
    void command()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, command);
        QCOMPARE(frameCommand(frame), command);
    }

    void ringBoundsAndOrder_data()
    {
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("recorded");
        QTest::newRow("below capacity keeps every row") << 5 << 3;
        QTest::newRow("exactly full keeps every row") << 5 << 5;
        QTest::newRow("one past drops only the oldest") << 5 << 6;
        QTest::newRow("many turns keep the newest in order") << 5 << 23;
        QTest::newRow("a ring of one") << 1 << 4;
    }
    void ringBoundsAndOrder()
    {
        QFETCH(int, capacity);
        QFETCH(int, recorded);
        TrafficLog log(capacity);
        fill(log, 0, recorded);
        const int held = qMin(capacity, recorded);
        QCOMPARE(log.size(), held);
        QCOMPARE(log.firstSeq(), qint64(recorded - held));
        for (qint64 seq = log.firstSeq(); seq < log.endSeq(); ++seq)
            QCOMPARE(log.command(seq), int(seq));
    }

    void decodedThroughHooks_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("meaning");
        QTest::addColumn<int>("verdict");
        QTest::newRow("status reply") << QByteArray("\x02" "22,0,1,0,0,H\x03") << QString()
                                      << "HV off, interlock closed, no fault, local" << int(ChecksumVerdict::Ok);
        QTest::newRow("bad checksum") << QByteArray("\x02" "22,0,1,0,0,X\x03") << QString()
                                      << "HV off, interlock closed, no fault, local" << int(ChecksumVerdict::Bad);
        QTest::newRow("a note overrides the decoder") << QByteArray("\x02" "22,p\x03") << "no reply within 500 ms"
                                                      << "no reply within 500 ms" << int(ChecksumVerdict::Ok);
    }
    void decodedThroughHooks()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QString, note);
        QFETCH(QString, meaning);
        QFETCH(int, verdict);
        TrafficLog log;
        log.setDecoder({[](Direction, const QString &, const QByteArray &f) {
                            return f.startsWith("\x02" "22,0,1,0,0,") ? "HV off, interlock closed, no fault, local" : "?";
                        },
                        [](const QString &, const QByteArray &f) {
                            return f.endsWith("X\x03") ? ChecksumVerdict::Bad : ChecksumVerdict::Ok;
                        }});
        log.record(Direction::Rx, "COMM1", frame, note);
        const TrafficRow row = log.row(0);
        QCOMPARE(row.meaning, meaning);
        QCOMPARE(int(row.checksum), verdict);
        QCOMPARE(row.frame, frame);
    }

    void longInputIsCut()
    {
        TrafficLog log;
        log.recordAt(0, Direction::Discarded, "COMM1", QByteArray(2000, 'x'), ChecksumVerdict::NotApplicable, "noise");
        QCOMPARE(log.frame(0).size(), TrafficLog::MaxFrameBytes);
        QCOMPARE(log.meaning(0), QStringLiteral("(cut from 2000 bytes) noise"));
    }

    // Each removal is announced while the rows still exist; the testers check every
    // signal of both models as the ring turns under them.
    void modelsFollowTheRing()
    {
        TrafficLog log(4);
        TrafficLogModel model(&log);
        TrafficFilterModel filter(&model);
        Tester modelTester(&model, Tester::FailureReportingMode::QtTest);
        Tester filterTester(&filter, Tester::FailureReportingMode::QtTest);
        filter.setDirections(directionBit(Direction::Rx));
        QList<int> leaving;
        connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [&](const QModelIndex &, int first, int last) {
            for (int r = first; r <= last; ++r)
                leaving.append(model.index(r, 0).data(TrafficLogModel::CommandRole).toInt());
        });
        for (int i = 0; i < 10; ++i)
            fill(log, i, i + 1, i % 2 ? Direction::Rx : Direction::Tx);
        QCOMPARE(column(model), range(6, 10));
        QCOMPARE(column(filter), (QList<int>{7, 9}));
        QCOMPARE(leaving, range(0, 6));
    }

    void pause_data()
    {
        QTest::addColumn<int>("whilePaused");
        QTest::addColumn<QList<int>>("shownPaused");
        // Capacity 5, three rows shown when paused.
        QTest::newRow("the view holds still while the log collects") << 2 << range(0, 3);
        QTest::newRow("rows the ring drops leave a paused view") << 4 << range(2, 3);
        QTest::newRow("a paused view can empty entirely") << 9 << QList<int>();
    }
    void pause()
    {
        QFETCH(int, whilePaused);
        QFETCH(QList<int>, shownPaused);
        TrafficLog log(5);
        TrafficLogModel model(&log);
        Tester tester(&model, Tester::FailureReportingMode::QtTest);
        fill(log, 0, 3);
        model.setPaused(true);
        fill(log, 3, 3 + whilePaused);
        QCOMPARE(column(model), shownPaused);
        QCOMPARE(model.pendingRows(), qMin(5, whilePaused));
        model.setPaused(false);
        QCOMPARE(column(model), range(int(log.firstSeq()), 3 + whilePaused));
    }

    void filter_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("directions");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("rows");
        const int all = AllDirections;
        // Rows: 22 TX, 22 RX "HV off", 14 TX, 14 RX "kV setpoint", 68 RX unsolicited on USB.
        QTest::newRow("by command") << 14 << all << QString() << QList<int>{2, 3};
        QTest::newRow("by direction") << -1 << int(directionBit(Direction::Rx) | directionBit(Direction::RxUnsolicited))
                                      << QString() << QList<int>{1, 3, 4};
        QTest::newRow("text in the meaning, any case") << -1 << all << "hv OFF" << QList<int>{1};
        QTest::newRow("text in the frame as shown") << -1 << all << "<STX>14," << QList<int>{2, 3};
        QTest::newRow("text in the link name") << -1 << all << "usb" << QList<int>{4};
        QTest::newRow("all filters at once") << 22 << int(directionBit(Direction::Rx)) << "off" << QList<int>{1};
        QTest::newRow("nothing matches") << 99 << all << QString() << QList<int>{};
    }
    void filter()
    {
        QFETCH(int, command);
        QFETCH(int, directions);
        QFETCH(QString, text);
        QFETCH(QList<int>, rows);
        TrafficLog log;
        TrafficLogModel model(&log);
        TrafficFilterModel early(&model);
        TrafficFilterModel late(&model);
        Tester tester(&early, Tester::FailureReportingMode::QtTest);
        const auto set = [&](TrafficFilterModel &f) {
            f.setCommand(command);
            f.setDirections(DirectionMask(directions));
            f.setText(text);
        };
        set(early);   // tests rows as they arrive
        const auto add = [&](Direction d, const char *frame, const char *meaning, const char *link = "COMM1") {
            log.recordAt(0, d, link, frameOf(frame), ChecksumVerdict::Ok, meaning);
        };
        add(Direction::Tx, "22,", "status request");
        add(Direction::Rx, "22,0,1,0,0,", "HV off, interlock closed");
        add(Direction::Tx, "14,", "kV setpoint request");
        add(Direction::Rx, "14,2048,", "kV setpoint 30 kV");
        add(Direction::RxUnsolicited, "68,1,", "arc", "USB");
        set(late);    // tests the rows already there
        QCOMPARE(column(early, TrafficLogModel::SeqRole), rows);
        QCOMPARE(column(late, TrafficLogModel::SeqRole), rows);
        QCOMPARE(early.hasChildren(), !rows.isEmpty());   // a view asks this before rowCount()
    }

    void copySelectedRows()
    {
        TrafficLog log;
        TrafficLogModel model(&log);
        fill(log, 0, 4);
        // Two cells of row 2 and one of row 0, out of order: each row once, in order.
        const QString text = rowsAsText(model, {model.index(2, 3), model.index(0, 1), model.index(2, 5)});
        QCOMPARE(text, log.formatRow(0, TrafficLog::Format::Text) + '\n' + log.formatRow(2, TrafficLog::Format::Text) + '\n');
    }

    void save_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("meaning");
        QTest::addColumn<QString>("field");
        QTest::newRow("CSV quotes a comma") << int(TrafficLog::Format::Csv) << "HV off, local" << "\"HV off, local\"";
        QTest::newRow("CSV doubles a quote") << int(TrafficLog::Format::Csv) << "say \"on\"" << "\"say \"\"on\"\"\"";
        QTest::newRow("text turns a tab into a space") << int(TrafficLog::Format::Text) << "a\tb" << "a b";
    }
    void save()
    {
        QFETCH(int, format);
        QFETCH(QString, meaning);
        QFETCH(QString, field);
        const auto f = TrafficLog::Format(format);
        const QString sep = f == TrafficLog::Format::Csv ? "," : "\t";
        const QString eol = f == TrafficLog::Format::Csv ? "\r\n" : "\n";
        TrafficLog log(2);
        fill(log, 0, 2);
        log.recordAt(1000, Direction::Rx, "COMM1", frameOf("22,"), ChecksumVerdict::Bad, meaning);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QVERIFY(log.write(out, f));
        // The header, then the two rows held, oldest first; a time that went back is held.
        const QString frame = f == TrafficLog::Format::Csv ? "\"<STX>22,<ETX>\"" : "<STX>22,<ETX>";
        const QString last = QStringList{isoTime(1001), "RX", "COMM1", frame, "bad", field}.join(sep);
        QCOMPARE(QString::fromUtf8(out.data()), TrafficLog::header(f) + eol + log.formatRow(1, f) + eol + last + eol);
    }
};

QTEST_GUILESS_MAIN(TstTrafficLog)
#include "tst_trafficlog.moc"
