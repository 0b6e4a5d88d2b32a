#include "console/linkchoice.h"

#include "link/session.h"
#include "panels/dialogs.h"
#include "panels/prompt.h"
#include "protocol/entries.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QSerialPortInfo>

namespace plv {

LinkChoice::LinkChoice(Session &session, QMenu *portMenu, QWidget *window,
                       std::function<void(int, const QString &)> showPanel, std::function<void(bool)> afterOpen)
    : QObject(window), m_session(session), m_menu(portMenu), m_window(window), m_showPanel(std::move(showPanel)),
      m_afterOpen(std::move(afterOpen))
{
    // The Ethernet link may be handed in (tests); only the real one has an address.
    auto *tcp = qobject_cast<TcpTransport *>(&m_session.link(Session::LinkKind::Ethernet));
    TcpReconnect *retries = m_session.tcpReconnect();
    if (!tcp || !retries)
        return;
    connect(tcp, &TcpTransport::errorOccurred, this, [this, retries](const QString &d) {
        // A socket the operator has since left for another link is nobody's concern, and
        // the console's own retries report through the strip and the event log.
        if (!m_session.isEthernet() || m_session.ended() || retries->retrying())
            return;
        prompter().notify(m_window, QStringLiteral("TCP Error: %1 (%2)").arg(d, tcpWhere()), QString(),
                          Prompter::Icon::None);
    });
    connect(retries, &TcpReconnect::attemptFailed, this, [this](bool refused, const QString &) {
        const LinkDown reason = refused ? LinkDown::Refused : LinkDown::FailedToOpen;
        if (m_lastRetry != reason)
            emit retryFailed(reason, tcpWhere());
        m_lastRetry = reason;
    });
    // Behind a transaction in progress, like an operator's choice.
    connect(retries, &TcpReconnect::reconnected, this, [this] { m_session.operate([this] { tcpReconnected(); }); });
}

QString LinkChoice::tcpWhere() const
{
    TcpTransport &tcp = m_session.tcp();
    return QStringLiteral("%1:%2").arg(tcp.host()).arg(tcp.remotePort());
}

void LinkChoice::leaveLink()
{
    m_session.endSequences();
    m_session.stopReconnecting();
    m_lastRetry.reset();
}

void LinkChoice::tcpReconnected()
{
    m_lastRetry.reset();
    if (!m_session.isEthernet() || !m_session.tcp().isConnected())
        return;
    emit reconnected(LinkKind::Ethernet, tcpWhere());
    // The mode it was in: the automatic cycle kept running (and missing) meanwhile.
    m_afterOpen(m_session.AutoUpdate());
}

void LinkChoice::buildMenu(const AddItem &add)
{
    items[0] = add(m_menu, "mnu_comm1", tr("COMM&1"), [this] { mnu_comm1_Click(); });
    items[1] = add(m_menu, "mnu_comm2", tr("COMM&2"), [this] { mnu_comm2_Click(); });
    items[2] = add(m_menu, "mnu_userComm", tr("COMM &USER"), [this] { mnu_userComm_Click(); });
    items[3] = add(m_menu, "mnu_ethernet", tr("&Ethernet"), [this] { mnu_ethernet_Click(); });
    items[4] = add(m_menu, "mnu_USB", tr("U&SB"), [this] { mnu_USB_Click(); });
    for (QAction *a : items)
        a->setCheckable(true);
    add(m_menu, "mnu_DISCONNECT", tr("&Disconnect"), [this] { mnu_DISCONNECT_Click(); });
}

void LinkChoice::setRemembered(const QString &host, const QString &port, const QString &userEntry)
{
    m_rememberedHost = host;
    m_rememberedPort = port;
    m_lastUserEntry = userEntry;
}

void LinkChoice::mnu_DISCONNECT_Click()
{
    leaveLink();
    emit disconnected();
    QString where;
    switch (m_session.linkKind()) {
    case Session::LinkKind::Serial: where = m_session.serial().portName(); break;
    case Session::LinkKind::Ethernet: where = tcpWhere(); break;
    case Session::LinkKind::Usb: where = QStringLiteral("USB"); break;
    }
    m_session.closeLink();
    check(nullptr);
    m_showPanel(0, QStringLiteral("SET PORT!"));
    m_showPanel(1, QStringLiteral("Comm Ch."));
    emit failed(LinkDown::Disconnected, where);
}

void LinkChoice::check(QAction *item)
{
    for (QAction *a : items)
        a->setChecked(a == item);
}

void LinkChoice::invalidPort()
{
    prompter().notify(m_window, tr("InValid Comm. Port"), QString(), Prompter::Icon::Information);
}

namespace {
const QString kChoiceSeparator = QStringLiteral("  —  ");
} // namespace

QStringList serialPortChoices()
{
    QStringList out;
    for (const QSerialPortInfo &p : QSerialPortInfo::availablePorts())
        out << (p.description().isEmpty() ? p.systemLocation() : p.systemLocation() + kChoiceSeparator + p.description());
    return out;
}

QString portFromChoice(const QString &entry)
{
    const qsizetype at = entry.indexOf(kChoiceSeparator);
    return at < 0 ? entry : entry.left(at);
}

void LinkChoice::serialChoice(QAction *item, const QString &mode, const QString &fixedPort)
{
    leaveLink();
    m_session.tmr_RCVTIMER->stop();   // while the prompts are up
    check(item);
    QString portText = fixedPort, device;
    if (fixedPort.isEmpty()) {
        portText = m_lastUserEntry;
        prompter().inputWithChoices(m_window, tr("Enter your Comm Port Number"), QString(), serialPortChoices(),
                                    portText);
        portText = portFromChoice(portText);
        if (!portText.isEmpty()) {
            m_lastUserEntry = portText;
            emit userEntryMade(portText);
        }
        const Checked<QString> dev = parseSerialPortEntry(portText);
        if (!dev.value) {
            invalidPort();
            return;
        }
        device = *dev.value;
    } else {
        device = serialDeviceForNumber(fixedPort.toInt());
    }

    Session::LinkTarget target;
    target.device = device;
    target.serialMode = mode;
    GuiBaudRateDialog rate(m_window);
    if (prompter().exec(rate) == QDialog::Accepted) {
        target.settings = rate.settings();
        m_showPanel(0, QStringLiteral("Comm Port Setting:  ") + rate.settings());
    }

    CommPortNum = portText.trimmed();
    if (!m_session.useLink(LinkKind::Serial, target).open) {
        emit failed(LinkDown::FailedToOpen, device);
        invalidPort();
        return;
    }
    emit opened(LinkKind::Serial, device);
    m_showPanel(0, QStringLiteral("Comm Port Setting:  ") + m_session.serial().settings());
    m_showPanel(1, QStringLiteral("Comm Port:  ") + CommPortNum);
    m_afterOpen(true);
}

void LinkChoice::mnu_comm1_Click() { serialChoice(items[0], QStringLiteral("comm1"), QStringLiteral("1")); }
void LinkChoice::mnu_comm2_Click() { serialChoice(items[1], QStringLiteral("comm2"), QStringLiteral("2")); }
void LinkChoice::mnu_userComm_Click() { serialChoice(items[2], QStringLiteral("comm1"), QString()); }

void LinkChoice::mnu_ethernet_Click()
{
    leaveLink();
    if (!m_remoteHost)
        m_remoteHost = new RemoteHostDialog(m_window);   // kept for the life of the console
    m_remoteHost->prepare();
    // Until one is accepted in this run, the prompt offers the last run's address.
    if (m_remoteHost->acceptedHost().isEmpty() && m_remoteHost->acceptedPort().isEmpty()) {
        m_remoteHost->txtHost->setText(m_rememberedHost);
        m_remoteHost->txtPortNumber->setText(m_rememberedPort);
    }
    Session::LinkTarget target;   // Cancel: the address accepted before
    if (prompter().exec(*m_remoteHost) == QDialog::Accepted) {
        emit ethernetAccepted(m_remoteHost->acceptedHost(), m_remoteHost->acceptedPort());
        m_showPanel(1, QStringLiteral("IP: ") + m_remoteHost->acceptedHost());
        target.host = m_remoteHost->acceptedHost();
        target.port = quint16(m_remoteHost->acceptedPort().toUInt());
    } else if (m_remoteHost->portRefused()) {
        invalidPort();
        return;
    }
    check(items[3]);
    m_showPanel(0, tr("Ethernet Comms"));
    // A refused or failed attempt ends the connection wait early.
    const Session::LinkOpened link = m_session.useLink(LinkKind::Ethernet, target);
    if (m_session.ended())
        return;
    const bool connected = link.open;
    if (connected)
        emit opened(LinkKind::Ethernet, tcpWhere());
    else
        emit failed(link.refused ? LinkDown::Refused : LinkDown::FailedToOpen, tcpWhere());
    // A connection that was refused, failed or never completed is not queried: its
    // status request and automatic start would only run into their time-outs.
    if (!connected)
        return;
    m_afterOpen(true);
}

void LinkChoice::mnu_USB_Click()
{
    leaveLink();
    check(items[4]);
    m_showPanel(0, tr("USB Comms"));
    m_showPanel(1, QStringLiteral("USB HID  "));
    m_session.useLink(LinkKind::Usb);   // no device found shows no message of its own
    UsbTransport &usb = m_session.usb();
    if (!usb.libraryLoaded()) {
        items[4]->setChecked(false);
        prompter().notify(m_window, tr("The USB bridge library could not be loaded, so no USB unit can be reached."),
                           QString(), Prompter::Icon::Information);
        return;
    }
    if (!usb.isOpen()) {
        // The library refuses to write before a successful search: the status request
        // cannot go out.
        emit failed(LinkDown::FailedToOpen, QStringLiteral("USB"));
        items[4]->setChecked(false);
        prompter().notify(m_window, tr("The port number which you entered does not exist. Please try again!"),
                           QString(), Prompter::Icon::Information);
        return;
    }
    emit opened(LinkKind::Usb, QStringLiteral("USB"));
    m_afterOpen(true);
}

} // namespace plv
