// plvctl as a script sees it: the built binary run against the simulated unit in this
// process (over TCP and its pty), its frames as the unit received them, its output in
// both formats and its exit code for every kind of failure.
#include "logs/sample.h"
#include "sim/simunit.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

struct Run {
    int exitCode = -1;
    QString out, err;
};

// Runs plvctl and keeps the event loop (and so the simulated unit) going until it ends.
Run plvctl(const QStringList &args, const QString &stdinFile = QStringLiteral("/dev/null"), int limitMs = 20000)
{
    QProcess p;
    p.setStandardInputFile(stdinFile);
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    p.start(QStringLiteral(PLVCTL_PATH), args);
    loop.exec();
    Run r;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("did not end within the limit");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err += QString::fromUtf8(p.readAllStandardError());
    return r;
}

QStringList payloads(const SimUnit &sim)
{
    QStringList out;
    for (const auto &t : sim.trace())
        out << QString::fromLatin1(t.payload);
    return out;
}

// "name: value unit" lines checked against the JSON object of the same command: the same
// names in the same order, numbers equal, "unknown" where JSON has null.
void compareFormats(const QString &text, const QString &json)
{
    QVERIFY2(json.endsWith(QLatin1Char('\n')) && json.count(QLatin1Char('\n')) == 1, qPrintable(json));
    QJsonParseError e;
    const QJsonObject o = QJsonDocument::fromJson(json.toUtf8(), &e).object();
    QVERIFY2(e.error == QJsonParseError::NoError, qPrintable(json));
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), o.size());
    qsizetype at = 0;
    for (const QString &line : lines) {
        const QString key = line.section(QStringLiteral(": "), 0, 0);
        const QString value = line.section(QStringLiteral(": "), 1).section(QLatin1Char(' '), 0, 0);
        // Key order as in the text: each key appears after the previous one.
        const qsizetype pos = json.indexOf(QLatin1Char('"') + key + QStringLiteral("\":"));
        QVERIFY2(pos > at, qPrintable(key));
        at = pos;
        const QJsonValue v = o.value(key);
        if (value == QLatin1String("unknown"))
            QVERIFY2(v.isNull(), qPrintable(key));
        else if (v.isDouble())
            QCOMPARE(v.toDouble(), value.toDouble());
        else
            QCOMPARE(v.toString(), line.section(QStringLiteral(": "), 1));
    }
}

} // namespace

class TstPlvctl : public QObject {
    Q_OBJECT

    SimUnit *sim = nullptr;
    QString tcp, pty;
    QString help;   // --help, which lists every output name

    QStringList linkArgs(const QString &link) const
    {
        return link == QLatin1String("pty") ? QStringList{"--serial", pty} : QStringList{"--tcp", tcp};
    }

private slots:
    void initTestCase()
    {
        const Run r = plvctl({"--help"});
        QCOMPARE(r.exitCode, 0);
        help = r.out;
        QVERIFY(help.startsWith(QLatin1String("Usage: plvctl LINK")));
    }
    void init()
    {
        sim = new SimUnit(this);
        QVERIFY(sim->listenTcp(0));
        QVERIFY(sim->openPty());
        tcp = QStringLiteral("127.0.0.1:%1").arg(sim->tcpPort());
        pty = sim->ptyPath();
    }
    void cleanup()
    {
        delete sim;
        sim = nullptr;
    }

    void commands_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("text");

