// The Ports menu end to end: Ethernet, COMM USER on the simulated unit's pseudo-terminal,
// fixed serial ports that cannot open, and USB with and without a unit.
#include "testsupport.h"

#include "panels/dialogs.h"
#include "widgets/widgets.h"
#include "panels/controlspanel.h"
#include "panels/statuspanel.h"
#include "unit/updatecycle.h"
#include "panels/infopanel.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace plv;
using namespace plv::test;

namespace {

const char *const kPortItems[] = {"mnu_comm1", "mnu_comm2", "mnu_userComm", "mnu_ethernet", "mnu_USB"};

QStringList checkedPorts(Rig &rig)
{
    QStringList out;
    for (const char *name : kPortItems)
        if (find<QAction>(rig.win.get(), name)->isChecked())
            out << QLatin1String(name);
    return out;
}

std::function<int(QDialog &)> remoteHost(const QString &host, const QString &port, bool ok = true)
{
    return [=](QDialog &d) {
        auto &r = static_cast<RemoteHostDialog &>(d);
        r.txtHost->setText(host);
        r.txtPortNumber->setText(port);
        (ok ? r.OKButton : r.CancelButton)->click();
        return r.result();
    };
}

std::function<int(QDialog &)> lineSpeed(int index)
{
    return [=](QDialog &d) {
        auto &g = static_cast<GuiBaudRateDialog &>(d);
        g.Bitslist->setCurrentIndex(index);
        g.okButton->click();
        return g.result();
    };
}

void chooseEthernet(Rig &rig)
{
    rig.prompt.dialogs.enqueue(remoteHost(QStringLiteral("127.0.0.1"), QString::number(rig.sim.tcpPort())));
    rig.trigger("mnu_ethernet");
}

bool chooseUserPort(Rig &rig, const QString &entry, std::optional<int> speed = 4)
{
    rig.prompt.inputs.enqueue(entry);
    if (speed)
        rig.prompt.dialogs.enqueue(lineSpeed(*speed));
    rig.trigger("mnu_userComm");
    return rig.s().serial().isOpen();
}

const QString kInvalid = QStringLiteral("InValid Comm. Port");

} // namespace

class TstPorts : public QObject {
    Q_OBJECT
private slots:
    void ethernetChoiceRequestsStatusThenUpdates()
    {
        Rig rig;
        chooseEthernet(rig);
        QCOMPARE(rig.panel(1), QStringLiteral("Ethernet Comms"));
        QCOMPARE(rig.panel(2), QStringLiteral("IP: 127.0.0.1"));
        QCOMPARE(rig.s().CommMode(), QStringLiteral("ethernet"));
        QCOMPARE(checkedPorts(rig), QStringList{"mnu_ethernet"});
        QVERIFY(rig.s().tcp().isConnected());
        QVERIFY(rig.s().AutoUpdate());
        QVERIFY(find<QAction>(rig.win.get(), "mnu_AUTOUPDATE")->isChecked());
        QVERIFY(rig.waitForCommands(11));
        const QList<QByteArray> start = rig.wire().mid(0, 11);
        QCOMPARE(start, (QList<QByteArray>{"22,", "68,", "19,", "20,", "24,", "26,", "21,", "23,", "25,", "19,", "14,"}));
        QCOMPARE(rig.win->info().txt_MODNUM->text(), QStringLiteral("PLV70-X0600"));
        QVERIFY(rig.prompt.messages.isEmpty());
        rig.win->cycle().mnu_MANUAL_Click();
    }

    void remoteHostCancelKeepsTheAcceptedAddress()
    {
        Rig rig;
        chooseEthernet(rig);
        rig.win->cycle().mnu_MANUAL_Click();
        QSignalSpy connects(&rig.sim, &SimUnit::clientConnected);
        rig.sim.clearTrace();

        rig.prompt.dialogs.enqueue(remoteHost(QStringLiteral("10.1.2.3"), QStringLiteral("1"), false));
        rig.trigger("mnu_ethernet");
        auto *dialog = find<RemoteHostDialog>(rig.win.get(), "RemoteHost");
        QCOMPARE(dialog->txtHost->text(), QStringLiteral("127.0.0.1"));
        QCOMPARE(dialog->txtPortNumber->text(), QString::number(rig.sim.tcpPort()));
        QCOMPARE(rig.panel(2), QStringLiteral("IP: 127.0.0.1"));
        QCOMPARE(rig.s().tcp().remotePort(), rig.sim.tcpPort());
        QCOMPARE(connects.count(), 1);
        QCOMPARE(rig.wire().value(0), QByteArray("22,"));
        QVERIFY(rig.prompt.messages.isEmpty());
        rig.win->cycle().mnu_MANUAL_Click();
    }

