// Service functions: the About box and its special mode, the diagnostics window, the
// pass-through toggle, the locked configuration dialog and the unit's baud rate.
#include "testsupport.h"

#include "panels/dialogs.h"
#include "widgets/widgets.h"
#include "panels/statuspanel.h"
#include "unit/updatecycle.h"
#include "panels/infopanel.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace plv;
using namespace plv::test;

namespace {

const BuildData &buildNamed(const QString &id) { return id == QLatin1String("plr") ? plrBuild() : plvBuild(); }

bool attach(Rig &rig, const QString &link) { return link == QLatin1String("pty") ? rig.attachSerial() : rig.attachTcp(); }

// One password entry through the About box; "<cancel>" cancels the input box.
bool enterPassword(Rig &rig, const QString &entry)
{
    rig.trigger("mnu_ABOUT");
    QPointer<RevScreen> about = rig.win->aboutBox();
    if (!about || !about->isVisible())
        return false;
    rig.prompt.inputs.enqueue(entry == QLatin1String("<cancel>") ? std::nullopt : std::optional<QString>(entry));
    QTest::mouseDClick(about->Label3, Qt::LeftButton);
    return QTest::qWaitFor([&] { return about.isNull(); }, 5000)
        && rig.prompt.prompts.value(rig.prompt.prompts.size() - 1) == QLatin1String("Enter Mode Password");
}

// Visible and enabled, for mnu_EXTRAS and mnu_PASSTHRU.
QList<bool> specialItems(Rig &rig)
{
    QList<bool> out;
    for (const char *name : {"mnu_EXTRAS", "mnu_PASSTHRU"}) {
        QAction *a = find<QAction>(rig.win.get(), name);
        out << (a->isVisible() && a->isEnabled());
    }
    return out;
}

// Opens Configure, unlocks it with the right key and runs 'body' inside it, then OK.
void inUnlockedConfig(Rig &rig, std::function<void(ConfigDialog &)> body)
{
    rig.prompt.dialogs.enqueue([&rig, body](QDialog &d) {
        auto &c = static_cast<ConfigDialog &>(d);
        rig.prompt.inputs.enqueue(QStringLiteral("7291"));
        c.Command2->click();
        body(c);
        c.Command1->click();
        return c.result();
    });
    rig.trigger("mnu_Config");
}

} // namespace

