#pragma once
// What keeps high voltage in the operator's hands: the emergency key that no dialog
// blocks, the latched alarms and their window, the second HV OFF after one the unit did
// not confirm, the age of the values and the HV ON mark in every window's title.
#include "health/alarms.h"
#include "protocol/decode.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

class QTimer;
class QWidget;

namespace plv {

class AlarmsWindow;
class MainWindow;

// F12, application-wide: a key filter, so a modal box, an input dialog or an open menu
// cannot stop it the way modality stops a shortcut. A held key fires once.
class EmergencyKey : public QObject {
    Q_OBJECT
public:
    explicit EmergencyKey(QObject *parent);
    ~EmergencyKey() override;

signals:
    void activated();

protected:
    bool eventFilter(QObject *watched, QEvent *e) override;
};

class Safety : public QObject {
    Q_OBJECT
public:
    explicit Safety(MainWindow &window);

    AlarmList &alarms() { return *m_alarms; }
    AlarmsWindow &alarmsWindow();   // made, hidden, the first time it is asked for
    // "98,0," as the next transaction, whatever is queued or showing.
    void emergencyOff(const QString &how);

private:
    void log(int category, const QString &text);
    void statusRead(const MainStatus &st);
    void hvShown(bool on);
    void showAge();
    void title(QWidget *w);
    void keepOffHeader(QWidget *w);

    MainWindow &m_window;
    AlarmList *m_alarms;
    QPointer<AlarmsWindow> m_alarmsWindow;
    QTimer *m_age;
    QElapsedTimer m_sinceRead;   // the last status read
    QDateTime m_readAt;
    bool m_automatic = false;
    std::optional<bool> m_hvOn;  // as the last status read showed it
    bool m_offAsked = false;     // an HV OFF from this console since HV was last seen coming on
};

} // namespace plv
