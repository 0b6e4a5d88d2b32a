#pragma once
// Keeps the operator from being misled by a dead link: feeds the link-health logic
// from the session, the link choice and the update cycle, and shows what it concludes
// (the health strip, stale values, the HV command's fate, HV ON, the rating check).
#include "health/linkhealth.h"

#include <QHash>
#include <QObject>
#include <QString>

class QTimer;
class QWidget;

namespace plv {

class HealthStrip;
class HvConfirmation;
class MainWindow;
class RatingCheck;
class Staleness;

class LinkWatch : public QObject {
    Q_OBJECT
public:
    LinkWatch(MainWindow &window, HealthStrip &strip);
    ~LinkWatch() override;

    // From the link choice and Disconnect.
    void linkOpened(LinkKind kind, const QString &where);
    void linkFailed(LinkDown reason, const QString &where);
    // What the safety header and the alarms read besides the strip.
    LinkHealth &health() const { return *m_health; }
    HvConfirmation &hvConfirmation() const { return *m_hv; }
    RatingCheck &ratingCheck() const { return *m_rating; }
    // True while the HV lamp shows on or an HV OFF is not confirmed.
    bool hvMayBeOn() const;
    // Before an exit path: with high voltage possibly on the operator decides first.
    // False: stay (cancelled, or HV off and the shutdown sequence were chosen).
    bool mayExit();

signals:
    // The link's state as the health strip shows it changed: "NO REPLY since ...".
    void healthChanged(plv::LinkHealth::State state, const QString &text);

private:
    void exchanged(const QByteArray &command, const QByteArray &reply);
    void statusSeen(const QByteArray &reply);
    void showLink();
    void showStale(const QString &key, bool stale);
    void setLinkUp(bool up);

    MainWindow &m_window;
    HealthStrip &m_strip;
    LinkHealth *m_health;
    Staleness *m_stale;
    HvConfirmation *m_hv;
    RatingCheck *m_rating;
    QTimer *m_tick;
    QHash<QByteArray, QList<QWidget *>> m_valuesOf;   // command number -> what its reply fills
    QHash<QString, QWidget *> m_widget;               // key -> box or lamp
    bool m_chosen = false;
    bool m_sessionGone = false;
};

} // namespace plv
