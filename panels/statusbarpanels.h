#pragma once
// The six status bar panels: the link's settings and name, the last frame received
// and sent, the date and the time. Painting is kept off the reply waits' path.
#include <QObject>
#include <QString>
#include <functional>

class QLabel;
class QStatusBar;

namespace plv {

class StatusBarPanels : public QObject {
    Q_OBJECT
public:
    // 'waiting' tells whether a reply is awaited right now.
    StatusBarPanels(QStatusBar *bar, std::function<bool()> waiting);
    void show(int index, const QString &text);   // index 0 to 5

private:
    QStatusBar *m_bar;
    std::function<bool()> m_waiting;
    QLabel *m_panels[6] = {};
};

} // namespace plv
