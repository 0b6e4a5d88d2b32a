#pragma once
// The Ports menu: choosing the serial port, Ethernet or USB, with the line-speed and
// remote-host dialogs, the status bar's link panels, and the first status request and
// automatic start that follow a link that opened.
#include "health/linkhealth.h"

#include <QObject>
#include <QStringList>
#include <QString>
#include <array>
#include <functional>
#include <optional>

class QAction;
class QMenu;
class QWidget;

namespace plv {

class RemoteHostDialog;
class Session;

// The serial ports present, "<device path>  —  <description>", as COMM USER offers them;
// and the port an entry names, a choice from that list or typed.
QStringList serialPortChoices();
QString portFromChoice(const QString &entry);

class LinkChoice : public QObject {
    Q_OBJECT
public:
    // 'showPanel' writes status bar panel 0 or 1; 'afterOpen' runs the status request
    // and, when asked, the automatic start.
    LinkChoice(Session &session, QMenu *portMenu, QWidget *window, std::function<void(int, const QString &)> showPanel,
               std::function<void(bool automatic)> afterOpen);

    void mnu_comm1_Click();
    void mnu_comm2_Click();
    void mnu_userComm_Click();
    void mnu_ethernet_Click();
    void mnu_USB_Click();
    // Closes the chosen link and stops everything that would use or reopen it.
    void mnu_DISCONNECT_Click();
    QString CommPortNum;
    std::array<QAction *, 5> items{};

    // The window's menu helper: runs 'handler' as an operator action.
    using AddItem = std::function<QAction *(QMenu *, const char *, const QString &, std::function<void()>)>;
    void buildMenu(const AddItem &add);

    // Values from an earlier run: they only fill the prompts; OK accepts them.
    void setRemembered(const QString &host, const QString &port, const QString &userEntry);

signals:
    void opened(plv::LinkKind kind, const QString &where);
    void failed(plv::LinkDown reason, const QString &where);
    void disconnected();   // by the operator: automatic mode must stop
    // The Ethernet link the unit closed is back, or an attempt to bring it back ended
    // otherwise than the one before (the first failure is the loss itself).
    void reconnected(plv::LinkKind kind, const QString &where);
    void retryFailed(plv::LinkDown reason, const QString &where);
    void ethernetAccepted(const QString &host, const QString &port);   // OK in Remote Host
    void userEntryMade(const QString &entry);                          // COMM USER's box

private:
    void check(QAction *item);
    void invalidPort();
    void serialChoice(QAction *item, const QString &mode, const QString &fixedPort);
    // What every choice and Disconnect do first: the running sequence and the TCP
    // retries of the link being left end.
    void leaveLink();
    void tcpReconnected();
    QString tcpWhere() const;

    Session &m_session;
    QMenu *m_menu;
    QWidget *m_window;
    std::function<void(int, const QString &)> m_showPanel;
    std::function<void(bool)> m_afterOpen;
    std::optional<LinkDown> m_lastRetry;   // outcome of the last failed TCP retry
    RemoteHostDialog *m_remoteHost = nullptr;
    QString m_lastUserEntry;   // COMM USER starts from the last entry
    QString m_rememberedHost, m_rememberedPort;
};

} // namespace plv
