#include "testsupport.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QTest>

namespace plv::test {

namespace {

QString panelText(const QWidget &win, int n)
{
    const QLabel *label = win.findChild<QLabel *>(QStringLiteral("panel%1").arg(n));
    return label ? label->text() : QString();
}

void triggerAction(QWidget &win, const char *actionName)
{
    QAction *a = find<QAction>(&win, actionName);
    QVERIFY2(a, actionName);
    a->trigger();
}

QtMessageHandler g_forward = nullptr;

// The window hooks its TCP error box to the real TCP transport; over a scripted Ethernet
// link there is none, and Qt's warning about the missing sender says nothing here.
void dropMissingTcpSender(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QObject::connect")) &&
        text.endsWith(QLatin1String("invalid nullptr parameter")))
        return;
    g_forward(type, context, text);
}

} // namespace

void ScriptedPrompter::message(QWidget *, const QString &text, const QString &title, Icon icon)
{
    messages.append({text, title, icon});
}

bool ScriptedPrompter::input(QWidget *, const QString &prompt, const QString &, QString &text)
{
    prompts.append(prompt);
    const std::optional<QString> answer = inputs.isEmpty() ? std::nullopt : inputs.dequeue();
    text = answer.value_or(QString());
    return answer.has_value();
}

int ScriptedPrompter::exec(QDialog &dialog)
{
    if (dialogs.isEmpty()) {
        dialog.reject();
        return QDialog::Rejected;
    }
    return dialogs.dequeue()(dialog);
}

QStringList ScriptedPrompter::messageTexts() const
{
    QStringList out;
    for (const Message &m : messages)
        out.append(m.text);
    return out;
}

Rig::Rig(const BuildData &build)
{
    sim.listenTcp(0);
    auto state = usb;
    win = std::make_unique<MainWindow>(build, [state](QString *) { return std::make_unique<FakeTessel>(state); });
}

Rig::~Rig()
{
    win.reset();
}

bool Rig::attachTcp()
{
    Session &session = s();
    session.tcp().setRemote(QStringLiteral("127.0.0.1"), sim.tcpPort());
    session.tcp().connectToUnit();
    session.setCommMode(QStringLiteral("ethernet"));
    if (!QTest::qWaitFor([&] { return session.tcp().isConnected() && sim.tcpClientCount() == 1; }, 5000))
        return false;
    session.tmr_NETRCVTMR->start();
    return true;
}

bool Rig::attachSerial()
{
    if (sim.ptyPath().isEmpty() && !sim.openPty())
        return false;
    Session &session = s();
    session.serial().setPortName(sim.ptyPath());
    if (!session.serial().open())
        return false;
    session.setSerialConfigured(true);
    session.setCommMode(QStringLiteral("comm1"));
    session.tmr_RCVTIMER->start();
    return true;
}

bool Rig::attachUsb()
{
    usb->present = true;
    Session &session = s();
    session.setCommMode(QStringLiteral("USB"));
    if (!session.usb().find())
        return false;
    session.tmr_RCVTIMER->start();
    return true;
}

QString Rig::panel(int n) const
{
    return panelText(*win, n);
}

ScriptedRig::ScriptedRig(bool serial, const BuildData &build)
{
    auto makeSession = [this, serial](QObject *window) {
        auto clockOwned = std::make_unique<ScriptedClock>();
        clock = clockOwned.get();
        link = new ScriptedLink(*clock, serial, window);
        Session::Links links;
        (serial ? links.serial : links.ethernet) = link;
        return new Session(window, links, std::move(clockOwned));
    };
    g_forward = qInstallMessageHandler(dropMissingTcpSender);
    win = std::make_unique<MainWindow>(build, TesselFactory(), nullptr, makeSession);
    qInstallMessageHandler(g_forward);
    Session &session = s();
    link->open();
    if (serial) {
        session.setSerialConfigured(true);
        session.setCommMode(QStringLiteral("comm1"));
        session.tmr_RCVTIMER->start();
    } else {
        session.setCommMode(QStringLiteral("ethernet"));
        session.tmr_NETRCVTMR->start();
    }
    QCoreApplication::processEvents();   // the receive timer's first tick, with nothing to read
}

ScriptedRig::~ScriptedRig()
{
    win.reset();
}

QString ScriptedRig::panel(int n) const
{
    return panelText(*win, n);
}

void ScriptedRig::advanceTo(qint64 t)
{
    clock->advanceTo(t);
    QCoreApplication::processEvents();
}

QByteArray unitFrame(const QByteArray &body, bool serial)
{
    QByteArray f = '\x02' + body;
    if (serial)
        f += SimUnit::checksum(body);
    return f + '\x03';
}

QList<QByteArray> Rig::wire() const
{
    QList<QByteArray> out;
    for (const auto &e : sim.trace())
        out.append(e.payload);
    return out;
}

bool Rig::waitForCommands(int n, int timeoutMs)
{
    return QTest::qWaitFor([&] { return sim.trace().size() >= n; }, timeoutMs);
}

void Rig::replyWith(const std::optional<QByteArray> &data)
{
    if (m_replyOverride) {
        QObject::disconnect(m_replyOverride);
        sim.setFaults(m_faultsBeforeOverride);
    }
    if (!data)
        return;
    m_faultsBeforeOverride = sim.faults();
    SimUnit::Faults mute = m_faultsBeforeOverride;
    mute.silent = true;
    sim.setFaults(mute);
    const QByteArray body = *data;
    m_replyOverride = QObject::connect(&sim, &SimUnit::commandReceived, &sim, [this, body](const QByteArray &payload) {
        sim.sendRaw(SimUnit::Stx + payload.left(2) + ',' + body + SimUnit::Etx);
    });
}

void Rig::trigger(const char *actionName)
{
    triggerAction(*win, actionName);
}

void ScriptedRig::trigger(const char *actionName)
{
    triggerAction(*win, actionName);
}

} // namespace plv::test