    void aRemotePortOutsideTheRangeChangesNothing_data()
    {
        QTest::addColumn<QString>("port");
        QTest::newRow("zero") << "0";
        QTest::newRow("65536") << "65536";
        QTest::newRow("letters") << "abc";
        QTest::newRow("empty") << "";
    }
    void aRemotePortOutsideTheRangeChangesNothing()
    {
        QFETCH(QString, port);
        Rig rig;
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        rig.prompt.dialogs.enqueue(remoteHost(QStringLiteral("127.0.0.1"), port));
        rig.trigger("mnu_ethernet");
        QCOMPARE(rig.prompt.messageTexts(), QStringList{kInvalid});
        QCOMPARE(rig.s().CommMode(), QString());
        QCOMPARE(checkedPorts(rig), QStringList());
        QCOMPARE(rig.panel(1), QStringLiteral("SET PORT!"));
        QCOMPARE(rig.panel(2), QStringLiteral("Comm Ch."));
        QCOMPARE(rig.s().tcp().socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(find<RemoteHostDialog>(rig.win.get(), "RemoteHost")->txtHost->text(), QString());
        QCOMPARE(tx.count(), 0);
    }

    void aRefusedPortLeavesAnEarlierEthernetChoiceAsItWas()
    {
        Rig rig;
        chooseEthernet(rig);
        rig.win->cycle().mnu_MANUAL_Click();
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        rig.prompt.dialogs.enqueue(remoteHost(QStringLiteral("10.1.2.3"), QStringLiteral("99999")));
        rig.trigger("mnu_ethernet");
        QCOMPARE(rig.prompt.messageTexts(), QStringList{kInvalid});
        QCOMPARE(checkedPorts(rig), QStringList{"mnu_ethernet"});
        QCOMPARE(rig.s().CommMode(), QStringLiteral("ethernet"));
        QCOMPARE(rig.panel(2), QStringLiteral("IP: 127.0.0.1"));
        QVERIFY(rig.s().tcp().isConnected());
        QCOMPARE(find<RemoteHostDialog>(rig.win.get(), "RemoteHost")->txtPortNumber->text(),
                 QString::number(rig.sim.tcpPort()));
        QCOMPARE(tx.count(), 0);
    }

    void commUserOnThePseudoTerminal_data()
    {
        QTest::addColumn<bool>("viaLink");
        QTest::newRow("the pty's own path") << false;
        QTest::newRow("a link to the pty") << true;
    }
    void commUserOnThePseudoTerminal()
    {
        QFETCH(bool, viaLink);
        Rig rig;
        const QString link = QStringLiteral("/tmp/plv-ports-%1-ttyUNIT").arg(QCoreApplication::applicationPid());
        QVERIFY2(rig.sim.openPty(viaLink ? link : QString()), qPrintable(rig.sim.errorString()));
        const QString entry = viaLink ? link : rig.sim.ptyPath();
        QVERIFY(chooseUserPort(rig, entry));
        QCOMPARE(rig.prompt.prompts, QStringList{"Enter your Comm Port Number"});
        QCOMPARE(rig.panel(1), QStringLiteral("Comm Port Setting:  115200,n,8,1"));
        QCOMPARE(rig.panel(2), QStringLiteral("Comm Port:  ") + entry);
        QCOMPARE(rig.s().CommMode(), QStringLiteral("comm1"));
        QCOMPARE(checkedPorts(rig), QStringList{"mnu_userComm"});
        QVERIFY(rig.s().tmr_RCVTIMER->isActive());
        QVERIFY(!rig.s().tmr_NETRCVTMR->isActive());
        QVERIFY(rig.s().AutoUpdate());
        QVERIFY(rig.waitForCommands(2));
        QCOMPARE(rig.wire().mid(0, 2), (QList<QByteArray>{"22,", "68,"}));
        QVERIFY(rig.sim.trace()[0].checksumOk);
        QVERIFY(rig.prompt.messages.isEmpty());
        rig.win->cycle().mnu_MANUAL_Click();
    }

    void commUserRefusesWhatIsNotAPort_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("letters") << "abc" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("cancelled") << "" << true;
        QTest::newRow("zero") << "0" << false;
        QTest::newRow("above 256") << "257" << false;
        QTest::newRow("a path through ..") << "/tmp/../dev/ttyS0" << false;
    }
    void commUserRefusesWhatIsNotAPort()
    {
        QFETCH(QString, entry);
        QFETCH(bool, cancel);
        Rig rig;
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        rig.prompt.inputs.enqueue(cancel ? std::nullopt : std::optional<QString>(entry));
        rig.prompt.dialogs.enqueue(lineSpeed(0));
        rig.trigger("mnu_userComm");
        QCOMPARE(rig.prompt.messageTexts(), QStringList{kInvalid});
        QCOMPARE(rig.prompt.dialogs.size(), 1);   // the line speed was never asked
        QCOMPARE(rig.s().CommMode(), QString());
        QCOMPARE(checkedPorts(rig), QStringList{"mnu_userComm"});
        QVERIFY(!rig.s().tmr_RCVTIMER->isActive());
        QVERIFY(!rig.s().serial().isOpen());
        QCOMPARE(rig.panel(1), QStringLiteral("SET PORT!"));
        QCOMPARE(tx.count(), 0);
    }