        QTest::newRow("status asks 22 then 68 and prints ten yes/no lines") << "tcp" << QStringList{"status"}
            << QStringList{"22,", "68,"}
            << "hv_on: 0\ninterlock_closed: 1\nfault: 0\nremote: 0\narc_flag: 0\ntemp_flag: 0\nover_voltage_flag: 0\n"
               "under_voltage_flag: 0\nover_current_flag: 0\nunder_current_flag: 0\n";
        QTest::newRow("status over the pty") << "pty" << QStringList{"status"} << QStringList{"22,", "68,"}
            << "hv_on: 0\ninterlock_closed: 1\nfault: 0\nremote: 0\narc_flag: 0\ntemp_flag: 0\nover_voltage_flag: 0\n"
               "under_voltage_flag: 0\nover_current_flag: 0\nunder_current_flag: 0\n";
        QTest::newRow("readbacks ask 19 then 20, in kV, mA, A, V and counts") << "tcp" << QStringList{"readbacks"}
            << QStringList{"26,", "19,", "20,"}
            << "kv_kV: 0 kV\nma_mA: 0 mA\nfilament_A: 0 A\nsupply_minus15_V: -14.9998 V\nconverter_a_counts: 25 counts\n"
               "converter_b_counts: 3000 counts\nrating: 70kV600W\n";
        QTest::newRow("setpoints ask 14 to 17 and convert under the PLR rating") << "tcp"
            << QStringList{"--build", "plr", "--rating", "80kV1200W", "setpoints"}
            << QStringList{"26,", "14,", "15,", "16,", "17,"}
            << "kv_set_kV: 20.0049 kV\nma_set_mA: 2.49817 mA\nfilament_limit_A: 1.221 A\nfilament_preheat_A: 0.6105 A\n"
               "rating: 80kV1200W\n";
        QTest::newRow("info asks 26, 25, 23, 24") << "tcp" << QStringList{"info"}
            << QStringList{"26,", "25,", "23,", "24,"}
            << "model_number: PLV70-X0600\nweb_revision: WEB 2.10.07\nsoftware_revision: SW 8.0.1234\n"
               "hardware_revision: A01\n";
        QTest::newRow("hours asks 21") << "tcp" << QStringList{"hours"} << QStringList{"21,"}
            << "total_hours_h: 1234 h\n";
        QTest::newRow("set kv 35 sends count 2048 and reads 14 back") << "tcp" << QStringList{"set", "kv", "35"}
            << QStringList{"26,", "10,2048,", "14,"} << "sent_counts: 2048 counts\nkv_set_kV: 35.0085 kV\n";
        QTest::newRow("set kv over the pty") << "pty" << QStringList{"set", "kv", "35"}
            << QStringList{"26,", "10,2048,", "14,"} << "sent_counts: 2048 counts\nkv_set_kV: 35.0085 kV\n";
        QTest::newRow("set ma 30 at 20kV1200W: 2047.5 goes to the even 2048, no box limit")
            << "tcp" << QStringList{"--rating", "20kV1200W", "set", "ma", "30"} << QStringList{"26,", "11,2048,", "15,"}
            << "sent_counts: 2048 counts\nma_set_mA: 30.0073 mA\n";
        QTest::newRow("set kv 0.02442 at 40kV: 2.5 counts go to the even 2")
            << "tcp" << QStringList{"--rating", "40kV600W", "set", "kv", "0.02442"} << QStringList{"26,", "10,2,", "14,"}
            << "sent_counts: 2 counts\nkv_set_kV: 0.019536 kV\n";
        QTest::newRow("set fil-preheat --counts sends the count as given") << "tcp"
            << QStringList{"set", "fil-preheat", "4095", "--counts"} << QStringList{"26,", "13,4095,", "17,"}
            << "sent_counts: 4095 counts\nfilament_preheat_A: 2.5 A\n";
        QTest::newRow("hv off never asks") << "tcp" << QStringList{"hv", "off"} << QStringList{"98,0,"}
            << "accepted: 1\n";
        QTest::newRow("hv on with --yes") << "tcp" << QStringList{"hv", "on", "--yes"} << QStringList{"98,1,"}
            << "accepted: 1\n";
        QTest::newRow("remote on") << "tcp" << QStringList{"remote", "on"} << QStringList{"99,1,"} << "accepted: 1\n";
        QTest::newRow("reset-faults") << "pty" << QStringList{"reset-faults"} << QStringList{"31,"} << "accepted: 1\n";
        QTest::newRow("shutdown: local control, then the four setpoints to zero")
            << "tcp" << QStringList{"shutdown"} << QStringList{"99,0,", "10,0,", "11,0,", "12,0,", "13,0,"}
            << "local_control: 1\nkv_set_zero: 1\nma_set_zero: 1\nfilament_limit_zero: 1\nfilament_preheat_zero: 1\n";
    }
    void commands()
    {
        QFETCH(QString, link);
        QFETCH(QStringList, args);
        QFETCH(QStringList, frames);
        QFETCH(QString, text);
        for (int ch = 0; ch < 4; ++ch)   // known setpoints: 1024 / 682 / 1000 / 1000 counts
            sim->setSetpoint(ch, ch == 0 ? 1024 : ch == 1 ? 682 : 1000);
        // A unit of the rating the row names, which the client checks against its model number.
        if (const qsizetype r = args.indexOf(QStringLiteral("--rating")); r >= 0)
            sim->setModelFamily(QStringLiteral("%1%2")
                                    .arg(args.contains(QStringLiteral("plr")) ? QStringLiteral("PLR") : QStringLiteral("PLV"),
                                         args[r + 1].section(QStringLiteral("kV"), 0, 0)));

        const Run t = plvctl(linkArgs(link) + args);
        QCOMPARE(t.err, QString());
        QCOMPARE(t.exitCode, 0);
        QCOMPARE(t.out, text);
        QCOMPARE(payloads(*sim), frames);
        // Every name printed is in --help, with its unit where the value carries one.
        for (const QString &line : t.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList parts = line.split(QLatin1Char(' '));
            const QString key = parts[0].chopped(1);
            bool number = false;
            parts.value(1).toDouble(&number);
            const QString named = number && parts.size() == 3 ? key + " (" + parts[2] + ")" : key;
            QVERIFY2(help.contains(named), qPrintable(named));
        }

        sim->clearTrace();
        const Run j = plvctl(linkArgs(link) + QStringList{"--json"} + args);
        QCOMPARE(j.exitCode, 0);
        QCOMPARE(payloads(*sim), frames);
        compareFormats(t.out, j.out);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("link");     // tcp, pty, closed (nothing listens), missing (no such device)
        QTest::addColumn<QString>("fault");    // none, silent, refuse, interlock, nomodel
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("frames");
        QTest::addColumn<QString>("out");      // a line of standard output, or empty for none
        QTest::addColumn<QString>("err");      // part of the message

        const QStringList all5{"99,0,", "10,0,", "11,0,", "12,0,", "13,0,"};
        QTest::newRow("silent unit: 4 after printing what was not read as unknown")
            << "tcp" << "silent" << QStringList{"--timeout", "100", "status"} << 4 << QStringList{"22,", "68,"}
            << "hv_on: unknown" << "no reply to 22, within 100 ms";
        QTest::newRow("silent unit over the pty: 4") << "pty" << "silent" << QStringList{"--timeout", "100", "hours"}
            << 4 << QStringList{"21,"} << "total_hours_h: unknown" << "no reply to 21, within 100 ms";
        QTest::newRow("silent unit: shutdown still tries all five, then 4")
            << "tcp" << "silent" << QStringList{"--timeout", "50", "--json", "shutdown"} << 4 << all5
            << R"({"local_control":null,"kv_set_zero":null,"ma_set_zero":null,"filament_limit_zero":null,"filament_preheat_zero":null})"
            << "no reply to 13,0,";
        QTest::newRow("silent unit: set gives up before the readback")
            << "tcp" << "silent" << QStringList{"--timeout", "100", "set", "kv", "1"} << 4 << QStringList{"26,", "10,59,"}
            << "kv_set_kV: unknown" << "no reply to 10,59,";
        QTest::newRow("refusing unit: hv on, 5") << "tcp" << "refuse" << QStringList{"hv", "on", "--yes"} << 5
            << QStringList{"98,1,"} << "accepted: 0" << "refused 98,1, (answered 1)";
        QTest::newRow("refusing unit: shutdown tries all five, then 5") << "pty" << "refuse" << QStringList{"shutdown"}
            << 5 << all5 << "filament_preheat_zero: 0" << "refused 13,0,";
        QTest::newRow("refusing unit: set still reads back, then 5") << "tcp" << "refuse"
            << QStringList{"set", "ma", "1"} << 5 << QStringList{"26,", "11,478,", "15,"} << "sent_counts: 478 counts"
            << "refused 11,478,";
        QTest::newRow("refusing unit: status is unknown, not '1', then 5") << "tcp" << "refuse"
            << QStringList{"status"} << 5 << QStringList{"22,", "68,"} << "arc_flag: unknown" << "refused 22, (answered 1)";
        QTest::newRow("refusing unit: info has no model number, nor a control byte") << "pty" << "refuse"
            << QStringList{"--json", "info"} << 5 << QStringList{"26,", "25,", "23,", "24,"}
            << R"({"model_number":null,"web_revision":null,"software_revision":null,"hardware_revision":null})"
            << "refused 26,";
        QTest::newRow("interlock open: hv on refused, 5") << "tcp" << "interlock" << QStringList{"hv", "on", "--yes"}
            << 5 << QStringList{"98,1,"} << "accepted: 0" << "refused 98,1,";
        QTest::newRow("PLV70 unit, --rating 20kV600W: 2, nothing written") << "tcp" << "none"
            << QStringList{"--rating", "20kV600W", "set", "kv", "20"} << 2 << QStringList{"26,"} << QString()
            << "model number PLV70-X0600 names 70 kV, but --rating 20kV600W is 20 kV: nothing sent";
        QTest::newRow("PLR build on a PLV unit: 2, nothing converted") << "pty" << "none"
            << QStringList{"--build", "plr", "readbacks"} << 2 << QStringList{"26,"} << QString() << "give --build plv";
        QTest::newRow("a model number naming no rating: converted under the default, said") << "tcp" << "nomodel"
            << QStringList{"readbacks"} << 0 << QStringList{"26,", "19,", "20,"} << "rating: 70kV600W"
            << "could not be checked against the unit (model number 'X1'): converting under 70kV600W";
        QTest::newRow("closed port: 3") << "closed" << "none" << QStringList{"status"} << 3 << QStringList{}
            << QString() << "cannot connect: Connection refused";
        QTest::newRow("missing serial device: 3") << "missing" << "none" << QStringList{"status"} << 3
            << QStringList{} << QString() << "serial /nonexistent/ttyPLV: cannot open";
        QTest::newRow("kv 120 at PLR 120kV600W is count 4096: 6, nothing sent")
            << "tcp" << "none" << QStringList{"--build", "plr", "--rating", "120kV600W", "set", "kv", "120"} << 6
            << QStringList{} << QString() << "120 kV is count 4096 under 120kV600W, outside 0-4095: nothing sent";
        QTest::newRow("negative value: 6") << "tcp" << "none" << QStringList{"set", "fil-limit", "-0.01"} << 6
            << QStringList{} << QString() << "count -8 under 70kV600W";
        QTest::newRow("count 4096: 6") << "pty" << "none" << QStringList{"set", "kv", "4096", "--counts"} << 6
            << QStringList{} << QString() << "count 4096 is outside 0-4095";
        QTest::newRow("value not a number: 2") << "tcp" << "none" << QStringList{"set", "kv", "3.5kV"} << 2
            << QStringList{} << QString() << "'3.5kV' is not a number in kV";
        QTest::newRow("unknown command: 2") << "tcp" << "none" << QStringList{"stat"} << 2 << QStringList{} << QString()
            << "unknown command 'stat'";
        QTest::newRow("rating the build lacks: 2") << "tcp" << "none" << QStringList{"--rating", "140kV600W", "status"}
            << 2 << QStringList{} << QString() << "the plv build has no rating '140kV600W'";
        QTest::newRow("--counts outside set: 2") << "tcp" << "none" << QStringList{"status", "--counts"} << 2
            << QStringList{} << QString() << "--counts is for set only";
        QTest::newRow("two links: 2") << "tcp" << "none" << QStringList{"--usb", "status"} << 2 << QStringList{}
            << QString() << "choose one link";
        QTest::newRow("hv on without --yes and without a terminal: 2, nothing sent")
            << "tcp" << "none" << QStringList{"hv", "on"} << 2 << QStringList{} << QString() << "hv on needs --yes";
    }
    void failures()
    {
        QFETCH(QString, link);
        QFETCH(QString, fault);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QStringList, frames);
        QFETCH(QString, out);
        QFETCH(QString, err);

        SimUnit::Faults f;
        f.silent = fault == QLatin1String("silent");
        f.refuseAll = fault == QLatin1String("refuse");
        sim->setFaults(f);
        sim->setInterlockOpen(fault == QLatin1String("interlock"));
        if (fault == QLatin1String("nomodel"))
            sim->setModelFamily(QStringLiteral("X1"));
        QStringList linkArgs = this->linkArgs(link);
        if (link == QLatin1String("closed")) {
            QTcpServer probe;   // a port that was free a moment ago and has no listener now
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            linkArgs = {"--tcp", QStringLiteral("127.0.0.1:%1").arg(probe.serverPort())};
        } else if (link == QLatin1String("missing")) {
            linkArgs = {"--serial", "/nonexistent/ttyPLV"};
        }

        const Run r = plvctl(linkArgs + args);
        QCOMPARE(r.exitCode, exitCode);
        QCOMPARE(payloads(*sim), frames);
        if (out.isEmpty())
            QCOMPARE(r.out, QString());
        else
            QVERIFY2(r.out.split(QLatin1Char('\n')).contains(out), qPrintable(r.out));
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
        // Every message names the link it is about, where one was given.
        const QString linkName = link == QLatin1String("pty") ? QStringLiteral("serial ") + pty
                                 : link == QLatin1String("missing") ? QStringLiteral("serial /nonexistent/ttyPLV")
                                 : link == QLatin1String("closed") ? linkArgs[1].prepend(QStringLiteral("tcp "))
                                 : exitCode == 2 && args.contains(QLatin1String("--usb")) ? QString()
                                                                                : QStringLiteral("tcp ") + tcp;
        for (const QString &line : r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (!line.startsWith(QLatin1String("Try ")))
                QVERIFY2(line.startsWith(QStringLiteral("plvctl: ") + linkName), qPrintable(line));
    }

    void hvOnAsksAtATerminal_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("frames");
        QTest::newRow("y switches on") << QByteArray("y\n") << 0 << QStringList{"98,1,"};
        QTest::newRow("anything else sends nothing") << QByteArray("\n") << 2 << QStringList{};
    }
    void hvOnAsksAtATerminal()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, exitCode);
        QFETCH(QStringList, frames);
        const int master = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0);
        QVERIFY(::write(master, answer.constData(), size_t(answer.size())) == answer.size());
        const Run r = plvctl({"--tcp", tcp, "hv", "on"}, QString::fromLatin1(ptsname(master)));
        ::close(master);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(QStringLiteral("Switch high voltage ON at tcp %1? [y/N]").arg(tcp)), qPrintable(r.err));
        QCOMPARE(payloads(*sim), frames);
    }

    void watchCount_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("json");
        QTest::addColumn<bool>("silent");
        QTest::newRow("CSV with the recording's header, over TCP") << "tcp" << false << false;
        QTest::newRow("JSON, one object a line, over the pty") << "pty" << true << false;
        QTest::newRow("silent unit: empty fields, still 0") << "tcp" << false << true;
    }
    void watchCount()
    {
        QFETCH(QString, link);
        QFETCH(bool, json);
        QFETCH(bool, silent);
        SimUnit::Faults f;
        f.silent = silent;
        sim->setFaults(f);
        QStringList args = linkArgs(link) + QStringList{"watch", "--count", "2", "--interval", "5"};
        if (json)
            args << "--json";
        if (silent)
            args << "--timeout" << "10";
        const Run r = plvctl(args);
        QCOMPARE(r.exitCode, 0);

        const QStringList header = plv::logs::sampleCsvHeader().split(QLatin1Char(','));
        QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        if (!json)
            QCOMPARE(lines.takeFirst(), plv::logs::sampleCsvHeader());
        QCOMPARE(lines.size(), 2);
        for (const QString &line : lines) {
            QMap<QString, QString> row;
            if (json) {
                const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
                QCOMPARE(o.keys().size(), header.size());
                for (const QString &k : header)
                    row[k] = o.value(k).isNull() ? QString() : o.value(k).toVariant().toString();
            } else {
                const QStringList cells = line.split(QLatin1Char(','));
                QCOMPARE(cells.size(), header.size());
                for (qsizetype i = 0; i < header.size(); ++i)
                    row[header[i]] = cells[i];
            }
            QVERIFY(!row["time_iso8601"].isEmpty());
            QCOMPARE(row["rating"], QStringLiteral("70kV600W"));
            QCOMPARE(row["supply_minus15_V"], silent ? QString() : QStringLiteral("-14.9998"));
            QCOMPARE(row["interlock_closed"], silent ? QString() : QStringLiteral("1"));
            QCOMPARE(row["converter_b_counts"], silent ? QString() : QStringLiteral("3000"));
        }
        // The console's order: seven queries at the start, then two ten-step cycles.
        const QStringList start{"19,", "20,", "24,", "26,", "21,", "23,", "25,"};
        const QStringList cycle{"19,", "14,", "15,", "16,", "17,", "22,", "68,", "21,", "20,", "21,", "25,"};
        // The model number first: it fixes the rating before anything is converted.
        QCOMPARE(payloads(*sim), QStringList{"26,"} + start + cycle + cycle);
    }

    // A reader that goes away, or a disk that fills, ends plvctl with 7 and a message.
    void outputFailureEnds_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("closePipe");   // else standard output is /dev/full
        QTest::newRow("watch | head -1: the closed pipe ends it") << QStringList{"watch", "--interval", "5"} << true;
        QTest::newRow("status > /dev/full") << QStringList{"status"} << false;
        QTest::newRow("watch > /dev/full: the header already fails") << QStringList{"watch"} << false;
    }
    void outputFailureEnds()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, closePipe);
        QProcess p, head;
        p.setStandardInputFile(QProcess::nullDevice());
        if (closePipe) {
            p.setStandardOutputProcess(&head);
            head.start(QStringLiteral("head"), {QStringLiteral("-1")});
        } else {
            p.setStandardOutputFile(QStringLiteral("/dev/full"));
        }
        QEventLoop loop;
        connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        p.start(QStringLiteral(PLVCTL_PATH), QStringList{"--tcp", tcp} + args);
        loop.exec();
        QCOMPARE(p.state(), QProcess::NotRunning);
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 7);
        QVERIFY(p.readAllStandardError().contains("cannot write to standard output"));
        head.waitForFinished();
    }

    // The unit's TCP side killed and restarted: watch says so, writes no row for the cycle
    // the link went down in, and carries on by itself once the unit is back, after
    // reading its status and model number again.
    void watchGetsItsUnitBack()
    {
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        QByteArray out, err;
        connect(&p, &QProcess::readyReadStandardOutput, this, [&] { out += p.readAllStandardOutput(); });
        connect(&p, &QProcess::readyReadStandardError, this, [&] { err += p.readAllStandardError(); });
        p.start(QStringLiteral(PLVCTL_PATH), {"--tcp", tcp, "watch", "--interval", "5"});
        QTRY_VERIFY_WITH_TIMEOUT(out.count('\n') >= 3, 20000);   // the header and two rows
        const quint16 port = sim->tcpPort();
        delete sim;   // its connection closes with it
        sim = nullptr;
        QTRY_VERIFY2_WITH_TIMEOUT(err.contains("link down: closed by the unit"), err.constData(), 20000);
        const qsizetype rowsBefore = out.count('\n');
        sim = new SimUnit(this);
        QVERIFY(sim->listenTcp(port));
        QTRY_VERIFY_WITH_TIMEOUT(out.count('\n') >= rowsBefore + 2, 20000);
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(payloads(*sim).mid(0, 3), (QStringList{"22,", "68,", "26,"}));
        // Every row written is of a whole cycle: the supply was read in each.
        const int supply = plv::logs::sampleCsvHeader().split(QLatin1Char(',')).indexOf(QStringLiteral("supply_minus15_V"));
        for (const QByteArray &row : out.trimmed().split('\n').mid(1))
            QVERIFY2(!row.split(',').value(supply).isEmpty(), row.constData());
    }

    void watchEndsWithZeroOnInterrupt()
    {
        QProcess p;
        p.setStandardInputFile(QProcess::nullDevice());
        QEventLoop loop;
        QByteArray out;
        connect(&p, &QProcess::readyReadStandardOutput, &loop, [&] {
            const bool sampled = out.count('\n') >= 2;
            out += p.readAllStandardOutput();
            if (!sampled && out.count('\n') >= 2)   // the header and one sample
                ::kill(pid_t(p.processId()), SIGINT);
        });
        connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        p.start(QStringLiteral(PLVCTL_PATH), {"--tcp", tcp, "watch"});
        loop.exec();
        QCOMPARE(p.state(), QProcess::NotRunning);
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(out.count('\n') >= 2);
    }
};

QTEST_GUILESS_MAIN(TstPlvctl)
#include "tst_plvctl.moc"
