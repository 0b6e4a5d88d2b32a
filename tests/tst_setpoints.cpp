// Ratings, the setpoint editor and the setpoint readbacks against the simulated unit.
#include "testsupport.h"

#include "widgets/widgets.h"
#include "panels/dacpanel.h"
#include "panels/ratingmenu.h"
#include "panels/setpointeditor.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>

using namespace plv;
using namespace plv::test;

namespace {

const BuildData &buildNamed(const QString &id) { return id == QLatin1String("plr") ? plrBuild() : plvBuild(); }

QList<QAction *> ratingItems(MainWindow &w)
{
    static const QRegularExpression name(QStringLiteral("^Menu\\d+KV\\d+W$"));
    QList<QAction *> out;
    for (QAction *a : w.findChildren<QAction *>())
        if (name.match(a->objectName()).hasMatch())
            out.append(a);
    return out;
}

QStringList checkedRatings(MainWindow &w)
{
    QStringList out;
    for (QAction *a : ratingItems(w))
        if (a->isChecked())
            out.append(a->objectName());
    return out;
}

// The operator's entry: replace the box's text and press Enter.
void typeInto(NumEdit *box, const QString &text)
{
    box->findChild<QLineEdit *>()->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
}

bool attach(Rig &rig, const QString &link) { return link == QLatin1String("pty") ? rig.attachSerial() : rig.attachTcp(); }

void answerAs(Rig &rig, const QString &answer)
{
    SimUnit::Faults f;
    f.silent = answer == QLatin1String("silent");
    f.refuseAll = answer == QLatin1String("refuse");
    rig.sim.setFaults(f);
    if (answer == QLatin1String("dollar"))
        rig.replyWith(QByteArray("$,"));
    else if (answer == QLatin1String("other"))
        rig.replyWith(QByteArray("2,"));
}

const QColor kWhite(255, 255, 255), kYellow(255, 255, 0), kRed(255, 0, 0);

} // namespace

class TstSetpoints : public QObject {
    Q_OBJECT
private slots:
    // ---- ratings in the window

    void startsWithTheBuildsDefaultRating_data()
    {
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("kvTip");
        QTest::addColumn<QString>("maTip");
        QTest::newRow("plv: 70 kV 600 W") << "plv" << "Menu70KV600W" << "0 to 70 kV" << "0 to 8.57 mA";
        QTest::newRow("plr: 140 kV 600 W") << "plr" << "Menu140KV600W" << "0 to 140 kV" << "0 to 4.28 mA";
    }
    void startsWithTheBuildsDefaultRating()
    {
        QFETCH(QString, build);
        QFETCH(QString, item);
        QFETCH(QString, kvTip);
        QFETCH(QString, maTip);
        Rig rig(buildNamed(build));
        QCOMPARE(ratingItems(*rig.win).size(), 18);
        QCOMPARE(checkedRatings(*rig.win), QStringList{item});
        QCOMPARE(rig.win->editor().opt[0]->toolTip(), kvTip);
        QCOMPARE(rig.win->editor().opt[1]->toolTip(), maTip);
    }