    void aFixedPortThatCannotOpenKeepsThePreviousLink_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("device");
        QTest::newRow("COMM1") << "mnu_comm1" << "/dev/ttyS0";
        QTest::newRow("COMM2") << "mnu_comm2" << "/dev/ttyS1";
    }
    void aFixedPortThatCannotOpenKeepsThePreviousLink()
    {
        QFETCH(QString, item);
        QFETCH(QString, device);
        {
            QSerialPort probe(device);
            if (probe.open(QIODevice::ReadWrite))
                QSKIP("this machine has a working serial port there");
        }
        Rig rig;
        QVERIFY(rig.attachTcp());
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        rig.prompt.dialogs.enqueue(lineSpeed(4));
        rig.trigger(item.toLatin1().constData());
        QCOMPARE(rig.prompt.messageTexts(), QStringList{kInvalid});
        QCOMPARE(rig.prompt.messages[0].icon, Prompter::Icon::Information);
        QCOMPARE(checkedPorts(rig), QStringList{item});
        QCOMPARE(rig.s().CommMode(), QStringLiteral("ethernet"));
        QVERIFY(!rig.s().tmr_RCVTIMER->isActive());
        QVERIFY(!rig.s().serial().isOpen());
        QCOMPARE(tx.count(), 0);
    }

    void closingTheLineSpeedDialogKeepsThePreviousSpeed()
    {
        Rig rig;
        QVERIFY(rig.sim.openPty());
        QVERIFY(chooseUserPort(rig, rig.sim.ptyPath(), 0));
        rig.win->cycle().mnu_MANUAL_Click();
        QCOMPARE(rig.panel(1), QStringLiteral("Comm Port Setting:  9600,n,8,1"));
        rig.sim.clearTrace();

        QVERIFY(chooseUserPort(rig, rig.sim.ptyPath(), std::nullopt));
        QCOMPARE(rig.panel(1), QStringLiteral("Comm Port Setting:  9600,n,8,1"));
        QCOMPARE(rig.s().serial().port().baudRate(), 9600);
        QVERIFY(rig.waitForCommands(1));
        QCOMPARE(rig.wire().value(0), QByteArray("22,"));
        rig.win->cycle().mnu_MANUAL_Click();
    }

    void eachChoiceLeavesTheOtherLinkUp()
    {
        Rig rig;
        QVERIFY(rig.sim.openPty());
        QVERIFY(chooseUserPort(rig, rig.sim.ptyPath()));
        rig.win->cycle().mnu_MANUAL_Click();

        chooseEthernet(rig);
        rig.win->cycle().mnu_MANUAL_Click();
        QCOMPARE(rig.s().CommMode(), QStringLiteral("ethernet"));
        QVERIFY(rig.s().serial().isOpen());

        QVERIFY(chooseUserPort(rig, rig.sim.ptyPath()));
        rig.win->cycle().mnu_MANUAL_Click();
        QCOMPARE(rig.s().CommMode(), QStringLiteral("comm1"));
        QVERIFY(rig.s().tcp().isConnected());
        QCOMPARE(rig.sim.tcpClientCount(), 1);
    }

    void usbWithoutAUnit()
    {
        Rig rig;
        QSignalSpy tx(&rig.s(), &Session::txFrame);
        rig.trigger("mnu_USB");
        QCOMPARE(rig.prompt.messageTexts(),
                 QStringList{"The port number which you entered does not exist. Please try again!"});
        QCOMPARE(checkedPorts(rig), QStringList());
        QCOMPARE(rig.s().CommMode(), QStringLiteral("USB"));
        QCOMPARE(rig.panel(1), QStringLiteral("USB Comms"));
        QCOMPARE(rig.panel(2), QStringLiteral("USB HID  "));
        QCOMPARE(rig.usb->searches, 1);
        QCOMPARE(tx.count(), 0);
    }

    void usbWithoutTheLibrary()
    {
        ScriptedPrompter prompt;
        MainWindow win(plvBuild(), [](QString *error) -> std::unique_ptr<TesselClient> {
            if (error)
                *error = QStringLiteral("not installed");
            return nullptr;
        });
        find<QAction>(&win, "mnu_USB")->trigger();
        QCOMPARE(prompt.messages.size(), 1);
        QVERIFY(prompt.messages[0].text.contains(QLatin1String("library")));
        QVERIFY(!find<QAction>(&win, "mnu_USB")->isChecked());
        QCOMPARE(win.session().CommMode(), QStringLiteral("USB"));
    }

    void usbWithAUnitRequestsStatusThroughTheLibrary()
    {
        Rig rig;
        rig.usb->present = true;
        rig.usb->reports << QByteArray("\x02" "22,1,0,0,1,\x03") << QByteArray("\x02" "68,0,0,0,0,0,1,\x03");
        rig.trigger("mnu_USB");
        rig.win->cycle().mnu_MANUAL_Click();
        QVERIFY(rig.prompt.messages.isEmpty());
        QCOMPARE(checkedPorts(rig), QStringList{"mnu_USB"});
        QVERIFY(rig.usb->written.size() >= 2);
        QCOMPARE(rig.usb->written[0], QByteArray("\x02" "22,") + SimUnit::checksum("22,") + '\x03');
        QCOMPARE(rig.usb->written[1], QByteArray("\x02" "68,") + SimUnit::checksum("68,") + '\x03');
        QCOMPARE(rig.win->status().lbl_HVSTAT->text(), QStringLiteral("HV ON"));
        QCOMPARE(rig.win->status().flagLabels[5]->text(), QStringLiteral("Under Current Error"));
        QVERIFY(rig.win->controls().btn_local_remote->value());
        QVERIFY(rig.sim.trace().isEmpty());
    }

    // A refused connection is reported with its address, is not queried, and leaves the
    // operator free to choose again at once.
    void aRefusedConnectionReportsTheTcpError()
    {
        quint16 closedPort = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            closedPort = probe.serverPort();
        }
        Rig rig;
        QSignalSpy sent(&rig.s(), &Session::txFrame);
        rig.prompt.dialogs.enqueue(remoteHost(QStringLiteral("127.0.0.1"), QString::number(closedPort)));
        QElapsedTimer clock;
        clock.start();
        rig.trigger("mnu_ethernet");
        QVERIFY2(clock.elapsed() < Session::kSerialTcpTimeoutMs, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(sent.count(), 0);
        QVERIFY(!rig.s().AutoUpdate());
        QCOMPARE(rig.prompt.messages.size(), 1);
        const ScriptedPrompter::Message m = rig.prompt.messages[0];
        QVERIFY2(m.text.startsWith(QLatin1String("TCP Error: ")) && m.text.contains(QLatin1String("refused"), Qt::CaseInsensitive)
                     && m.text.endsWith(QStringLiteral(" (127.0.0.1:%1)").arg(closedPort)),
                 qPrintable(m.text));
        QCOMPARE(m.icon, Prompter::Icon::None);
        QCOMPARE(rig.s().CommMode(), QStringLiteral("ethernet"));
        QCOMPARE(checkedPorts(rig), QStringList{"mnu_ethernet"});
        QVERIFY(rig.s().tmr_NETRCVTMR->isActive());
    }

    // Once the operator has moved to another link, the old socket's errors are not raised.
    void anAbandonedSocketRaisesNoBox()
    {
        Rig rig;
        chooseEthernet(rig);
        rig.win->cycle().mnu_MANUAL_Click();
        QVERIFY(rig.sim.openPty());
        QVERIFY(chooseUserPort(rig, rig.sim.ptyPath()));
        rig.win->cycle().mnu_MANUAL_Click();
        QSignalSpy gone(&rig.s().tcp().socket(), &QAbstractSocket::disconnected);
        rig.sim.resetConnections();
        QVERIFY(gone.wait(5000));
        QVERIFY(rig.prompt.messages.isEmpty());
    }
};

QTEST_MAIN(TstPorts)
#include "tst_ports.moc"
