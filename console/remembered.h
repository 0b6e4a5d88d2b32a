#pragma once
// What the console keeps between runs, with QSettings (~/.config/plv-console/<build>.conf):
// the last accepted Ethernet host and port, the last COMM USER entry, the windows' places
// and which View windows were open. The values only fill prompts and place windows:
// nothing is connected, and the serial rate and the rating start as always.
#include "console/logbook.h"

#include <QObject>
#include <QRect>
#include <QSettings>

namespace plv {

class LinkChoice;

// Where a window whose frame was `frame` opens on a screen whose free area is
// `available`: its size where that fits, no larger than the area, and moved in whole.
QRect fitOnScreen(QRect frame, const QRect &available);

class Remembered : public QObject {
    Q_OBJECT
public:
    // 'build' names the settings file; 'window' is the main window, placed and watched.
    Remembered(QWidget &window, const QString &build, LinkChoice &links, Logbook &logbook);

    // Writes the windows' places and which View windows are open.
    void saveWindows();
    // The program ends: the places are written and the View windows hidden.
    void end();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // A remembered place, fitted to its screen; false when there is none or its screen
    // is gone.
    bool restorePlace(QWidget &w, const QString &key);
    void storePlace(const QWidget &w, const QString &key);

    QWidget &m_window;
    Logbook &m_logbook;
    QSettings m_settings;
    bool m_reopened = false;
};

} // namespace plv
