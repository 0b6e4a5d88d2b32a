#include "cli/mqtt.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <mutex>

namespace plv::cli {

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString reason(int rc)
{
    QString s = QString::fromUtf8(mosquitto_strerror(rc));
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    return s.toLower();
}

} // namespace

MqttClient::MqttClient(const MqttSettings &settings, QObject *parent)
    : QObject(parent), m_s(settings), m_misc(new QTimer(this)), m_retry(new QTimer(this)), m_held(new QTimer(this)),
      m_delayMs(settings.backoffFirstMs)
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
    connect(m_held, &QTimer::timeout, this, [this] { m_delayMs = m_s.backoffFirstMs; });
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
    mosquitto_connect_callback_set(m_m, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(m_m, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(m_m, &MqttClient::onMessage);
    mosquitto_publish_callback_set(m_m, &MqttClient::onPublish);
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
        emit disconnected(QStringLiteral("cannot connect: %1").arg(reason(rc)));
        scheduleReconnect();
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
    const bool was = m_connected;
    m_connected = false;
    if (m_closing)
        return;
    if (was || !m_retry->isActive())
        emit disconnected(why);
    scheduleReconnect();
}

void MqttClient::scheduleReconnect()
{
    if (m_retry->isActive() || m_closing)
        return;
    // Jitter of +-25 % keeps many publishers from coming back in step after a broker restart.
    const double factor = 0.75 + 0.5 * QRandomGenerator::global()->generateDouble();
    m_retry->start(int(m_delayMs * factor));
    m_delayMs = std::min(m_delayMs * 2, m_s.backoffMaxMs);
}

void MqttClient::reconnect()
{
    const int rc = mosquitto_reconnect_async(m_m);
    if (rc != MOSQ_ERR_SUCCESS) {
        scheduleReconnect();
        return;
    }
    watchSocket();
    m_misc->start();
}

void MqttClient::onConnect(mosquitto *, void *self, int rc)
{
    auto *c = static_cast<MqttClient *>(self);
    if (rc != 0) {
        // Refused by the broker (credentials, protocol): treated as lost, retried later.
        QMetaObject::invokeMethod(c, [c, rc] { c->lost(QString::fromUtf8(mosquitto_connack_string(rc))); },
                                  Qt::QueuedConnection);
        return;
    }
    c->m_connected = true;
    c->m_held->start(c->m_s.heldMs);
    emit c->connected();
}

void MqttClient::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *c = static_cast<MqttClient *>(self);
    if (rc != 0 && !c->m_closing)
        QMetaObject::invokeMethod(c, [c, rc] { c->lost(reason(rc)); }, Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *msg)
{
    auto *c = static_cast<MqttClient *>(self);
    emit c->message(QString::fromUtf8(msg->topic), QByteArray(static_cast<const char *>(msg->payload), msg->payloadlen),
                    msg->retain);
}

void MqttClient::onPublish(mosquitto *, void *self, int mid) { emit static_cast<MqttClient *>(self)->published(mid); }

bool MqttClient::publish(const QString &topic, const QByteArray &payload, int qos, bool retain, int *mid)
{
    if (!m_connected)
        return false;
    const int rc = mosquitto_publish(m_m, mid, topic.toUtf8().constData(), int(payload.size()), payload.constData(),
                                     qos, retain);
    watchSocket();
    return rc == MOSQ_ERR_SUCCESS;
}

bool MqttClient::subscribe(const QString &filter, int qos)
{
    if (!m_connected)
        return false;
    const int rc = mosquitto_subscribe(m_m, nullptr, filter.toUtf8().constData(), qos);
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