    void choosingARatingSetsItsFactorsAndOneCheck_data()
    {
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("item");
        QTest::addColumn<double>("voltsPerCount");
        QTest::addColumn<double>("fullScaleMa");
        QTest::addColumn<QString>("kvTip");
        QTest::addColumn<QString>("maTip");
        QTest::newRow("plv 20 kV 300 W") << "plv" << "Menu20KV300W" << 4.884 << 15.0 << "0 to 20 kV" << "0 to 15 mA";
        QTest::newRow("plv 70 kV 1200 W") << "plv" << "Menu70KV1200W" << 17.094 << 1200.0 / 70 << "0 to 70 kV"
                                          << "0 to 17.14 mA";
        QTest::newRow("plr 120 kV keeps its own constant") << "plr" << "Menu120KV1200W" << 29.3 << 10.0
                                                           << "0 to 120 kV" << "0 to 10.0 mA";
        QTest::newRow("plr 40 kV 300 W") << "plr" << "Menu40KV300W" << 9.768 << 7.5 << "0 to 40 kV" << "0 to 7.5 mA";
    }
    void choosingARatingSetsItsFactorsAndOneCheck()
    {
        QFETCH(QString, build);
        QFETCH(QString, item);
        QFETCH(double, voltsPerCount);
        QFETCH(double, fullScaleMa);
        QFETCH(QString, kvTip);
        QFETCH(QString, maTip);
        Rig rig(buildNamed(build));
        rig.trigger(item.toLatin1().constData());
        QCOMPARE(checkedRatings(*rig.win), QStringList{item});
        QCOMPARE(rig.win->rating().VoltsPerCount, voltsPerCount);
        QVERIFY(qFuzzyCompare(rig.win->rating().MilliampsPerCount * 4095, fullScaleMa));
        QCOMPARE(rig.win->editor().opt[0]->toolTip(), kvTip);
        QCOMPARE(rig.win->editor().opt[1]->toolTip(), maTip);
        QVERIFY(rig.wire().isEmpty());
    }

    void aRatingChangeRewritesNothingShownButTheNextConversion()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        SetpointEditor &ed = rig.win->editor();
        rig.sim.setSetpoint(0, 2048);
        rig.win->dacs().button(Channel::A)->click();
        QCOMPARE(rig.win->dacs().box(Channel::A)->text(), QStringLiteral("35.01 kV"));
        ed.opt[1]->click();
        ed.ctrl_BITVAL->setValue(100);
        const double scaled = ed.ctrl_SCALVAL->value();
        const double step = ed.ctrl_SCALVAL->singleStep();

        rig.trigger("Menu20KV600W");
        QCOMPARE(rig.win->dacs().box(Channel::A)->text(), QStringLiteral("35.01 kV"));
        QCOMPARE(ed.ctrl_SCALVAL->value(), scaled);
        QCOMPARE(ed.ctrl_SCALVAL->singleStep(), step);

