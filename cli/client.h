#pragma once
// One run of plvctl: opens the link, runs the command through the unit operations the
// console uses, prints the result and answers with an exit code.
#include "cli/options.h"
#include "logs/formatting.h"
#include "logs/sample.h"
#include "unit/samplebuilder.h"
#include "unit/unit.h"
#include "link/backoff.h"
#include "unit/updatecycle.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>

class QTimer;

namespace plv {
class Session;
class LinkHealth;
}

namespace plv::cli {

class MqttClient;

// One printed value. An empty value was not read: "unknown" in text, null in JSON.
struct Field {
    QString key;
    QString value;
    bool text = false;   // a JSON string whatever it looks like (revisions, model number)
};

// The unit a name carries in its last part ("kv_kV" -> "kV"), empty for yes/no and text.
QString unitOfKey(const QString &key);
QString textLines(const QList<Field> &fields);   // "name: value unit" lines
QString jsonObject(const QList<Field> &fields);  // one line
// The named columns of the recording's row for this sample, in the order asked.
QList<Field> sampleFields(const logs::Sample &sample, const QStringList &columns);
QString setpointColumn(Channel c);   // "kv_set_kV", ...
// The status line's columns: HV, interlock, fault, remote and the six fault flags.
extern const QStringList kStatusColumns;

// Ctrl-C, SIGTERM, SIGHUP... handed to handler in owner's event loop, not in the signal
// handler. One owner per process.
void catchSignals(QObject *owner, std::initializer_list<int> numbers, const std::function<void(int)> &handler);

class Client : public QObject {
    Q_OBJECT
public:
    explicit Client(const Options &options);
    ~Client() override;
    int run();

    // The broker bridge without an event loop of its own, for the gateway's unit threads:
    // Done once started, else the exit code. onStop replaces the end of the program.
    int startBridge(bool ownSignals);
    void setOnStop(std::function<void(int)> onStop) { m_onStop = std::move(onStop); }
    void stop(int code = Done);

private:
    bool openLink();
    int query();
    int set();
    int action();
    int shutdown();
    int watch();
    int publish();
    void catchSignals();
    bool confirmHvOn();

    void readStatus();
    // What the queries since the last call read, as a sample.
    logs::Sample takeSample();
    // The value of the last reply when it is data, else empty ("unknown", null).
    QString lastText() const;
    QString hoursText() const;   // total hours of the last reply, as numbers are printed
    void runStep(UpdateCycle::Step step);
    void completeSample();
    logs::Sample freshSample() const;

    // An answer that says yes ('$'); counts a refusal, names it on standard error.
    std::optional<bool> accepted(char answer);
    int verdict() const;   // 4 when a reply did not come, else 5 when one was refused, else 0

    // The unit's model number against the rating; false (said) when they disagree.
    bool checkRating();
    bool convertedOk() const { return m_ratingMismatch.isEmpty(); }

    // watch and publish: a lost link is said, retried with the links' back-off, and on
    // its return the status and identity are read again before the cycle restarts.
    void startCycle();
    void watchLink();
    void linkLost(const QString &why, bool refused);
    void retryLink();
    void linkBack();

    void print(const QList<Field> &fields);
    bool print(const QString &text);   // false once standard output failed (named once)
    void say(const QString &message) const;
    void onReply(const Reply &reply);

    Options m_o;   // its rating follows the unit's model number once read
    const Rating *const m_askedRating;   // --rating, or the build's default
    QObject m_root;
    Session *m_session;
    Unit m_unit;
    double m_mApc;
    int m_timeouts = 0;
    int m_refusals = 0;
    QByteArray m_lastSent;   // payload of the last command, for messages
    bool m_quietTimeouts = false;   // watch: name only the first of a silent stretch
    bool m_silent = false;

    bool m_ratingChecked = false;
    QString m_ratingMismatch;   // why nothing is converted: the unit contradicts the rating

    UpdateCycle *m_cycle = nullptr;
    QTimer *m_relink = nullptr;
    Backoff m_backoff;
    bool m_linkDown = false;
    bool m_lostInCycle = false;   // the cycle under way when the link went: no row for it

    logs::MonotonicWallClock m_wall;
    SampleBuilder m_builder;
    Reply m_lastReply;
    logs::Sample m_sample;
    qint64 m_samples = 0;
    bool m_stopping = false;
    int m_exitCode = Done;
    std::function<void(int)> m_onStop;
    bool m_writeFailed = false;

    // publish
    struct Request {
        QString topic;                // the leaf: "set", "hv", ...
        QJsonObject body;             // the object, or {"value": word} for a bare word
        QJsonValue id;
        qint64 deadlineMs = 0;        // monotonic: older requests are refused unrun
    };
    void identity(Identity item, int slot);
    void tellHealth(bool good);
    void sayGoodbye();
    void onBrokerUp();
    void onRequest(const QString &topic, const QByteArray &payload, bool retained, qint64 expiryS);
    void answer(const Request &r, const char *outcome, const QString &detail = {}, const QJsonObject &extra = {});
    void runNextRequest();
    void runRequest(const Request &r);
    void dropRequests(const char *outcome, const QString &detail);
    void publishState(bool always);
    void publishInfo(bool always);
    void publishSample();
    void publishDiscovery(bool always);
    void publishHealth();
    void onBrokerMessage(const QString &topic, const QByteArray &payload, bool retained, qint64 expiryS);
    QString topic(const char *leaf) const;
    MqttClient *m_mqtt = nullptr;
    LinkHealth *m_health = nullptr;
    qint64 m_sequence = 0;
    QList<Request> m_requests;
    logs::Sample m_lastStatus;      // the status fields as last read, kept across cycles
    QByteArray m_stateShown;        // the state payload without its time, as last published
    QByteArray m_infoShown;
    QByteArray m_deviceShown;       // the discovery configs' device block, as last published
    QString m_info[5];              // model, web, software, hardware revision, hours
    // For ROOT/health, counted since the start.
    int m_linkReconnects = 0;
    int m_brokerConnections = 0;
    int m_droppedCycles = 0;        // cycles whose readbacks never reached the broker
};

} // namespace plv::cli
