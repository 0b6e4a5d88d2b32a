#pragma once
// The safety header above the scrolling panels, always in view: whether the link is
// alive, what became of the last HV command, the HIGH VOLTAGE ON banner, the alarms, the
// selected rating (red when it does not match the unit), the update mode with the age of
// the values, the time of the last good reply and the emergency key. Texts come from the
// link-health logic and the alarms; this only shows them. Only the HV banner is red in
// the normal state, and every state has its words as well as its colour.
#include <QWidget>

class QLabel;

namespace plv {

class HealthStrip : public QWidget {
    Q_OBJECT
public:
    explicit HealthStrip(QWidget *parent);

    void showLink(const QString &text, bool alarm);   // alarm: on red
    void showHvCommand(const QString &text);           // empty hides it
    void showHvOn(bool on);
    // "" or "as read 12:03:04": how old the HV state is when nothing refreshes it.
    void showHvAsRead(const QString &text);
    void showRating(const QString &text);
    void showRatingMismatch(const QString &text);      // "" when it matches
    void showMode(const QString &text);
    // "" or "read 20 s ago", after the mode.
    void showAge(const QString &text);
    void showLastReply(const QString &text);
    // "" hides it; red while any alarm is unacknowledged.
    void showAlarms(const QString &text, bool unacknowledged);
    void showRecording(const QString &path);   // empty: not recording

    QLabel *lbl_LINKHEALTH, *lbl_HVCOMMAND, *lbl_HVBANNER, *lbl_ALARMS, *lbl_RATING, *lbl_UPDATEMODE,
        *lbl_LASTREPLY, *lbl_EMERGENCY, *lbl_REC;

private:
    void showRatingLabel();
    void showModeLabel();
    QString m_rating, m_mismatch, m_mode, m_age;
};

} // namespace plv