class TstService : public QObject {
    Q_OBJECT
private slots:
    void aboutBoxNamesTheBuild_data()
    {
        QTest::addColumn<QString>("build");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("version");
        QTest::newRow("plv") << "plv" << "About the PLV Interface" << " GUI for Standard PLV" << "Version 8.0";
        QTest::newRow("plr") << "plr" << "About the PLR Interface" << " GUI for Standard PLR" << "Version 1.0";
    }
    void aboutBoxNamesTheBuild()
    {
        QFETCH(QString, build);
        QFETCH(QString, caption);
        QFETCH(QString, title);
        QFETCH(QString, version);
        Rig rig(buildNamed(build));
        rig.trigger("mnu_ABOUT");
        RevScreen *about = rig.win->aboutBox();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->objectName(), QStringLiteral("RevScreen"));
        QCOMPARE(about->windowTitle(), caption);
        QCOMPARE(about->Label1->text(), title);
        QCOMPARE(about->Label3->text(), version);
        QVERIFY(!about->Picture1->pixmap().isNull());
    }

    void passwordOpensTheSpecialMode_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("special");
        QTest::newRow("right") << QStringList{"qbt"} << true;
        QTest::newRow("wrong") << QStringList{"abc"} << false;
        QTest::newRow("capitals are wrong") << QStringList{"QBT"} << false;
        QTest::newRow("cancelled") << QStringList{"<cancel>"} << false;
        QTest::newRow("right twice") << QStringList{"qbt", "qbt"} << true;
        QTest::newRow("wrong after right keeps it") << QStringList{"qbt", "nope"} << true;
    }
    void passwordOpensTheSpecialMode()
    {
        QFETCH(QStringList, entries);
        QFETCH(bool, special);
        Rig rig;
        QCOMPARE(specialItems(rig), (QList<bool>{false, false}));
        for (const QString &e : entries)
            QVERIFY2(enterPassword(rig, e), qPrintable(e));
        QCOMPARE(specialItems(rig), (QList<bool>{special, special}));
        QCOMPARE(rig.win->extrasLoaded() && rig.win->extras().isVisible(), special);
        QVERIFY(rig.prompt.messages.isEmpty());
        QVERIFY(rig.wire().isEmpty());
    }

    void extrasWindowShowsTheErrorCount()
    {
        Rig rig;
        QVERIFY(enterPassword(rig, QStringLiteral("qbt")));
        rig.win->extras().close();
        for (int i = 0; i < 7; ++i)
            rig.s().countError();
        rig.trigger("mnu_EXTRAS");
        QVERIFY(rig.win->extras().isVisible());
        QCOMPARE(rig.win->extras().txt_COMMERRORS->text(), QStringLiteral("7"));
    }

    void passthroughSendsNinetySix_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("silent");
        QTest::newRow("tcp, unit answers") << "tcp" << false;
        QTest::newRow("pty, unit answers") << "pty" << false;
        QTest::newRow("tcp, silent counts an error") << "tcp" << true;
        QTest::newRow("pty, silent counts an error") << "pty" << true;
    }
    void passthroughSendsNinetySix()
    {
        QFETCH(QString, link);
        QFETCH(bool, silent);
        Rig rig;
        QVERIFY(attach(rig, link));
        QVERIFY(enterPassword(rig, QStringLiteral("qbt")));
        rig.sim.setFaults({.silent = silent});
        rig.trigger("mnu_PASSTHRU");
        QCOMPARE(rig.wire(), QList<QByteArray>{"96,"});
        QCOMPARE(rig.sim.passthrough(), !silent);
        QCOMPARE(rig.s().CommErrors(), silent ? 1 : 0);
        QCOMPARE(rig.win->extras().txt_COMMERRORS->text(), silent ? QStringLiteral("1") : QString());
        // The time of the missed reply, to the millisecond.
        const QDateTime missed = QDateTime::fromString(rig.win->extras().txt_LASTMISSED->text(),
                                                       QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        QCOMPARE(missed.isValid(), silent);
        if (silent)
            QVERIFY(qAbs(missed.secsTo(QDateTime::currentDateTime())) < 60);
        QVERIFY(rig.prompt.messages.isEmpty());
    }

    // ---- Configure

    void configOpensLockedEveryTime()
    {
        Rig rig;
        QList<bool> enabledAtOpen, enabledAfterKey;
        auto opening = [&](bool unlock) {
            rig.prompt.dialogs.enqueue([&, unlock](QDialog &d) {
                auto &c = static_cast<ConfigDialog &>(d);
                enabledAtOpen << (c.model->isEnabled() || c.hardware->isEnabled() || c.filaLimit->isEnabled());
                if (unlock) {
                    rig.prompt.inputs.enqueue(QStringLiteral("7291"));
                    c.Command2->click();
                    enabledAfterKey << (c.model->isEnabled() && c.hardware->isEnabled() && c.filaLimit->isEnabled());
                }
                c.Command1->click();
                return c.result();
            });
            rig.trigger("mnu_Config");
        };
        opening(true);
        opening(false);
        QCOMPARE(enabledAtOpen, (QList<bool>{false, false}));
        QCOMPARE(enabledAfterKey, QList<bool>{true});
        QCOMPARE(rig.prompt.prompts, QStringList{"Enter Key to UnLock:"});
    }

    void aWrongKeyClosesConfig_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("wrong digits") << "1234";
        QTest::newRow("empty") << "";
        QTest::newRow("cancelled") << "<cancel>";
    }
    void aWrongKeyClosesConfig()
    {
        QFETCH(QString, key);
        Rig rig;
        QVERIFY(rig.attachTcp());
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        int result = -1;
        bool locked = false;
        rig.prompt.dialogs.enqueue([&](QDialog &d) {
            auto &c = static_cast<ConfigDialog &>(d);
            rig.prompt.inputs.enqueue(key == QLatin1String("<cancel>") ? std::nullopt : std::optional<QString>(key));
            c.Command2->click();
            result = c.result();
            locked = !c.model->isEnabled() && !c.hardware->isEnabled() && !c.filaLimit->isEnabled();
            return result;
        });
        rig.trigger("mnu_Config");
        QCOMPARE(result, int(QDialog::Rejected));
        QVERIFY(locked);
        QCOMPARE(tx.count(), 0);
        QVERIFY(rig.prompt.messages.isEmpty());
    }

    void filamentLimitEntry_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("sent");   // empty: nothing goes out
        QTest::addColumn<bool>("message");
        QTest::newRow("5") << "5" << QByteArray("95,2047,") << false;
        QTest::newRow("5.00") << "5.00" << QByteArray("95,2047,") << false;
        QTest::newRow("5.0") << "5.0" << QByteArray("95,2047,") << false;
        QTest::newRow("2.5 rounds down to 1023") << "2.5" << QByteArray("95,1023,") << false;
        QTest::newRow("0.001 rounds down to 0") << "0.001" << QByteArray("95,0,") << false;
        QTest::newRow("0") << "0" << QByteArray("95,0,") << false;
        QTest::newRow("not a number") << "abc" << QByteArray() << true;
        QTest::newRow("negative") << "-1" << QByteArray() << true;
        QTest::newRow("above 5 A") << "6" << QByteArray() << true;
        QTest::newRow("just above 5 A") << "5.001" << QByteArray() << true;
        QTest::newRow("empty") << "" << QByteArray() << true;
        QTest::newRow("cancelled sends nothing quietly") << "<cancel>" << QByteArray() << false;
    }
    void filamentLimitEntry()
    {
        QFETCH(QString, entry);
        QFETCH(QByteArray, sent);
        QFETCH(bool, message);
        Rig rig;
        QVERIFY(rig.attachTcp());
        const int codeBefore = rig.sim.filamentLimitCode();
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        inUnlockedConfig(rig, [&](ConfigDialog &c) {
            rig.prompt.inputs.enqueue(entry == QLatin1String("<cancel>") ? std::nullopt : std::optional<QString>(entry));
            c.filaLimit->click();
        });
        QCOMPARE(rig.prompt.prompts.last(), QStringLiteral("Enter Filament Limit: EX. 0 - 5.00A"));
        QCOMPARE(rig.prompt.messages.size(), message ? 1 : 0);
        QVERIFY(rig.s().tmr_NETRCVTMR->isActive());
        if (sent.isEmpty()) {
            QCOMPARE(tx.count(), 0);
            QCOMPARE(rig.sim.filamentLimitCode(), codeBefore);
            return;
        }
        QVERIFY(rig.waitForCommands(1));
        QCOMPARE(rig.wire(), QList<QByteArray>{sent});
        QCOMPARE(QByteArray::number(rig.sim.filamentLimitCode()), sent.mid(3).chopped(1));
    }

    void severalWritesInOneUnlockedOpening()
    {
        Rig rig;
        QVERIFY(rig.attachSerial());
        rig.s().setAutoUpdate(true);
        bool stillUnlocked = false;
        inUnlockedConfig(rig, [&](ConfigDialog &c) {
            rig.prompt.inputs << QStringLiteral("X0700") << QStringLiteral("B02") << QStringLiteral("2.5");
            c.model->click();
            c.hardware->click();
            c.filaLimit->click();
            stillUnlocked = c.model->isEnabled() && c.hardware->isEnabled() && c.filaLimit->isEnabled();
        });
        QVERIFY(stillUnlocked);
        QVERIFY(rig.s().tmr_RCVTIMER->isActive());
        QVERIFY(rig.s().tmr_UPDATE->isActive());
        rig.win->cycle().mnu_MANUAL_Click();
        QVERIFY(rig.waitForCommands(5));
        // Each text read back by its query; no query reads the filament limit.
        QCOMPARE(rig.wire(), (QList<QByteArray>{"93,X0700,", "26,", "94,B02,", "24,", "95,1023,"}));
        QCOMPARE(rig.win->info().txt_MODNUM->text(), QStringLiteral("PLV70-X0700"));
        QCOMPARE(rig.win->info().txt_HWREV->text(), QStringLiteral("B02"));
        QCOMPARE(rig.sim.modelNumber(), QStringLiteral("X0700"));
        QCOMPARE(rig.sim.hardwareRevision(), QStringLiteral("B02"));
        QCOMPARE(rig.sim.filamentLimitCode(), 1023);
        QVERIFY(rig.prompt.messages.isEmpty());
    }

    // What became of each write is said in the dialog; a value not taken in a warning too.
    void aWriteSaysWhetherTheUnitTookIt_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("answer");   // "sim", "refuse" or "silent" (after the write)
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("modelBox");
        QTest::newRow("a model that does not read back is not taken")
            << "model" << "PLV60-X0600" << "sim"
            << "The unit did not take the model number \"PLV60-X0600\": it reads back \"PLV70\" (it acknowledged "
               "the write)."
            << "PLV70";
        QTest::newRow("a hardware revision read back is taken")
            << "hardware" << "C03" << "sim" << "The unit took the hardware revision \"C03\": it reads back \"C03\"."
            << "Rev. ??";
        QTest::newRow("a filament limit answered $ is taken")
            << "filaLimit" << "2.5" << "sim" << "The unit took the filament limit 2.5 A (code 1023)." << "Rev. ??";
        QTest::newRow("a filament limit refused names the code")
            << "filaLimit" << "2.5" << "refuse"
            << "The unit did not take the filament limit 2.5 A (code 1023): error code 1." << "Rev. ??";
        QTest::newRow("a model without a read-back is not known to be taken")
            << "model" << "X0700" << "silent"
            << "The model number \"X0700\" was sent (it did not answer the write), but the unit did not answer the "
               "read-back: whether it took it is not known."
            << "Unknown";
    }
    void aWriteSaysWhetherTheUnitTookIt()
    {
        QFETCH(QString, button);
        QFETCH(QString, entry);
        QFETCH(QString, answer);
        QFETCH(QString, result);
        QFETCH(QString, modelBox);
        Rig rig;
        QVERIFY(rig.attachTcp());
        SimUnit::Faults f;
        f.refuseAll = answer == QLatin1String("refuse");
        f.silent = answer == QLatin1String("silent");
        rig.sim.setFaults(f);
        QString shown;
        inUnlockedConfig(rig, [&](ConfigDialog &c) {
            rig.prompt.inputs.enqueue(entry);
            c.findChild<QPushButton *>(button)->click();
            shown = c.lbl_RESULT->text();
        });
        QCOMPARE(shown, result);
        const bool taken = result.startsWith(QLatin1String("The unit took"));
        QCOMPARE(rig.prompt.messages.size(), taken ? 0 : 1);
        if (!taken)
            QCOMPARE(rig.prompt.messages[0].text, result);
        QCOMPARE(rig.win->info().txt_MODNUM->text(), modelBox);
    }

    void unitTextThatCannotBeSentIsRefused_data()
    {
        QTest::addColumn<bool>("model");
        QTest::addColumn<QString>("entry");
        QTest::newRow("model with a comma") << true << "PLV,01";
        QTest::newRow("empty model") << true << "";
        QTest::newRow("hardware with a comma") << false << "A,1";
        QTest::newRow("hardware with a control character") << false << QStringLiteral("A\x01");
    }
    void unitTextThatCannotBeSentIsRefused()
    {
        QFETCH(bool, model);
        QFETCH(QString, entry);
        Rig rig;
        QVERIFY(rig.attachTcp());
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        inUnlockedConfig(rig, [&](ConfigDialog &c) {
            rig.prompt.inputs.enqueue(entry);
            (model ? c.model : c.hardware)->click();
        });
        QCOMPARE(rig.prompt.messages.size(), 1);
        QCOMPARE(rig.prompt.messages[0].icon, Prompter::Icon::Warning);
        QCOMPARE(tx.count(), 0);
        QCOMPARE(rig.sim.modelNumber(), QStringLiteral("X0600"));
        QCOMPARE(rig.sim.hardwareRevision(), QStringLiteral("A01"));
    }

    // ---- unit baud rate

    void unitBaudRateSave_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<int>("index");      // -1: the list as it opens
        QTest::addColumn<QString>("typed");  // typed into the box instead
        QTest::addColumn<QByteArray>("frame");   // empty: nothing goes out
        QTest::newRow("default over pty is 07,5, with checksum L")
            << "pty" << -1 << QString() << QByteArray("\x02" "07,5,L\x03");
        QTest::newRow("default over tcp") << "tcp" << -1 << QString() << QByteArray("\x02" "07,5,\x03");
        QTest::newRow("9600 is code 1") << "tcp" << 0 << QString() << QByteArray("\x02" "07,1,\x03");
        QTest::newRow("a listed rate typed in") << "tcp" << -1 << "19,200" << QByteArray("\x02" "07,2,\x03");
        QTest::newRow("typed junk is refused") << "tcp" << -1 << "fast" << QByteArray();
        QTest::newRow("an unlisted number is refused") << "pty" << -1 << "4800" << QByteArray();
    }
    void unitBaudRateSave()
    {
        QFETCH(QString, link);
        QFETCH(int, index);
        QFETCH(QString, typed);
        QFETCH(QByteArray, frame);
        Rig rig;
        QVERIFY(attach(rig, link));
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        int result = -1;
        rig.prompt.dialogs.enqueue([&](QDialog &d) {
            auto &b = static_cast<UnitBaudRateDialog &>(d);
            if (b.Bitslist->currentText() != QLatin1String("115,200"))
                return -2;
            if (index >= 0)
                b.Bitslist->setCurrentIndex(index);
            if (!typed.isNull())
                b.Bitslist->setEditText(typed);
            b.save->click();
            result = b.result();
            if (result != QDialog::Accepted)
                b.reject();
            return result;
        });
        rig.trigger("mnu_BaudRate");
        if (frame.isEmpty()) {
            QCOMPARE(result, int(QDialog::Rejected));
            QCOMPARE(tx.count(), 0);
            QCOMPARE(rig.prompt.messages.size(), 1);
            return;
        }
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(tx.count(), 1);
        QCOMPARE(tx[0][0].toByteArray(), frame);
        QVERIFY(rig.waitForCommands(1));
        QVERIFY(rig.sim.trace()[0].checksumOk);
        QCOMPARE(QByteArray::number(rig.sim.baudCode()), frame.mid(4, 1));
    }

    // Cancel beside Save sends nothing; on a serial link the dialog warns that it drops.
    void unitBaudRateCancel_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("warned");
        QTest::newRow("serial: warned") << "pty" << true;
        QTest::newRow("ethernet: no warning") << "tcp" << false;
    }
    void unitBaudRateCancel()
    {
        QFETCH(QString, link);
        QFETCH(bool, warned);
        Rig rig;
        QVERIFY(attach(rig, link));
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        bool saveIsDefault = false, warning = false;
        rig.prompt.dialogs.enqueue([&](QDialog &d) {
            auto &b = static_cast<UnitBaudRateDialog &>(d);
            saveIsDefault = b.save->isDefault();
            warning = !b.lbl_WARNING->isHidden() && b.lbl_WARNING->text().contains(QLatin1String("drop"));
            b.cancel->click();
            return b.result();
        });
        rig.trigger("mnu_BaudRate");
        QVERIFY(saveIsDefault);
        QCOMPARE(warning, warned);
        QCOMPARE(tx.count(), 0);
        QCOMPARE(rig.sim.baudCode(), 1);   // as it started
        QVERIFY(rig.prompt.messages.isEmpty());
    }

    // The unit's answer is left to the receive timer, which also picks up its status reports.
    void afterSaveAStatusFrameIsPickedUp_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("tcp") << "tcp";
        QTest::newRow("pty") << "pty";
    }
    void afterSaveAStatusFrameIsPickedUp()
    {
        QFETCH(QString, link);
        Rig rig;
        QVERIFY(attach(rig, link));
        const bool tcp = link == QLatin1String("tcp");
        QSignalSpy picked(&rig.s(), &Session::unsolicitedStatus);
        rig.prompt.dialogs.enqueue([](QDialog &d) {
            static_cast<UnitBaudRateDialog &>(d).save->click();
            return d.result();
        });
        rig.trigger("mnu_BaudRate");
        QVERIFY((tcp ? rig.s().tmr_NETRCVTMR : rig.s().tmr_RCVTIMER)->isActive());
        QVERIFY(rig.waitForCommands(1));

        rig.sim.setHvOn(true);
        rig.sim.sendUnsolicitedStatus();
        QTRY_COMPARE_WITH_TIMEOUT(picked.count(), 1, 5000);
        QVERIFY(rig.win->status().led_HVSTAT->value());
    }
};

QTEST_MAIN(TstService)
#include "tst_service.moc"
