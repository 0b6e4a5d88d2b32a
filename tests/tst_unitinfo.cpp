// Identity, hours and the hours reset: the replies' decoding on a scripted link, the
// reset against the simulated unit.
#include "testsupport.h"

#include "widgets/widgets.h"
#include "panels/infopanel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace plv;
using namespace plv::test;

namespace {

const QColor kWhite(255, 255, 255), kRed(255, 0, 0);

struct Query {
    QPushButton *button;
    QLineEdit *box;
};

Query queryNamed(InfoPanel &p, const QString &cmd)
{
    if (cmd == QLatin1String("23,"))
        return {p.btn_SWREV, p.txt_SWREV};
    if (cmd == QLatin1String("24,"))
        return {p.btn_HWREV, p.txt_HWREV};
    if (cmd == QLatin1String("25,"))
        return {p.btn_WEBREV, p.txt_WEBREV};
    if (cmd == QLatin1String("26,"))
        return {p.btn_MODNUM, p.txt_MODNUM};
    return {p.totalHours, p.txt_totalHours};
}

} // namespace

class TstUnitInfo : public QObject {
    Q_OBJECT
private slots:
    void silentUnitShowsUnknownThenAGoodReplyRestoresWhite_data()
    {
        QTest::addColumn<bool>("serial");
        QTest::newRow("tcp") << false;
        QTest::newRow("pty") << true;
    }
    void silentUnitShowsUnknownThenAGoodReplyRestoresWhite()
    {
        QFETCH(bool, serial);
        ScriptedRig rig(serial);
        InfoPanel &info = rig.win->info();
        info.btn_SWREV->click();
        QCOMPARE(info.txt_SWREV->text(), QStringLiteral("Unknown"));
        QCOMPARE(boxColor(info.txt_SWREV), kRed);
        QCOMPARE(rig.s().CommErrors(), 1);
        QCOMPARE(rig.win->extras().txt_COMMERRORS->text(), QStringLiteral("1"));
        QVERIFY(!rig.win->extras().isVisible());

        rig.link->answers << ScriptedLink::Answer{{5, unitFrame("23,SW 8.0.1234,", serial)}};
        info.btn_SWREV->click();
        QCOMPARE(info.txt_SWREV->text(), QStringLiteral("SW 8.0.1234"));
        QCOMPARE(boxColor(info.txt_SWREV), kWhite);
        QCOMPARE(rig.s().CommErrors(), 1);
        QCOMPARE(rig.wire(), (QList<QByteArray>{"23,", "23,"}));
    }

    // Every row starts from the box showing "Unknown" on red after one silent query.
    void queryShowsItsPartOfTheReply_data()
    {
        QTest::addColumn<QString>("cmd");
        QTest::addColumn<QByteArray>("data");   // the unit's data after the echo
        QTest::addColumn<QString>("shown");     // null: the box keeps "Unknown" on red
        QTest::newRow("23: eleven characters at most") << "23," << QByteArray("SW 8.0.12345678,") << "SW 8.0.1234";
        QTest::newRow("24: three characters only") << "24," << QByteArray("A01XYZ,") << "A01";
        QTest::newRow("25: web server revision") << "25," << QByteArray("WEB 2.10.07,") << "WEB 2.10.07";
        QTest::newRow("26: X at 11 joins two parts") << "26," << QByteArray("PLV70,X0600,") << "PLV70-X0600";
        QTest::newRow("26: lower-case x gives five characters") << "26," << QByteArray("PLV70,x0600,") << "PLV70";
        QTest::newRow("26: X at 10 is not looked at") << "26," << QByteArray("PLV7X,00600,") << "PLV7X";
        QTest::newRow("21: hours up to the comma") << "21," << QByteArray("12345,") << "12345";
        QTest::newRow("21: comma at 5 shows empty on white") << "21," << QByteArray(",") << "";
        QTest::newRow("21: no comma leaves the box") << "21," << QByteArray("12345") << QString();
    }
    void queryShowsItsPartOfTheReply()
    {
        QFETCH(QString, cmd);
        QFETCH(QByteArray, data);
        QFETCH(QString, shown);
        ScriptedRig rig(false);
        const Query q = queryNamed(rig.win->info(), cmd);
        q.button->click();
        QCOMPARE(q.box->text(), QStringLiteral("Unknown"));

        rig.link->answers << ScriptedLink::Answer{{5, '\x02' + cmd.left(2).toLatin1() + ',' + data + '\x03'}};
        q.button->click();
        QCOMPARE(q.box->text(), shown.isNull() ? QStringLiteral("Unknown") : shown);
        QCOMPARE(boxColor(q.box), shown.isNull() ? kRed : kWhite);
        QCOMPARE(rig.s().CommErrors(), 1);
        QCOMPARE(rig.wire(), (QList<QByteArray>{cmd.toLatin1(), cmd.toLatin1()}));
    }

    void resetSendsThirtyAndChangesNothingShown_data()
    {
        QTest::addColumn<bool>("silent");
        QTest::newRow("unit answers") << false;
        QTest::newRow("unit silent") << true;
    }
    void resetSendsThirtyAndChangesNothingShown()
    {
        QFETCH(bool, silent);
        Rig rig;
        QVERIFY(rig.attachTcp());
        InfoPanel &info = rig.win->info();
        info.totalHours->click();
        QLineEdit *boxes[] = {info.txt_MODNUM, info.txt_WEBREV, info.txt_SWREV, info.txt_HWREV, info.txt_totalHours};
        QStringList before;
        for (QLineEdit *b : boxes)
            before << b->text() + boxColor(b).name();
        rig.sim.clearTrace();
        rig.sim.setFaults({.silent = silent});

        rig.trigger("mnu_Reset_total_hrs");   // asked first; the default keeps the hours
        QCOMPARE(rig.prompt.questions.size(), 1);
        QVERIFY(rig.wire().isEmpty());
        rig.prompt.choices.enqueue(0);
        rig.trigger("mnu_Reset_total_hrs");
        QCOMPARE(rig.wire(), QList<QByteArray>{"30,"});
        QStringList after;
        for (QLineEdit *b : boxes)
            after << b->text() + boxColor(b).name();
        QCOMPARE(after, before);
        QCOMPARE(rig.s().CommErrors(), 0);
        QCOMPARE(rig.sim.hours(), silent ? 1234 : 0);
        QVERIFY(rig.s().tmr_NETRCVTMR->isActive());
    }

    void onEthernetAQueryRearmsTheNetworkTimer_data()
    {
        QTest::addColumn<QString>("cmd");
        QTest::newRow("model") << "26,";
        QTest::newRow("hardware") << "24,";
        QTest::newRow("hours") << "21,";
    }
    void onEthernetAQueryRearmsTheNetworkTimer()
    {
        QFETCH(QString, cmd);
        Rig rig;
        QVERIFY(rig.attachTcp());
        QObject *timer = find<QObject>(rig.win.get(), "tmr_NETRCVTMR");
        QVERIFY(timer);
        rig.s().tmr_NETRCVTMR->stop();
        QVERIFY(!timer->property("active").toBool());
        queryNamed(rig.win->info(), cmd).button->click();
        QCOMPARE(rig.wire(), QList<QByteArray>{cmd.toLatin1()});
        QVERIFY(timer->property("active").toBool());
        QVERIFY(!rig.s().tmr_UPDATE->isActive());
    }
};

QTEST_MAIN(TstUnitInfo)
#include "tst_unitinfo.moc"
