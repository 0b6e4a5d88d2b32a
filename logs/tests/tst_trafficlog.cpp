// The traffic log: frame text, command numbers, the ring's bounds and order, decoding
// through the caller's hooks, the models following the ring, pause, filter, copy, save.
#include "logs/trafficmodel.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QSignalSpy>
#include <QTest>

using namespace plv::logs;

namespace {

QByteArray frameOf(const QByteArray &payload) { return '\x02' + payload + '\x03'; }

// Rows whose frames are "0,", "1,", ... so a row's frame tells its order.
void fill(TrafficLog &log, int from, int to, Direction d = Direction::Tx)
{
    for (int i = from; i < to; ++i)
        log.recordAt(1000 + i, d, QStringLiteral("COMM1"), frameOf(QByteArray::number(i) + ','),
                     ChecksumVerdict::NotApplicable, {});
}

QList<int> commands(const QAbstractItemModel &m)
{
    QList<int> out;
    for (int r = 0; r < m.rowCount(); ++r)
        out.append(m.index(r, 0).data(TrafficLogModel::CommandRole).toInt());
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
        QTest::newRow("other control bytes as two hex digits") << QByteArray("1\r\n\x00", 4) << "1<0d><0a><00>";
        QTest::newRow("DEL and high bytes as hex") << QByteArray("\x7f\xff") << "<7f><ff>";
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
        QTest::newRow("request") << QByteArray("\x02" "22,p\x03") << 22;
        QTest::newRow("reply with values") << QByteArray("\x02" "14,1234,A\x03") << 14;
        QTest::newRow("without STX") << QByteArray("68,") << 68;
        QTest::newRow("digits without a comma") << QByteArray("\x02" "22\x03") << -1;
        QTest::newRow("no digits") << QByteArray("\x02" ",5\x03") << -1;
        QTest::newRow("five digits are no command") << QByteArray("12345,") << -1;
        QTest::newRow("empty") << QByteArray() << -1;
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
        QCOMPARE(log.endSeq(), qint64(recorded));
        for (qint64 seq = log.firstSeq(); seq < log.endSeq(); ++seq)
            QCOMPARE(log.command(seq), int(seq));
    }

    void timeNeverGoesBack()
    {
        TrafficLog log;
        log.recordAt(5000, Direction::Tx, "COMM1", "22,", ChecksumVerdict::Ok, {});
        log.recordAt(4000, Direction::Rx, "COMM1", "22,", ChecksumVerdict::Ok, {});
        QCOMPARE(log.timeMs(1), 5000);
    }

