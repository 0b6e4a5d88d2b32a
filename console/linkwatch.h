#pragma once
// Keeps the operator from being misled by a dead link: feeds the link-health logic
// from the session, the link choice and the update cycle, and shows what it concludes
// (the health strip, stale values, the HV command's fate, HV ON, the rating check).
#include "health/linkhealth.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;
class QWidget;

namespace plv {

struct BuildData;
struct Reply;
class HealthStrip;
class HvConfirmation;
class LinkChoice;
class MainPanel;
class RatingCheck;
class RatingMenu;
class Session;
class Staleness;
class Unit;
class UpdateCycle;

class LinkWatch : public QObject {
    Q_OBJECT
public:
    // What it watches and where it shows it, handed in by the window that owns them.
    struct Sources {
        QWidget &window;   // the caption's, the prompts' parent, the emergency key's
        const BuildData &build;
        Session &session;
        Unit &unit;
        UpdateCycle &cycle;
        MainPanel &panel;
        RatingMenu &rating;
        LinkChoice &links;
        std::function<void()> shutdown;   // the shutdown sequence, once HV OFF has gone out
    };
    explicit LinkWatch(const Sources &from);
    ~LinkWatch() override;

    // From the link choice and Disconnect (connected by itself).
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
    // The emergency HV OFF key was pressed (its HV OFF is queued ahead of everything).
    void emergencyKeyPressed();

private:
    void replied(const Reply &reply);
    void showLink();
    void showStale(const QString &key, bool stale);
    void setLinkUp(bool up);

    QWidget &m_window;
    Session &m_session;
    MainPanel &m_panel;
    HealthStrip &m_strip;
    std::function<void()> m_shutdown;
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
