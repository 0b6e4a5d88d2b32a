#include "cli/mqtt.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <mutex>

namespace plv::cli {

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString lowered(const char *text)
{
    QString s = QString::fromUtf8(text);
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    return s.toLower();
}

QString reason(int rc) { return lowered(mosquitto_strerror(rc)); }
// An MQTT 5 reason code as the broker means it: "not authorized (135)".
QString reasonCode(int rc) { return QStringLiteral("%1 (%2)").arg(lowered(mosquitto_reason_string(rc))).arg(rc); }

// What OpenSSL said, without its numbering: "certificate verify failed", "hostname mismatch".
QString tlsComplaint(const QString &line)
{
    const qsizetype at = line.lastIndexOf(QLatin1Char(':'));
    return at < 0 ? line : line.mid(at + 1).trimmed();
}

} // namespace

MqttClient::MqttClient(const MqttSettings &settings, QObject *parent)
    : QObject(parent), m_s(settings), m_misc(new QTimer(this)), m_retry(new QTimer(this)), m_held(new QTimer(this)),
      m_backoff(BackoffRule{settings.backoffFirstMs, settings.backoffMaxMs})
{
    initLibrary();
    m_misc->setInterval(250);   // keep-alive pings and their time-out
    connect(m_misc, &QTimer::timeout, this, [this] {
        if (!m_m || m_fd < 0)
            return;
        mosquitto_loop_misc(m_m);
        if (mosquitto_socket(m_m) < 0)
            lost(QStringLiteral("no answer to keep-alive"));
        else
            watchSocket();
    });
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &MqttClient::reconnect);
    m_held->setSingleShot(true);
    connect(m_held, &QTimer::timeout, this, [this] { m_backoff.reset(); });
}

MqttClient::~MqttClient()
{
    m_read.reset();
    m_write.reset();
    if (m_m)
        mosquitto_destroy(m_m);
}