    void decodedThroughHooks_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("meaning");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<int>("command");
        QTest::newRow("status request")
            << int(Direction::Tx) << QByteArray("\x02" "22,p\x03") << QString() << "status request" << int(ChecksumVerdict::Ok) << 22;
        QTest::newRow("status reply")
            << int(Direction::Rx) << QByteArray("\x02" "22,0,1,0,0,H\x03") << QString()
            << "HV off, interlock closed, no fault, local" << int(ChecksumVerdict::Ok) << 22;
        QTest::newRow("bad checksum") << int(Direction::Rx) << QByteArray("\x02" "22,0,1,0,0,X\x03") << QString()
                                      << "HV off, interlock closed, no fault, local" << int(ChecksumVerdict::Bad) << 22;
        QTest::newRow("a note overrides the decoder") << int(Direction::Timeout) << QByteArray("\x02" "22,p\x03")
                                                      << "no reply within 500 ms" << "no reply within 500 ms"
                                                      << int(ChecksumVerdict::Ok) << 22;
        QTest::newRow("no frame, no verdict") << int(Direction::Error) << QByteArray() << "port closed"
                                              << "port closed" << int(ChecksumVerdict::NotApplicable) << -1;
    }
    void decodedThroughHooks()
    {
        QFETCH(int, direction);
        QFETCH(QByteArray, frame);
        QFETCH(QString, note);
        QFETCH(QString, meaning);
        QFETCH(int, verdict);
        QFETCH(int, command);
        TrafficLog log;
        log.setDecoder({[](Direction d, const QString &, const QByteArray &f) {
                            if (d == Direction::Tx)
                                return QStringLiteral("status request");
                            return f.startsWith("\x02" "22,0,1,0,0") ? QStringLiteral("HV off, interlock closed, no fault, local")
                                                                     : QString();
                        },
                        [](const QString &, const QByteArray &f) {
                            return f.endsWith("X\x03") ? ChecksumVerdict::Bad : ChecksumVerdict::Ok;
                        }});
        log.record(Direction(direction), "COMM1", frame, note);
        const TrafficRow row = log.row(0);
        QCOMPARE(row.meaning, meaning);
        QCOMPARE(int(row.checksum), verdict);
        QCOMPARE(row.command, command);
        QCOMPARE(row.frame, frame);
        QCOMPARE(row.link, QStringLiteral("COMM1"));
    }

    void longInputIsCut()
    {
        TrafficLog log;
        log.recordAt(0, Direction::Discarded, "COMM1", QByteArray(2000, 'x'), ChecksumVerdict::NotApplicable, "noise");
        QCOMPARE(log.frame(0).size(), TrafficLog::MaxFrameBytes);
        QVERIFY(log.meaning(0).contains("2000"));
        QVERIFY(log.meaning(0).endsWith("noise"));
    }

    // The models announce each removal while the rows still exist, and stay consistent
    // (the tester checks every signal) as the ring turns under them.
    void modelsFollowTheRing()
    {
        TrafficLog log(4);
        TrafficLogModel model(&log);
        TrafficFilterModel filter(&model);
        QAbstractItemModelTester modelTester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester filterTester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        filter.setDirections(directionBit(Direction::Rx));
        QList<int> seenLeaving;
        connect(&model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                [&](const QModelIndex &, int first, int last) {
                    for (int r = first; r <= last; ++r)
                        seenLeaving.append(model.index(r, 0).data(TrafficLogModel::CommandRole).toInt());
                });
        for (int i = 0; i < 10; ++i)
            fill(log, i, i + 1, i % 2 ? Direction::Rx : Direction::Tx);
        QCOMPARE(commands(model), range(6, 10));
        QCOMPARE(commands(filter), (QList<int>{7, 9}));
        QCOMPARE(seenLeaving, range(0, 6));
    }

    void pause_data()
    {
        QTest::addColumn<int>("whilePaused");
        QTest::addColumn<QList<int>>("shownPaused");
        QTest::addColumn<qint64>("pending");
        // Capacity 5, three rows shown when paused.
        QTest::newRow("the view holds still while the log collects") << 2 << range(0, 3) << qint64(2);
        QTest::newRow("rows the ring drops leave a paused view") << 4 << range(2, 3) << qint64(4);
        QTest::newRow("a paused view can empty entirely") << 9 << QList<int>() << qint64(5);
    }
    void pause()
    {
        QFETCH(int, whilePaused);
        QFETCH(QList<int>, shownPaused);
        QFETCH(qint64, pending);
        TrafficLog log(5);
        TrafficLogModel model(&log);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        fill(log, 0, 3);
        model.setPaused(true);
        fill(log, 3, 3 + whilePaused);
        QCOMPARE(commands(model), shownPaused);
        QCOMPARE(model.pendingRows(), pending);
        QCOMPARE(log.size(), qMin(5, 3 + whilePaused));
        model.setPaused(false);
        QCOMPARE(commands(model), range(int(log.firstSeq()), 3 + whilePaused));
    }

    void filter_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("directions");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("rows");
        // Rows: 22 TX, 22 RX "HV off", 14 TX, 14 RX "kV setpoint", 68 RX unsolicited on USB.
        QTest::newRow("everything") << -1 << int(AllDirections) << QString() << range(0, 5);
        QTest::newRow("by command") << 14 << int(AllDirections) << QString() << QList<int>{2, 3};
        QTest::newRow("by direction") << -1 << int(directionBit(Direction::Rx) | directionBit(Direction::RxUnsolicited))
                                      << QString() << QList<int>{1, 3, 4};
        QTest::newRow("text in the meaning, any case") << -1 << int(AllDirections) << "hv OFF" << QList<int>{1};
        QTest::newRow("text in the frame as shown") << -1 << int(AllDirections) << "<STX>14," << QList<int>{2, 3};
        QTest::newRow("text in the link name") << -1 << int(AllDirections) << "usb" << QList<int>{4};
        QTest::newRow("nothing matches") << 99 << int(AllDirections) << QString() << QList<int>{};
        QTest::newRow("all filters at once") << 22 << int(directionBit(Direction::Rx)) << "off" << QList<int>{1};
    }
    void filter()
    {
        QFETCH(int, command);
        QFETCH(int, directions);
        QFETCH(QString, text);
        QFETCH(QList<int>, rows);
        TrafficLog log;
        TrafficLogModel model(&log);
        TrafficFilterModel filter(&model);
        QAbstractItemModelTester tester(&filter, QAbstractItemModelTester::FailureReportingMode::QtTest);
        filter.setCommand(command);
        filter.setDirections(DirectionMask(directions));
        filter.setText(text);
        // Rows arriving after the filter was set are tested as they come.
        const auto add = [&](Direction d, const char *frame, const char *meaning, const char *link = "COMM1") {
            log.recordAt(0, d, link, frameOf(frame), ChecksumVerdict::Ok, meaning);
        };
        add(Direction::Tx, "22,", "status request");
        add(Direction::Rx, "22,0,1,0,0,", "HV off, interlock closed");
        add(Direction::Tx, "14,", "kV setpoint request");
        add(Direction::Rx, "14,2048,", "kV setpoint 30 kV");
        add(Direction::RxUnsolicited, "68,1,", "arc", "USB");
        QList<int> seqs;
        for (int r = 0; r < filter.rowCount(); ++r)
            seqs.append(filter.index(r, 0).data(TrafficLogModel::SeqRole).toInt());
        QCOMPARE(seqs, rows);
        QCOMPARE(filter.hasChildren(), !rows.isEmpty());   // a view asks this before rowCount()
        // Set afterwards, the same filters give the same rows.
        TrafficFilterModel later(&model);
        later.setCommand(command);
        later.setDirections(DirectionMask(directions));
        later.setText(text);
        QCOMPARE(later.rowCount(), rows.size());
    }

    void copySelectedRows()
    {
        TrafficLog log;
        TrafficLogModel model(&log);
        fill(log, 0, 4);
        // Two cells of row 2 and one of row 0, out of order: each row once, in order.
        const QString text = rowsAsText(model, {model.index(2, 3), model.index(0, 1), model.index(2, 5)});
        const QStringList lines = text.split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], log.formatRow(0, TrafficLog::Format::Text));
        QCOMPARE(lines[1], log.formatRow(2, TrafficLog::Format::Text));
        QCOMPARE(lines[1].split('\t').size(), int(TrafficLogModel::ColumnCount));
    }

    void save_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QString>("meaning");
        QTest::addColumn<QString>("field");
        QTest::newRow("CSV quotes a comma") << int(TrafficLog::Format::Csv) << "HV off, local" << "\"HV off, local\"";
        QTest::newRow("CSV doubles a quote") << int(TrafficLog::Format::Csv) << "say \"on\"" << "\"say \"\"on\"\"\"";
        QTest::newRow("CSV leaves a plain field bare") << int(TrafficLog::Format::Csv) << "HV off" << "HV off";
        QTest::newRow("text turns a tab into a space") << int(TrafficLog::Format::Text) << "a\tb" << "a b";
    }
    void save()
    {
        QFETCH(int, format);
        QFETCH(QString, meaning);
        QFETCH(QString, field);
        const auto f = TrafficLog::Format(format);
        TrafficLog log(2);
        fill(log, 0, 2);
        log.recordAt(1000, Direction::Rx, "COMM1", frameOf("22,"), ChecksumVerdict::Bad, meaning);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        QVERIFY(log.write(out, f));
        const QByteArray eol = f == TrafficLog::Format::Csv ? "\r\n" : "\n";
        const QList<QByteArray> lines = out.data().split('\n');
        QCOMPARE(lines.size(), 4);   // header, the two rows held, and nothing after the last break
        QVERIFY(out.data().endsWith(eol));
        const auto line = [&](int i) { return QString::fromUtf8(lines[i]).remove('\r'); };
        QCOMPARE(line(0), TrafficLog::header(f));
        QCOMPARE(line(1), log.formatRow(1, f));
        const QString last = line(2);
        QVERIFY2(last.endsWith(QStringLiteral("bad") + (f == TrafficLog::Format::Csv ? ',' : '\t') + field), qPrintable(last));
    }
};

QTEST_GUILESS_MAIN(TstTrafficLog)
#include "tst_trafficlog.moc"
