#pragma once
// The six status bar panels: the link's settings and name, the last frame received
// and sent, the date and the time. Painting is kept off the reply waits' path.
#include <QObject>
#include <QString>
#include <functional>

class QLabel;
class QStatusBar;

namespace plv {
class Session;
}

namespace plv {

class StatusBarPanels : public QObject {
    Q_OBJECT
public:
    // Panels 3 and 4 follow the session's frames received and sent.
    StatusBarPanels(QStatusBar *bar, Session &session);
    void show(int index, const QString &text);   // index 0 to 5

private:
    QStatusBar *m_bar;
    Session &m_session;
    QLabel *m_panels[6] = {};
};

} // namespace plv