bool MqttClient::start()
{
    const QByteArray id = m_s.clientId.toUtf8();
    m_m = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this);
    if (!m_m) {
        m_error = QStringLiteral("cannot create the MQTT client");
        return false;
    }
    mosquitto_int_option(m_m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small messages that should leave at once: --per-value writes a burst per cycle, which
    // Nagle would hold back behind the broker's acknowledgement of the first.
    mosquitto_int_option(m_m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(m_m, &MqttClient::onConnect);
    mosquitto_disconnect_v5_callback_set(m_m, &MqttClient::onDisconnect);
    mosquitto_message_v5_callback_set(m_m, &MqttClient::onMessage);
    mosquitto_publish_v5_callback_set(m_m, &MqttClient::onPublish);
    mosquitto_subscribe_v5_callback_set(m_m, &MqttClient::onSubscribe);
    mosquitto_log_callback_set(m_m, &MqttClient::onLog);
    int rc = MOSQ_ERR_SUCCESS;
    if (!m_s.user.isEmpty())
        rc = mosquitto_username_pw_set(m_m, m_s.user.toUtf8().constData(),
                                       m_s.password.isNull() ? nullptr : m_s.password.constData());
    if (rc == MOSQ_ERR_SUCCESS && m_s.tls) {
        if (m_s.tlsCa.isEmpty()) {
            mosquitto_int_option(m_m, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        } else {
            rc = mosquitto_tls_set(m_m, m_s.tlsCa.toLocal8Bit().constData(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    if (rc == MOSQ_ERR_SUCCESS && !m_s.willTopic.isEmpty())
        rc = mosquitto_will_set(m_m, m_s.willTopic.toUtf8().constData(), int(m_s.willPayload.size()),
                                m_s.willPayload.constData(), 1, m_s.willRetain);
    if (rc != MOSQ_ERR_SUCCESS) {
        m_error = reason(rc);
        return false;
    }
    m_started = true;
    rc = mosquitto_connect_async(m_m, m_s.host.toUtf8().constData(), m_s.port, m_s.keepAliveS);
    if (rc != MOSQ_ERR_SUCCESS) {
        // A broker that is not there yet is retried like one that went away.
        lost(QStringLiteral("cannot connect: %1").arg(reason(rc)));
        return true;
    }
    watchSocket();
    m_misc->start();
    return true;
}

void MqttClient::watchSocket()
{
    const int fd = m_m ? mosquitto_socket(m_m) : -1;
    if (fd != m_fd) {
        m_read.reset();
        m_write.reset();
        m_fd = fd;
        if (fd >= 0) {
            m_read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            m_write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
            connect(m_read.get(), &QSocketNotifier::activated, this, &MqttClient::readable);
            connect(m_write.get(), &QSocketNotifier::activated, this, &MqttClient::writable);
        }
    }
    if (m_write)
        m_write->setEnabled(mosquitto_want_write(m_m));
}

void MqttClient::readable()
{
    const int rc = mosquitto_loop_read(m_m, 1);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_m) < 0)
        lost(reason(rc));
    else
        watchSocket();
}

void MqttClient::writable()
{
    const int rc = mosquitto_loop_write(m_m, 1);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(m_m) < 0)
        lost(reason(rc));
    else
        watchSocket();
}

void MqttClient::lost(const QString &why)
{
    m_read.reset();
    m_write.reset();
    m_fd = -1;
    m_held->stop();
    m_pending.clear();
    const bool was = m_connected;
    m_connected = false;
    if (m_closing)
        return;
    // The library's own word for a failed handshake is only "a tls error occurred".
    const QString named = !m_refusal.isEmpty()   ? m_refusal
                          : !m_tlsReason.isEmpty() ? QStringLiteral("TLS: %1").arg(m_tlsReason)
                                                   : why;
    m_refusal.clear();
    m_tlsReason.clear();
    if (was || !m_retry->isActive())
        emit disconnected(named);
    scheduleReconnect();
}

void MqttClient::scheduleReconnect()
{
    if (m_retry->isActive() || m_closing)
        return;
    m_retry->start(m_backoff.next());
}

void MqttClient::reconnect()
{
    const int rc = mosquitto_reconnect_async(m_m);
    if (rc != MOSQ_ERR_SUCCESS) {
        lost(QStringLiteral("cannot connect: %1").arg(reason(rc)));
        return;
    }
    watchSocket();
    m_misc->start();
}

void MqttClient::onConnect(mosquitto *, void *self, int rc, int, const mosquitto_property *)
{
    auto *c = static_cast<MqttClient *>(self);
    if (rc != 0) {
        // A broker without MQTT 5 answers in its own version: code 1 or 132.
        const bool version = rc == CONNACK_REFUSED_PROTOCOL_VERSION || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION;
        if (version && c->m_mqtt5 && c->m_s.requireMqtt5) {
            c->m_closing = true;   // not retried
            QMetaObject::invokeMethod(c, [c] { emit c->fatal(QStringLiteral("the broker does not speak MQTT 5, which requests need")); },
                                      Qt::QueuedConnection);
            return;
        }
        // Kept for the loss that follows, which the library reports as a mere protocol error.
        c->m_refusal = QStringLiteral("refused by the broker: %1")
                           .arg(c->m_mqtt5 ? reasonCode(rc) : lowered(mosquitto_connack_string(rc)));
        if (version && c->m_mqtt5) {
            c->m_mqtt5 = false;
            mosquitto_int_option(c->m_m, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
        }
        QMetaObject::invokeMethod(c, [c] { c->lost(QString()); }, Qt::QueuedConnection);
        return;
    }
    c->m_connected = true;
    c->m_held->start(c->m_s.heldMs);
    emit c->connected();
}

void MqttClient::onDisconnect(mosquitto *, void *self, int rc, const mosquitto_property *)
{
    auto *c = static_cast<MqttClient *>(self);
    if (rc != 0 && !c->m_closing)
        QMetaObject::invokeMethod(c, [c, rc] { c->lost(c->m_mqtt5 && rc >= 128 ? reasonCode(rc) : reason(rc)); },
                                  Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *msg, const mosquitto_property *props)
{
    auto *c = static_cast<MqttClient *>(self);
    uint32_t expiry = 0;
    const bool expires = mosquitto_property_read_int32(props, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, &expiry, false);
    emit c->message(QString::fromUtf8(msg->topic), QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen),
                    msg->retain, expires ? qint64(expiry) : -1);
}

void MqttClient::onPublish(mosquitto *, void *self, int mid, int rc, const mosquitto_property *)
{
    auto *c = static_cast<MqttClient *>(self);
    const QString topic = c->m_pending.take(mid);
    if (rc >= 128)
        c->refusedOnce(QStringLiteral("publish to %1 refused: %2").arg(topic, reasonCode(rc)));
    emit c->published(mid);
}

void MqttClient::onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted, const mosquitto_property *)
{
    auto *c = static_cast<MqttClient *>(self);
    const QString filter = c->m_pending.take(mid);
    for (int i = 0; i < count; ++i)
        if (granted[i] >= 128)
            c->refusedOnce(QStringLiteral("subscription to %1 refused: %2").arg(filter, reasonCode(granted[i])));
}

void MqttClient::onLog(mosquitto *, void *self, int level, const char *text)
{
    // The library's TLS failures come as log lines only: "Error: host name verification
    // failed." ahead of OpenSSL's own "...::certificate verify failed", which alone means
    // a certificate the CA given does not vouch for.
    auto *c = static_cast<MqttClient *>(self);
    const QString line = QString::fromUtf8(text);
    if (level != MOSQ_LOG_ERR)
        return;
    if (line.contains(QLatin1String("host name verification failed")))
        c->m_tlsReason = QStringLiteral("the broker's certificate is for another host name");
    else if (line.contains(QLatin1String("certificate verify failed")) && c->m_tlsReason.isEmpty())
        c->m_tlsReason = QStringLiteral("the broker's certificate is not signed by a trusted CA (certificate verify failed)");
    else if (line.contains(QLatin1String("OpenSSL")) && c->m_tlsReason.isEmpty())
        c->m_tlsReason = tlsComplaint(line);
}

void MqttClient::refusedOnce(const QString &what)
{
    if (m_refusalsSaid.contains(what))
        return;
    m_refusalsSaid.insert(what);
    emit refused(what);
}

bool MqttClient::publish(const QString &topic, const QByteArray &payload, int qos, bool retain, int *mid)
{
    if (!m_connected)
        return false;
    int id = 0;
    const int rc = mosquitto_publish(m_m, &id, topic.toUtf8().constData(), int(payload.size()), payload.constData(),
                                     qos, retain);
    if (rc == MOSQ_ERR_SUCCESS && qos > 0 && m_mqtt5)
        m_pending.insert(id, topic);   // its PUBACK may carry a refusal
    if (mid)
        *mid = id;
    watchSocket();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString &filter, int qos, bool asPublished)
{
    if (!m_connected)
        return false;
    int id = 0;
    const int options = asPublished && m_mqtt5 ? MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED : 0;
    const int rc = mosquitto_subscribe_v5(m_m, &id, filter.toUtf8().constData(), qos, options, nullptr);
    if (rc == MOSQ_ERR_SUCCESS)
        m_pending.insert(id, filter);
    watchSocket();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::waitForPublished(int mid, int waitMs)
{
    bool done = false;
    QEventLoop loop;
    const auto c1 = connect(this, &MqttClient::published, &loop, [&](int m) {
        if (m == mid) {
            done = true;
            loop.quit();
        }
    });
    const auto c2 = connect(this, &MqttClient::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    if (m_connected)
        loop.exec();
    disconnect(c1);
    disconnect(c2);
    return done;
}

void MqttClient::disconnectCleanly(int waitMs)
{
    m_closing = true;
    m_retry->stop();
    m_misc->stop();
    if (!m_m || !m_connected)
        return;
    mosquitto_disconnect(m_m);
    const QDeadlineTimer deadline(waitMs);
    while (mosquitto_socket(m_m) >= 0 && mosquitto_want_write(m_m) && !deadline.hasExpired())
        if (mosquitto_loop_write(m_m, 1) != MOSQ_ERR_SUCCESS)
            break;
    m_connected = false;
    m_read.reset();   // the library has closed the socket, or does so on destruction
    m_write.reset();
    m_fd = -1;
}

} // namespace plv::cli