        rig.win->dacs().button(Channel::A)->click();
        QCOMPARE(rig.win->dacs().box(Channel::A)->text(), QStringLiteral("10.00 kV"));
        ed.opt[1]->click();
        QVERIFY(qFuzzyCompare(ed.ctrl_SCALVAL->singleStep() * 4095, 30.0));
    }

    // ---- setpoint editor

    void selectingBAfterAKeepsZeroAndTakesBsLimits_data()
    {
        QTest::addColumn<QString>("build");
        QTest::addColumn<double>("fullScaleMa");
        QTest::newRow("plv") << "plv" << 600.0 / 70;
        QTest::newRow("plr") << "plr" << 600.0 / 140;
    }
    void selectingBAfterAKeepsZeroAndTakesBsLimits()
    {
        QFETCH(QString, build);
        QFETCH(double, fullScaleMa);
        Rig rig(buildNamed(build));
        SetpointEditor &ed = rig.win->editor();
        ed.opt[0]->click();
        ed.opt[1]->click();
        QCOMPARE(ed.lbl_CHMOD->text(), QStringLiteral("Now Modifying MA_PROG"));
        QCOMPARE(ed.ctrl_BITVAL->value(), 0.0);
        QCOMPARE(ed.ctrl_SCALVAL->value(), 0.0);
        QCOMPARE(ed.ctrl_SCALVAL->maximum(), 8.56);
        QVERIFY(qFuzzyCompare(ed.ctrl_SCALVAL->singleStep() * 4095, fullScaleMa));
        QCOMPARE(ed.NewDAC[0], 0);
        QCOMPARE(ed.NewDAC[1], 0);
        QVERIFY(rig.wire().isEmpty());
    }

    void scaledEntryBecomesARoundedCount_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<double>("bits");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("50000 V on A is 2925.0029 counts, sends 2925")
            << 0 << "50000" << 50000 / 17.094 << QByteArray("10,2925,");
        QTest::newRow("2.5 counts of kV round to even 2") << 0 << "42.735" << 2.5 << QByteArray("10,2,");
        QTest::newRow("3.5 counts of kV round to even 4") << 0 << "59.829" << 3.5 << QByteArray("10,4,");
        QTest::newRow("2.5 counts of filament limit round to 2") << 2 << "0.0030525" << 2.5 << QByteArray("12,2,");
        QTest::newRow("3.5 counts of filament limit round to 4") << 2 << "0.0042735" << 3.5 << QByteArray("12,4,");
    }
    void scaledEntryBecomesARoundedCount()
    {
        QFETCH(int, channel);
        QFETCH(QString, typed);
        QFETCH(double, bits);
        QFETCH(QByteArray, sent);
        Rig rig;
        QVERIFY(rig.attachTcp());
        SetpointEditor &ed = rig.win->editor();
        ed.opt[channel]->click();
        typeInto(ed.ctrl_SCALVAL, typed);
        QVERIFY(qFuzzyCompare(ed.ctrl_BITVAL->value(), bits));
        ed.btn_UPDATE->click();
        QCOMPARE(rig.wire(), QList<QByteArray>{sent});
        QVERIFY(rig.prompt.messages.isEmpty());
    }

    // The scaled box says its unit; what PROGRAM would send reads as a count and its
    // value under the selected rating, following a new entry and a new rating.
    void entriesSayTheirUnit_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("typedBits");
        QTest::addColumn<QString>("rating");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("wouldSend");
        QTest::newRow("kV in volts") << 0 << "2048" << "" << "V" << "count 2048 = 35.01 kV at 70 kV / 600 W";
        QTest::newRow("the same count under 20 kV") << 0 << "2048" << "Menu20KV600W" << "V" << "count 2048 = 10.00 kV at 20 kV / 600 W";
        QTest::newRow("mA") << 1 << "4095" << "" << "mA" << "count 4095 = 8.571 mA at 70 kV / 600 W";
        QTest::newRow("filament limit in A") << 2 << "4095" << "" << "A" << "count 4095 = 5.000 A at 70 kV / 600 W";
    }
    void entriesSayTheirUnit()
    {
        QFETCH(int, channel);
        QFETCH(QString, typedBits);
        QFETCH(QString, rating);
        QFETCH(QString, unit);
        QFETCH(QString, wouldSend);
        Rig rig;
        SetpointEditor &ed = rig.win->editor();
        ed.opt[channel]->click();
        typeInto(ed.ctrl_BITVAL, typedBits);
        if (!rating.isEmpty())
            rig.trigger(rating.toLatin1().constData());
        QCOMPARE(ed.lbl_SCALUNIT->text(), unit);
        QCOMPARE(ed.lbl_WOULDSEND->text(), wouldSend);
    }

    void entriesBeyondTheRangeAreRefusedAndNeverSent_data()
    {
        QTest::addColumn<QString>("rating");
        QTest::addColumn<bool>("scaledBox");
        QTest::addColumn<QString>("typed");
        QTest::newRow("20 kV rating: 70000 V would be 14332 counts") << "Menu20KV600W" << true << "70000";
        QTest::newRow("above the scaled box's 70000 V limit") << "Menu70KV600W" << true << "80000";
        QTest::newRow("bit box above 4095") << "Menu70KV600W" << false << "5000";
        QTest::newRow("negative bit value") << "Menu70KV600W" << false << "-1";
    }
    void entriesBeyondTheRangeAreRefusedAndNeverSent()
    {
        QFETCH(QString, rating);
        QFETCH(bool, scaledBox);
        QFETCH(QString, typed);
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.trigger(rating.toLatin1().constData());
        SetpointEditor &ed = rig.win->editor();
        ed.opt[0]->click();
        typeInto(scaledBox ? ed.ctrl_SCALVAL : ed.ctrl_BITVAL, typed);
        QCOMPARE(rig.prompt.messages.size(), 1);
        QVERIFY(!rig.prompt.messages[0].text.isEmpty());
        QCOMPARE(ed.ctrl_BITVAL->value(), 0.0);
        QCOMPARE(ed.ctrl_SCALVAL->value(), 0.0);
        QCOMPARE(ed.NewDAC[0], 0);
        ed.btn_UPDATE->click();
        QCOMPARE(rig.wire(), QList<QByteArray>{"10,0,"});
    }

    // A limit is quoted, and taken when typed, as the result box shows values.
    void scaledLimitsAsShown_data()
    {
        QTest::addColumn<int>("channel");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("count");      // pending count afterwards
        QTest::addColumn<QString>("refusal");   // empty: no message
        QTest::newRow("filament limit: 5 is the 5.000 shown") << 2 << "5" << 4095 << QString();
        QTest::newRow("filament limit: 5.01 is refused naming 5.000") << 2 << "5.01" << 0
                                                                      << "Enter a value from 0.000 to 5.000.";
        QTest::newRow("preheat: 2.5004 reads 2.500, the limit") << 3 << "2.5004" << 4095 << QString();
        QTest::newRow("below zero is refused naming 0.000") << 3 << "-0.01" << 0 << "Enter a value from 0.000 to 2.500.";
    }
    void scaledLimitsAsShown()
    {
        QFETCH(int, channel);
        QFETCH(QString, typed);
        QFETCH(int, count);
        QFETCH(QString, refusal);
        Rig rig;
        SetpointEditor &ed = rig.win->editor();
        ed.opt[channel]->click();
        typeInto(ed.ctrl_SCALVAL, typed);
        QCOMPARE(ed.NewDAC[channel], count);
        QCOMPARE(rig.prompt.messages.size(), refusal.isEmpty() ? 0 : 1);
        if (!refusal.isEmpty())
            QCOMPARE(rig.prompt.messages[0].text, refusal);
    }

    // Access keys pressed on the main window as the window system delivers them.
    void accessKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("effect");   // "menu", "bitvalue" or the command sent
        QTest::newRow("Alt+V opens the View menu") << int(Qt::Key_V) << "menu";
        QTest::newRow("Alt+B goes to Bit Value") << int(Qt::Key_B) << "bitvalue";
        QTest::newRow("Alt+T tries out") << int(Qt::Key_T) << "10,0,";
        QTest::newRow("Alt+R programs") << int(Qt::Key_R) << "10,0,";
        QTest::newRow("Alt+N cancels") << int(Qt::Key_N) << "10,0,";
    }
    void accessKeys()
    {
        QFETCH(int, key);
        QFETCH(QString, effect);
        Rig rig;
        QVERIFY(rig.attachTcp());
        rig.win->show();
        QVERIFY(QTest::qWaitForWindowActive(rig.win.get()));
        rig.sim.clearTrace();
        QTest::keyClick(rig.win->windowHandle(), Qt::Key(key), Qt::AltModifier);
        if (effect == QLatin1String("menu")) {
            auto *view = rig.win->findChild<QMenu *>(QStringLiteral("mnu_VIEW"));
            QTRY_VERIFY(view && view->isVisible());
            view->close();
        } else if (effect == QLatin1String("bitvalue")) {
            QTRY_VERIFY(rig.win->editor().ctrl_BITVAL->isAncestorOf(QApplication::focusWidget())
                        || QApplication::focusWidget() == rig.win->editor().ctrl_BITVAL);
        } else {
            QVERIFY(rig.waitForCommands(1));
            QCOMPARE(rig.wire().value(0), effect.toLatin1());
        }
    }

    void fullScaleUnder140kVGoesOutAboveTheScaledLimit()
    {
        Rig rig(plrBuild());
        QVERIFY(rig.attachSerial());
        SetpointEditor &ed = rig.win->editor();
        typeInto(ed.ctrl_BITVAL, QStringLiteral("4095"));
        QCOMPARE(ed.NewDAC[0], 4095);
        ed.btn_UPDATE->click();
        QCOMPARE(rig.wire(), QList<QByteArray>{"10,4095,"});
        QCOMPARE(rig.win->dacs().box(Channel::A)->text(), QStringLiteral("140.000 kV"));
        QVERIFY(rig.prompt.messages.isEmpty());
    }

    // At 140 kV, 3000 counts is 102564 V, above the scaled box's 70000 V limit: one Down
    // is one count less, not a jump to the limit (2048 counts).
    void aStepBeyondTheScaledLimitMovesOneCount()
    {
        Rig rig(plrBuild());
        SetpointEditor &ed = rig.win->editor();
        ed.opt[0]->click();
        ed.ctrl_BITVAL->setValue(3000);
        QTest::keyClick(ed.ctrl_SCALVAL, Qt::Key_Down);
        QCOMPARE(ed.NewDAC[0], 2999);
        QTest::keyClick(ed.ctrl_SCALVAL, Qt::Key_Up);
        QCOMPARE(ed.NewDAC[0], 2999);
    }

    void tryOutShowsTheUnitsAnswer_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<int>("errors");
        QTest::addColumn<QString>("lastError");
        QTest::newRow("A accepted over tcp: kV confirmation")
            << "tcp" << "unit" << 0 << 2048 << QByteArray("10,2048,") << "35.009 kV" << kWhite << 0 << "";
        QTest::newRow("B accepted over pty: mA confirmation")
            << "pty" << "unit" << 1 << 4095 << QByteArray("11,4095,") << "8.571 mA" << kWhite << 0 << "";
        QTest::newRow("C at zero sends 12,0,")
            << "tcp" << "unit" << 2 << 0 << QByteArray("12,0,") << "0.000 A" << kWhite << 0 << "";
        QTest::newRow("D accepted: ampere confirmation")
            << "pty" << "unit" << 3 << 2000 << QByteArray("13,2000,") << "1.221 A" << kWhite << 0 << "";
        QTest::newRow("refused: Invalid on yellow, last error 1")
            << "pty" << "refuse" << 0 << 100 << QByteArray("10,100,") << "Invalid" << kYellow << 0 << "1";
        QTest::newRow("silent: No Comms on red, one error")
            << "tcp" << "silent" << 0 << 100 << QByteArray("10,100,") << "No Comms" << kRed << 1 << "";
        QTest::newRow("any other answer counts as No Comms")
            << "tcp" << "other" << 1 << 7 << QByteArray("11,7,") << "No Comms" << kRed << 1 << "";
    }
    void tryOutShowsTheUnitsAnswer()
    {
        QFETCH(QString, link);
        QFETCH(QString, answer);
        QFETCH(int, channel);
        QFETCH(int, count);
        QFETCH(QByteArray, sent);
        QFETCH(QString, text);
        QFETCH(QColor, color);
        QFETCH(int, errors);
        QFETCH(QString, lastError);
        Rig rig;
        QVERIFY(attach(rig, link));
        answerAs(rig, answer);
        SetpointEditor &ed = rig.win->editor();
        ed.opt[channel]->click();
        ed.ctrl_BITVAL->setValue(count);
        ed.btn_UPDATE->click();

        QCOMPARE(rig.wire(), QList<QByteArray>{sent});
        QLineEdit *box = rig.win->dacs().box(Channel(channel));
        QCOMPARE(box->text(), text);
        QCOMPARE(boxColor(box), color);
        QCOMPARE(rig.s().CommErrors(), errors);
        QCOMPARE(rig.win->extras().txt_COMMERRORS->text(), QStringLiteral(" %1").arg(errors));
        QCOMPARE(rig.win->extras().txt_LASTERROR->text(), lastError);
        if (answer == QLatin1String("unit"))
            QCOMPARE(rig.sim.setpoint(channel), count);
    }

    void programAfterNoCommsStillAcceptsThePendingCount()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        answerAs(rig, QStringLiteral("silent"));
        SetpointEditor &ed = rig.win->editor();
        ed.ctrl_BITVAL->setValue(1234);
        ed.btn_ACCEPT->click();
        QCOMPARE(rig.wire(), QList<QByteArray>{"10,1234,"});
        QCOMPARE(rig.win->dacs().box(Channel::A)->text(), QStringLiteral("No Comms"));
        QCOMPARE(ed.OldDAC[0], 1234);
        ed.opt[1]->click();
        ed.opt[0]->click();
        QCOMPARE(ed.ctrl_BITVAL->value(), 1234.0);
    }

    // A channel clicked while PROGRAM waits takes effect after it: PROGRAM accepts what
    // it sent on A, and B's pending count, never sent, is not accepted.
    void aChannelPickedDuringProgramWaitsForIt()
    {
        Rig rig;
        QVERIFY(rig.attachTcp());
        SetpointEditor &ed = rig.win->editor();
        ed.opt[1]->click();
        ed.ctrl_BITVAL->setValue(3000);
        ed.opt[0]->click();
        ed.ctrl_BITVAL->setValue(100);
        rig.sim.setFaults({.replyDelayMs = 600});
        connect(&rig.sim, &SimUnit::commandReceived, this, [&](const QByteArray &p) {
            if (p == "10,100,") {
                ed.opt[1]->click();
                QVERIFY(ed.opt[0]->isChecked());
            }
        });
        ed.btn_ACCEPT->click();
        QTRY_VERIFY_WITH_TIMEOUT(ed.opt[1]->isChecked(), 5000);
        QCOMPARE(ed.OldDAC[0], 100);
        QCOMPARE(ed.OldDAC[1], 0);
        rig.sim.setFaults({});
        ed.btn_CANCEL->click();
        QVERIFY(rig.waitForCommands(2));
        QCOMPARE(rig.wire(), (QList<QByteArray>{"10,100,", "11,0,"}));
    }

    void cancelSendsTheAcceptedCountWithoutWaiting_data()
    {
        QTest::addColumn<int>("programmed");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("before any PROGRAM: zero") << -1 << QByteArray("10,0,");
        QTest::newRow("after PROGRAM: the accepted count") << 1234 << QByteArray("10,1234,");
    }
    void cancelSendsTheAcceptedCountWithoutWaiting()
    {
        QFETCH(int, programmed);
        QFETCH(QByteArray, sent);
        Rig rig;
        QVERIFY(rig.attachTcp());
        SetpointEditor &ed = rig.win->editor();
        if (programmed >= 0) {
            ed.ctrl_BITVAL->setValue(programmed);
            ed.btn_ACCEPT->click();
        }
        const QString shown = rig.win->dacs().box(Channel::A)->text();
        rig.sim.clearTrace();
        ed.ctrl_BITVAL->setValue(500);
        ed.btn_CANCEL->click();
        // Its answer, and any status frame after it, are left to the receive timer.
        QVERIFY(rig.s().tmr_NETRCVTMR->isActive());
        QVERIFY(rig.waitForCommands(1));
        QCOMPARE(rig.wire(), QList<QByteArray>{sent});
        const int accepted = std::max(programmed, 0);
        QCOMPARE(ed.ctrl_BITVAL->value(), double(accepted));
        QCOMPARE(ed.NewDAC[0], accepted);
        QCOMPARE(rig.win->dacs().box(Channel::A)->text(), shown);
        QCOMPARE(rig.s().CommErrors(), 0);
    }

    void aSetpointTriedProgrammedAndReadBack_data()
    {
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("count");
        QTest::newRow("plv over tcp: 35000 V is 2048 counts") << "plv" << "tcp" << 2048;
        QTest::newRow("plr over pty: 35000 V is 1024 counts") << "plr" << "pty" << 1024;
    }
    void aSetpointTriedProgrammedAndReadBack()
    {
        QFETCH(QString, build);
        QFETCH(QString, link);
        QFETCH(int, count);
        Rig rig(buildNamed(build));
        QVERIFY(attach(rig, link));
        SetpointEditor &ed = rig.win->editor();
        QLineEdit *box = rig.win->dacs().box(Channel::A);
        typeInto(ed.ctrl_SCALVAL, QStringLiteral("35000"));
        ed.btn_UPDATE->click();
        QCOMPARE(box->text(), QStringLiteral("35.009 kV"));
        ed.btn_ACCEPT->click();
        QCOMPARE(ed.OldDAC[0], count);
        QCOMPARE(rig.sim.setpoint(0), count);
        rig.win->dacs().button(Channel::A)->click();
        QCOMPARE(box->text(), QStringLiteral("35.01 kV"));
        const QByteArray set = "10," + QByteArray::number(count) + ',';
        QCOMPARE(rig.wire(), (QList<QByteArray>{set, set, "14,"}));
        QCOMPARE(rig.s().CommErrors(), 0);
    }

    // ---- setpoint readbacks

    void readbackShowsTheUnitsSetpoint_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("text");   // empty: the box keeps what it showed
        QTest::newRow("A 2048 at 70 kV") << "tcp" << "plv" << "unit" << 0 << 2048 << "35.01 kV";
        QTest::newRow("B 4095 at 600 W") << "pty" << "plv" << "unit" << 1 << 4095 << "8.57 mA";
        QTest::newRow("A zero") << "pty" << "plv" << "unit" << 0 << 0 << "0.00 kV";
        QTest::newRow("B zero") << "tcp" << "plv" << "unit" << 1 << 0 << "0.00 mA";
        QTest::newRow("C 2047") << "tcp" << "plv" << "unit" << 2 << 2047 << "2.499 A";
        QTest::newRow("D 4095") << "pty" << "plv" << "unit" << 3 << 4095 << "2.500 A";
        QTest::newRow("A 2048 at 140 kV") << "tcp" << "plr" << "unit" << 0 << 2048 << "70.02 kV";
        QTest::newRow("silent: box and errors unchanged") << "tcp" << "plv" << "silent" << 0 << 1 << "";
        QTest::newRow("$ field: not a count") << "pty" << "plv" << "dollar" << 1 << 1 << "";
    }
    void readbackShowsTheUnitsSetpoint()
    {
        QFETCH(QString, link);
        QFETCH(QString, build);
        QFETCH(QString, answer);
        QFETCH(int, channel);
        QFETCH(int, count);
        QFETCH(QString, text);
        Rig rig(buildNamed(build));
        QVERIFY(attach(rig, link));
        rig.sim.setSetpoint(channel, count);
        answerAs(rig, answer);
        QLineEdit *box = rig.win->dacs().box(Channel(channel));
        box->setText(QStringLiteral("No Comms"));
        setBoxColor(box, kRed);

        rig.win->dacs().button(Channel(channel))->click();
        QCOMPARE(rig.wire(), QList<QByteArray>{QByteArray::number(14 + channel) + ','});
        QCOMPARE(box->text(), text.isEmpty() ? QStringLiteral("No Comms") : text);
        QCOMPARE(boxColor(box), text.isEmpty() ? kRed : kWhite);
        QCOMPARE(rig.s().CommErrors(), 0);
        ReceiveTimer *rearmed = link == QLatin1String("tcp") ? rig.s().tmr_NETRCVTMR : rig.s().tmr_RCVTIMER;
        QVERIFY(rearmed->isActive());
    }
};

QTEST_MAIN(TstSetpoints)
#include "tst_setpoints.moc"
