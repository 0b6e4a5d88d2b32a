#pragma once
// An MQTT client on libmosquitto, run by Qt's event loop: the socket under a
// QSocketNotifier, mosquitto_loop_misc on a timer, no thread of its own. It reconnects by
// itself with back-off after the broker is lost.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

struct mosquitto;
struct mosquitto_message;
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
    bool subscribe(const QString &filter, int qos);
    // Sends DISCONNECT after what is queued, waiting up to waitMs for the socket to take it.
    void disconnectCleanly(int waitMs);
    // Waits (in the event loop) until the publish with this id is acknowledged.
    bool waitForPublished(int mid, int waitMs);

    int nextDelayMs() const { return m_delayMs; }   // the next reconnect's base delay

signals:
    void connected();
    void disconnected(const QString &why);
    void message(const QString &topic, const QByteArray &payload, bool retained);
    void published(int mid);

private:
    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *msg);
    static void onPublish(mosquitto *, void *self, int mid);

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
    int m_delayMs;
    QString m_error;
};

} // namespace plv::cli
