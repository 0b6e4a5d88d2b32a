#pragma once
// An MQTT client on libmosquitto, run by Qt's event loop: the socket under a
// QSocketNotifier, mosquitto_loop_misc on a timer, no thread of its own. It reconnects by
// itself with the links' back-off after the broker is lost. It speaks MQTT 5 where the
// broker does, so that a retained flag arrives as published and refusals carry reasons.
#include "link/backoff.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;
class QSocketNotifier;
class QTimer;

namespace plv::cli {

struct MqttSettings {
    QString host;
    quint16 port = 1883;
    QString clientId;          // empty: the library makes one
    QString user;
    QByteArray password;
    bool tls = false;
    QString tlsCa;             // empty with tls: the system's CA store
    QString willTopic;         // empty: no last will
    QByteArray willPayload;
    bool willRetain = true;
    int keepAliveS = 10;
    int backoffFirstMs = 1000;
    int backoffMaxMs = 30000;
    int heldMs = 10000;        // a connection that lasted this long resets the back-off
    bool requireMqtt5 = false; // else a broker without MQTT 5 is spoken to in 3.1.1
};

class MqttClient : public QObject {
    Q_OBJECT
public:
    explicit MqttClient(const MqttSettings &settings, QObject *parent = nullptr);
    ~MqttClient() override;

    // Starts connecting; false with errorString() for settings the library refuses.
    bool start();
    bool isConnected() const { return m_connected; }
    QString errorString() const { return m_error; }

    // False when it could not be queued (not connected, or the library refused).
    bool publish(const QString &topic, const QByteArray &payload, int qos, bool retain, int *mid = nullptr);
    // asPublished (MQTT 5): the retain flag as the sender set it, and nothing this client
    // itself publishes.
    bool subscribe(const QString &filter, int qos, bool asPublished = false);
    bool isMqtt5() const { return m_mqtt5; }
    // Sends DISCONNECT after what is queued, waiting up to waitMs for the socket to take it.
    void disconnectCleanly(int waitMs);
    // Waits (in the event loop) until the publish with this id is acknowledged.
    bool waitForPublished(int mid, int waitMs);

signals:
    void connected();
    void disconnected(const QString &why);
    // expiryS: what is left of the sender's message expiry, -1 when it set none.
    void message(const QString &topic, const QByteArray &payload, bool retained, qint64 expiryS);
    void published(int mid);
    // A publish or subscription the broker refused, named once per topic and reason.
    void refused(const QString &what);
    // requireMqtt5 and the broker cannot: it does not retry.
    void fatal(const QString &why);

private:
    static void onConnect(mosquitto *, void *self, int rc, int flags, const mosquitto_property *);
    static void onDisconnect(mosquitto *, void *self, int rc, const mosquitto_property *);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *msg, const mosquitto_property *props);
    static void onPublish(mosquitto *, void *self, int mid, int reason, const mosquitto_property *);
    static void onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted, const mosquitto_property *);
    static void onLog(mosquitto *, void *self, int level, const char *text);
    void refusedOnce(const QString &what);

    void watchSocket();
    void lost(const QString &why);
    void scheduleReconnect();
    void reconnect();
    void readable();
    void writable();

    MqttSettings m_s;
    mosquitto *m_m = nullptr;
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_read, m_write;
    QTimer *m_misc;
    QTimer *m_retry;
    QTimer *m_held;
    bool m_connected = false;
    bool m_started = false;
    bool m_closing = false;
    bool m_mqtt5 = true;
    Backoff m_backoff;
    QString m_error;
    QString m_refusal;                // the broker's CONNACK reason, for the next loss
    QString m_tlsReason;              // the library's last TLS complaint, for the next loss
    QHash<int, QString> m_pending;    // message id -> topic or filter awaiting the broker's answer
    QSet<QString> m_refusalsSaid;
};

} // namespace plv::cli
