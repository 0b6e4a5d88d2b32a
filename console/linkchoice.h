#pragma once
// The Ports menu: choosing the serial port, Ethernet or USB, with the line-speed and
// remote-host dialogs, the status bar's link panels, and the first status request and
// automatic start that follow a link that opened.
#include <QObject>
#include <QString>
#include <array>
#include <functional>

class QAction;
class QMenu;
class QWidget;

namespace plv {

class RemoteHostDialog;
class Session;

class LinkChoice : public QObject {
    Q_OBJECT
public:
    // 'showPanel' writes status bar panel 0 or 1; 'afterOpen' runs the status request
    // and the automatic start.
    LinkChoice(Session &session, QMenu *portMenu, QWidget *window, std::function<void(int, const QString &)> showPanel,
               std::function<void()> afterOpen);

    void mnu_comm1_Click();
    void mnu_comm2_Click();
    void mnu_userComm_Click();
    void mnu_ethernet_Click();
    void mnu_USB_Click();
    QString CommPortNum;
    std::array<QAction *, 5> items{};

    // The window's menu helper: runs 'handler' as an operator action.
    using AddItem = std::function<QAction *(QMenu *, const char *, const QString &, std::function<void()>)>;
    void buildMenu(const AddItem &add);

private:
    void check(QAction *item);
    void invalidPort();
    void serialChoice(QAction *item, const QString &mode, const QString &fixedPort);

    Session &m_session;
    QMenu *m_menu;
    QWidget *m_window;
    std::function<void(int, const QString &)> m_showPanel;
    std::function<void()> m_afterOpen;
    RemoteHostDialog *m_remoteHost = nullptr;
};

} // namespace plv
