#pragma once
// What the console keeps between runs, with QSettings (~/.config/plv-console/<build>.conf):
// the last accepted Ethernet host and port, the last COMM USER entry, the windows' places
// and which View windows were open. The values only fill prompts and place windows:
// nothing is connected, and the serial rate and the rating start as always.
#include "console/logbook.h"

#include <QObject>
#include <QSettings>

namespace plv {

class MainWindow;

class Remembered : public QObject {
    Q_OBJECT
public:
    Remembered(MainWindow &window, Logbook &logbook);

    // Writes the windows' places and which View windows are open.
    void saveWindows();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MainWindow &m_window;
    Logbook &m_logbook;
    QSettings m_settings;
    bool m_reopened = false;
};

} // namespace plv
