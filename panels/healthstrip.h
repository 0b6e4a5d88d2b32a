#pragma once
// The strip above the panels: whether the link is alive, what became of the last HV
// command, the HIGH VOLTAGE ON banner, the selected rating, the update mode and the time
// of the last good reply. Texts come from the link-health logic; this only shows them.
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
    void showRating(const QString &text);
    void showMode(const QString &text);
    void showLastReply(const QString &text);
    void showRecording(const QString &path);   // empty: not recording

    QLabel *lbl_LINKHEALTH, *lbl_HVCOMMAND, *lbl_HVBANNER, *lbl_RATING, *lbl_UPDATEMODE, *lbl_LASTREPLY, *lbl_REC;
};

} // namespace plv
