// plvctl publish: the update cycle's results on an MQTT broker, and with --commands the
// broker's requests carried out through the same unit operations as the other commands.
#include "cli/client.h"
#include "cli/mqtt.h"

#include "health/clock.h"
#include "health/linkhealth.h"
#include "link/session.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace plv::cli {

namespace {


// Numbers as numbers (the yes/no columns 1 and 0, as plvctl --json prints them), a
// missing value as null.
QJsonObject toJson(const QList<Field> &fields)
{
    QJsonObject o;
    for (const Field &f : fields) {
        if (f.value.isEmpty())
            o.insert(f.key, QJsonValue::Null);
        else if (bool ok = false; !f.text && (f.value.toDouble(&ok), ok))
            o.insert(f.key, f.value.toDouble());
        else
            o.insert(f.key, f.value);
    }
    return o;
}

QByteArray compact(const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

constexpr qsizetype kRequestLimit = 4096;   // bytes; a larger request is not read
constexpr int kQueueLimit = 16;             // requests waiting for the cycle
constexpr qint64 kRequestLifeMs = 10000;    // a request older than this is not run

// The keys each request takes; any other makes it invalid.
QStringList requestKeys(const QString &request)
{
    if (request == QLatin1String("set"))
        return {"channel", "value", "id", "ts"};
    if (request == QLatin1String("hv") || request == QLatin1String("remote"))
        return {"value", "id", "ts"};
    if (request == QLatin1String("reset-faults") || request == QLatin1String("shutdown"))
        return {"id", "ts"};
    return {};
}

// The link's health text without its count of missed replies, which would make every
// miss a new state.
QString linkMeaning(const QString &text)
{
    static const QRegularExpression count(QStringLiteral(" \\(\\d+ missed\\)$"));
    return QString(text).remove(count);
}

QString isoNow() { return QDateTime::currentDateTime().toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc()).toString(Qt::ISODateWithMs); }

// "on"/"off" as a bare word, a JSON string or {"value": "on"}.
std::optional<bool> onOff(const QJsonValue &v)
{
    const QString w = v.toString().trimmed().toLower();
    if (w == QLatin1String("on"))
        return true;
    if (w == QLatin1String("off"))
        return false;
    return std::nullopt;
}

} // namespace

QString Client::topic(const char *leaf) const { return m_o.topic + QLatin1Char('/') + QLatin1String(leaf); }

void Client::tellHealth(bool good)
{
    const qint64 now = monotonicMs();
    if (good)
        m_health->goodReply(now);
    else
        m_health->missedReply(now);
}

int Client::publish()
{
    if (const int code = startBridge(true); code != Done)
        return code;
    const int code = QCoreApplication::exec();
    return m_stopping ? m_exitCode : code;
}

int Client::startBridge(bool ownSignals)
{
    MqttSettings s;
    s.host = m_o.brokerHost;
    s.port = m_o.brokerPort;
    s.user = m_o.user;
    if (!m_o.passwordFile.isEmpty()) {
        QFile f(m_o.passwordFile);
        if (!f.open(QIODevice::ReadOnly)) {
            say(QStringLiteral("cannot read the password file %1: %2").arg(m_o.passwordFile, f.errorString()));
            return Usage;
        }
        // The first line, without its line break: what an editor or echo leaves.
        s.password = f.readLine();
        while (s.password.endsWith('\n') || s.password.endsWith('\r'))
            s.password.chop(1);
        if (s.password.isEmpty()) {
            say(QStringLiteral("the password file %1 is empty").arg(m_o.passwordFile));
            return Usage;
        }
    }
    if (!m_o.tlsCa.isEmpty()) {
        QFile ca(m_o.tlsCa);
        if (!ca.open(QIODevice::ReadOnly) || ca.size() == 0) {
            say(QStringLiteral("cannot read the CA certificate %1: %2")
                    .arg(m_o.tlsCa, ca.isOpen() ? QStringLiteral("the file is empty") : ca.errorString()));
            return Usage;
        }
    }
    s.tls = m_o.brokerTls;
    s.tlsCa = m_o.tlsCa;
    s.willTopic = topic("online");
    s.willPayload = "offline";
    s.backoffMaxMs = m_o.reconnectMaxMs;
    s.backoffFirstMs = std::min(1000, m_o.reconnectMaxMs);
    s.requireMqtt5 = m_o.commands;   // only MQTT 5 tells a retained request from a fresh one
    // One per topic root and stable across restarts, so the broker's client list names the
    // unit; the session starts clean, so nothing queued while away is delivered later.
    s.clientId = QStringLiteral("plvctl/") + m_o.topic;

    m_health = new LinkHealth(systemWallClock(), &m_root);
    auto *mqtt = new MqttClient(s, &m_root);
    const QString broker = QStringLiteral("broker %1:%2: ").arg(m_o.brokerHost).arg(m_o.brokerPort);
    connect(mqtt, &MqttClient::connected, this, &Client::onBrokerUp);
    connect(mqtt, &MqttClient::disconnected, this,
            [this, broker](const QString &why) { say(broker + why + QStringLiteral("; reconnecting")); });
    connect(mqtt, &MqttClient::refused, this, [this, broker](const QString &what) { say(broker + what); });
    connect(mqtt, &MqttClient::fatal, this, [this, broker](const QString &why) {
        say(broker + why);
        stop(NoLink);
    });
    connect(mqtt, &MqttClient::message, this, &Client::onBrokerMessage);

    m_quietTimeouts = true;
    if (ownSignals)
        catchSignals();
    m_health->setAutomatic(true, monotonicMs());
    connect(m_health, &LinkHealth::textChanged, this, [this] { publishState(false); });
    if (!mqtt->start()) {
        say(broker + mqtt->errorString());
        return Usage;
    }
    m_mqtt = mqtt;
    auto *tick = new QTimer(&m_root);
    tick->setObjectName(QStringLiteral("tmr_HEALTH"));
    connect(tick, &QTimer::timeout, m_health, [this] { m_health->tick(monotonicMs()); });
    tick->start(250);
    if (m_o.health) {
        auto *health = new QTimer(&m_root);
        health->setObjectName(QStringLiteral("tmr_HEALTH_TOPIC"));
        connect(health, &QTimer::timeout, this, &Client::publishHealth);
        health->start(10000);
    }

    // A unit away at start is waited for as one that went away: the broker hears of it.
    watchLink();
    QTimer::singleShot(0, this, [this] {
        if (openLink())
            linkBack();
        else
            linkLost(m_o.link == LinkType::Tcp && m_session->tcp().socket().error() == QAbstractSocket::ConnectionRefusedError
                         ? QStringLiteral("refused")
                         : QStringLiteral("cannot open"),
                     m_o.link == LinkType::Tcp);
    });
    return Done;
}

void Client::sayGoodbye()
{
    // Retained "offline" first, then DISCONNECT: a clean disconnect suppresses the will.
    // Its acknowledgement is awaited: left unread, it would make the close a reset, which
    // can reach the broker ahead of the DISCONNECT and publish the will instead.
    int mid = 0;
    if (m_mqtt->publish(topic("online"), "offline", 1, true, &mid))
        m_mqtt->waitForPublished(mid, 2000);
    m_mqtt->disconnectCleanly(2000);
}

void Client::onBrokerUp()
{
    say(QStringLiteral("broker %1:%2: connected as %3").arg(m_o.brokerHost).arg(m_o.brokerPort).arg(m_o.topic));
    if (m_brokerConnections++ > 0)
        say(QStringLiteral("broker reconnected"));
    m_mqtt->publish(topic("online"), "online", 1, true);
    publishState(true);
    publishInfo(true);
    if (m_o.commands)
        m_mqtt->subscribe(topic("cmd/+"), 1, true);
    if (!m_o.haPrefix.isEmpty()) {
        publishDiscovery(true);
        m_mqtt->subscribe(m_o.haPrefix + QStringLiteral("/status"), 1);
    }
    if (m_o.health)
        publishHealth();
}

void Client::onBrokerMessage(const QString &t, const QByteArray &payload, bool retained, qint64 expiryS)
{
    // Home Assistant announces its (re)start here and then needs the configs again.
    if (!m_o.haPrefix.isEmpty() && t == m_o.haPrefix + QStringLiteral("/status")) {
        if (payload.trimmed() == "online")
            publishDiscovery(true);
        return;
    }
    if (m_o.commands)
        onRequest(t, payload, retained, expiryS);
}

void Client::publishDiscovery(bool always)
{
    if (!m_mqtt || m_stopping || m_o.haPrefix.isEmpty())
        return;
    QString node = m_o.topic;
    node.replace(QLatin1Char('/'), QLatin1Char('_'));
    QJsonObject device{{QStringLiteral("identifiers"), QJsonArray{node}}, {QStringLiteral("name"), m_o.topic}};
    const std::pair<const char *, int> revisions[] = {{"model", 0}, {"sw_version", 2}, {"hw_version", 3}};
    for (const auto &[key, slot] : revisions)
        if (!m_info[slot].trimmed().isEmpty())
            device.insert(QLatin1String(key), m_info[slot].trimmed());
    // The device block names the model and revisions: the configs change with them.
    const QByteArray shown = compact(device);
    if (!always && shown == m_deviceShown)
        return;
    m_deviceShown = shown;
    auto config = [&](const char *component, const QString &key, const QString &from, QJsonObject o) {
        o.insert(QStringLiteral("name"), key);
        o.insert(QStringLiteral("unique_id"), node + QLatin1Char('_') + key);
        o.insert(QStringLiteral("object_id"), node + QLatin1Char('_') + key);
        o.insert(QStringLiteral("state_topic"), topic(from.toLatin1().constData()));
        if (!o.contains(QStringLiteral("value_template")))
            o.insert(QStringLiteral("value_template"), QStringLiteral("{{ value_json.%1 }}").arg(key));
        o.insert(QStringLiteral("availability_topic"), topic("online"));
        o.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
        o.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
        o.insert(QStringLiteral("device"), device);
        m_mqtt->publish(QStringLiteral("%1/%2/%3/%4/config").arg(m_o.haPrefix, QLatin1String(component), node, key),
                        compact(o), 1, true);
    };
    // Every column of the readbacks that carries a unit is a sensor: monitors and setpoints.
    const QStringList columns = logs::sampleCsvHeader().split(QLatin1Char(',')) + QStringList{QStringLiteral("total_hours_h")};
    for (const QString &key : columns) {
        const QString unit = unitOfKey(key);
        if (unit.isEmpty())
            continue;
        QJsonObject o{{QStringLiteral("unit_of_measurement"), unit}};
        const QString deviceClass = unit == QLatin1String("kV") || unit == QLatin1String("V")   ? QStringLiteral("voltage")
                                    : unit == QLatin1String("mA") || unit == QLatin1String("A") ? QStringLiteral("current")
                                    : unit == QLatin1String("h")                                 ? QStringLiteral("duration")
                                                                                                 : QString();
        if (!deviceClass.isEmpty())
            o.insert(QStringLiteral("device_class"), deviceClass);
        const bool hours = key == QLatin1String("total_hours_h");
        o.insert(QStringLiteral("state_class"), hours ? QStringLiteral("total_increasing") : QStringLiteral("measurement"));
        config("sensor", key, hours ? QStringLiteral("info") : QStringLiteral("readbacks"), o);
    }
    // The status line's yes/no values, from the retained state.
    for (const QString &key : kStatusColumns) {
        QJsonObject o{{QStringLiteral("payload_on"), QStringLiteral("1")}, {QStringLiteral("payload_off"), QStringLiteral("0")}};
        if (key == QLatin1String("hv_on"))
            o.insert(QStringLiteral("device_class"), QStringLiteral("power"));
        else if (key == QLatin1String("fault") || key.endsWith(QLatin1String("_flag")))
            o.insert(QStringLiteral("device_class"), QStringLiteral("problem"));
        config("binary_sensor", key, QStringLiteral("state"), o);
    }
    config("binary_sensor", QStringLiteral("link_up"), QStringLiteral("state"),
           {{QStringLiteral("device_class"), QStringLiteral("connectivity")},
            {QStringLiteral("value_template"), QStringLiteral("{{ 'ON' if value_json.link_up else 'OFF' }}")}});
}

void Client::publishHealth()
{
    if (!m_mqtt || m_stopping)
        return;
    const QJsonObject o{{QStringLiteral("link_reconnects"), m_linkReconnects},
                        {QStringLiteral("broker_reconnects"), std::max(0, m_brokerConnections - 1)},
                        {QStringLiteral("missed_replies"), m_timeouts},
                        {QStringLiteral("dropped_cycles"), m_droppedCycles},
                        {QStringLiteral("readbacks"), double(m_sequence)},
                        {QStringLiteral("time"), isoNow()}};
    m_mqtt->publish(topic("health"), compact(o), 0, false);
}

void Client::publishState(bool always)
{
    if (!m_mqtt || m_stopping)
        return;
    QJsonObject o = toJson(sampleFields(m_lastStatus, kStatusColumns));
    o.insert(QStringLiteral("rating"), ratingName(*m_o.rating));
    o.insert(QStringLiteral("rating_checked"), m_ratingChecked);
    o.insert(QStringLiteral("converted"), convertedOk());
    if (!convertedOk())
        o.insert(QStringLiteral("rating_error"), m_ratingMismatch);
    o.insert(QStringLiteral("link_up"), m_health->state() == LinkHealth::State::Connected);
    o.insert(QStringLiteral("link"), linkMeaning(m_health->text()));
    const QByteArray body = compact(o);
    if (!always && body == m_stateShown)
        return;
    o.insert(QStringLiteral("time"), isoNow());
    if (m_mqtt->publish(topic("state"), compact(o), 1, true))
        m_stateShown = body;
}

void Client::publishInfo(bool always)
{
    if (!m_mqtt || m_stopping)
        return;
    const QList<Field> fields = {{QStringLiteral("model_number"), m_info[0], true},
                                 {QStringLiteral("web_revision"), m_info[1], true},
                                 {QStringLiteral("software_revision"), m_info[2], true},
                                 {QStringLiteral("hardware_revision"), m_info[3], true},
                                 {QStringLiteral("total_hours_h"), m_info[4]}};
    if (std::all_of(std::begin(m_info), std::end(m_info), [](const QString &v) { return v.isEmpty(); }))
        return;   // nothing read yet
    const QByteArray body = compact(toJson(fields));
    if (!always && body == m_infoShown)
        return;
    if (m_mqtt->publish(topic("info"), body, 1, true)) {
        m_infoShown = body;
        publishDiscovery(false);
    }
}

void Client::publishSample()
{
    // Status fields of a cycle whose status query failed stay as last known: the link
    // text says why they are old.
    if (m_sample.hvOn || m_sample.arc) {
        m_lastStatus.hvOn = m_sample.hvOn;
        m_lastStatus.interlockClosed = m_sample.interlockClosed;
        m_lastStatus.fault = m_sample.fault;
        m_lastStatus.remote = m_sample.remote;
        m_lastStatus.arc = m_sample.arc;
        m_lastStatus.overTemperature = m_sample.overTemperature;
        m_lastStatus.overVoltage = m_sample.overVoltage;
        m_lastStatus.underVoltage = m_sample.underVoltage;
        m_lastStatus.overCurrent = m_sample.overCurrent;
        m_lastStatus.underCurrent = m_sample.underCurrent;
    }
    publishState(false);
    if (!convertedOk()) {
        // The unit contradicts the rating: its counts would become the wrong kV and mA.
        m_sample.kV = m_sample.mA = m_sample.kVSetpoint = m_sample.mASetpoint = std::nullopt;
    }
    // Numbered whether or not the broker takes it, so a subscriber sees the gap.
    const QList<Field> fields = sampleFields(m_sample, logs::sampleCsvHeader().split(QLatin1Char(',')));
    QJsonObject o = toJson(fields);
    o.insert(QStringLiteral("seq"), double(++m_sequence));
    if (!m_mqtt->publish(topic("readbacks"), compact(o), 1, false))
        ++m_droppedCycles;
    if (m_o.perValue)   // the value as the recording writes it; empty where it was not read
        for (const Field &f : fields)
            m_mqtt->publish(topic("readbacks/") + f.key, f.value.toUtf8(), 1, false);
    ++m_samples;
}

void Client::answer(const Request &r, const char *outcome, const QString &detail, const QJsonObject &extra)
{
    QJsonObject result{{QStringLiteral("command"), r.topic}};
    if (!r.id.isUndefined())
        result.insert(QStringLiteral("id"), r.id);
    result.insert(QStringLiteral("outcome"), QLatin1String(outcome));
    if (!detail.isEmpty())
        result.insert(QStringLiteral("detail"), detail);
    for (auto it = extra.begin(); it != extra.end(); ++it)
        result.insert(it.key(), it.value());
    m_mqtt->publish(topic("cmd/result"), compact(result), 1, false);
}

void Client::onRequest(const QString &t, const QByteArray &payload, bool retained, qint64 expiryS)
{
    const QString prefix = topic("cmd/");
    if (!t.startsWith(prefix) || t == topic("cmd/result") || payload.isEmpty())
        return;   // an empty payload is what clears a retained request
    Request r;
    r.topic = t.mid(prefix.size());
    if (payload.size() > kRequestLimit) {
        answer(r, "invalid", QStringLiteral("a request over 4 kB is not read"));
        return;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(payload);
    if (doc.isObject()) {
        r.body = doc.object();
        r.id = r.body.value(QStringLiteral("id"));
    } else if (r.topic == QLatin1String("hv") || r.topic == QLatin1String("remote")) {
        // A word: bare or a JSON string.
        QByteArray w = payload.trimmed();
        if (w.size() >= 2 && w.startsWith('"') && w.endsWith('"'))
            w = w.mid(1, w.size() - 2);
        r.body.insert(QStringLiteral("value"), QString::fromUtf8(w));
    }
    if (retained) {
        // Stored by the broker, it would run again for every later subscriber: it is
        // refused and taken off the broker.
        answer(r, "refused", QStringLiteral("retained request: not acted on, and cleared from the broker"));
        m_mqtt->publish(t, QByteArray(), 1, true);
        return;
    }
    const QStringList keys = requestKeys(r.topic);
    if (keys.isEmpty()) {
        answer(r, "invalid", QStringLiteral("unknown request"));
        return;
    }
    for (auto it = r.body.begin(); it != r.body.end(); ++it)
        if (!keys.contains(it.key())) {
            answer(r, "invalid", QStringLiteral("unknown key '%1': %2 takes %3").arg(it.key(), r.topic, keys.join(QStringLiteral(", "))));
            return;
        }
    qint64 lifeMs = kRequestLifeMs;
    if (expiryS >= 0)
        lifeMs = std::min(lifeMs, expiryS * 1000);
    if (r.body.contains(QStringLiteral("ts"))) {
        const QJsonValue ts = r.body.value(QStringLiteral("ts"));
        if (!ts.isDouble()) {
            answer(r, "invalid", QStringLiteral("ts is milliseconds since 1970-01-01 UTC, a number"));
            return;
        }
        const qint64 ageMs = QDateTime::currentMSecsSinceEpoch() - qint64(ts.toDouble());
        if (std::abs(ageMs) > kRequestLifeMs) {
            answer(r, "stale", QStringLiteral("ts is %1 s %2 this host's clock: not acted on")
                                   .arg(std::abs(ageMs) / 1000.0, 0, 'f', 1)
                                   .arg(ageMs > 0 ? QStringLiteral("behind") : QStringLiteral("ahead of")));
            return;
        }
        lifeMs = std::min(lifeMs, kRequestLifeMs - std::max<qint64>(0, ageMs));
    }
    r.deadlineMs = monotonicMs() + lifeMs;
    if (m_linkDown) {
        answer(r, "no link", m_health->text());
        return;
    }
    // HV off and shutdown overtake everything queued and run at the next gap between
    // transactions, as the console's F12 does; from the event loop, not from inside the
    // MQTT library's read.
    const bool first = r.topic == QLatin1String("shutdown")
                       || (r.topic == QLatin1String("hv") && onOff(r.body.value(QStringLiteral("value"))) == false);
    if (first) {
        QMetaObject::invokeMethod(this, [this, r] { m_session->operateFirst([this, r] { runRequest(r); }); },
                                  Qt::QueuedConnection);
    } else if (m_requests.size() >= kQueueLimit) {
        answer(r, "busy", QStringLiteral("%1 requests wait already").arg(kQueueLimit));
    } else {
        m_requests.append(r);
    }
}

void Client::runNextRequest()
{
    if (!m_requests.isEmpty() && !m_stopping)
        runRequest(m_requests.takeFirst());
}

void Client::dropRequests(const char *outcome, const QString &detail)
{
    for (const Request &r : std::exchange(m_requests, {}))
        answer(r, outcome, detail);
}

void Client::runRequest(const Request &r)
{
    if (m_stopping)
        return;
    if (m_linkDown) {
        answer(r, "no link", m_health->text());
        return;
    }
    if (monotonicMs() > r.deadlineMs) {
        answer(r, "stale", QStringLiteral("waited past its expiry: not acted on"));
        return;
    }
    auto byUnit = [&](char a, const QJsonObject &extra = {}) {
        if (a == '$')
            answer(r, "done", {}, extra);
        else if (a == '\0')
            answer(r, "no reply", {}, extra);
        else
            answer(r, "refused", QStringLiteral("the unit answered %1").arg(QLatin1Char(a)), extra);
    };
    const QJsonValue value = r.body.value(QStringLiteral("value"));

    if (r.topic == QLatin1String("set")) {
        const QString ch = r.body.value(QStringLiteral("channel")).toString();
        Options o = m_o;
        bool found = false;
        for (Channel c : {Channel::A, Channel::B, Channel::C, Channel::D})
            if (ch == channelWord(c)) {
                o.channel = c;
                found = true;
            }
        if (!found || !value.isDouble()) {
            answer(r, "invalid", QStringLiteral("expected {\"channel\": \"kv|ma|fil-limit|fil-preheat\", \"value\": NUMBER}"));
            return;
        }
        if (!convertedOk()) {
            answer(r, "refused", m_ratingMismatch + QStringLiteral(": nothing sent"));
            return;
        }
        o.counts = false;
        o.value = QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        const SetCount c = setpointCount(o);
        if (!c.count) {
            answer(r, "out of range", c.error);
            return;
        }
        const TryOut t = m_unit.tryOut(o.channel, *c.count);
        // What the unit holds now, accepted or not, as plvctl set prints it.
        logs::Sample now = freshSample();
        if (t.status != '\0' && !m_linkDown) {
            m_unit.readSetpoint(o.channel);
            now = m_builder.sample();   // the reply just read fills the channel's column
        }
        QJsonObject extra = toJson(sampleFields(now, {setpointColumn(o.channel)}));
        extra.insert(QStringLiteral("sent_counts"), *c.count);
        byUnit(t.status, extra);
    } else if (r.topic == QLatin1String("hv") || r.topic == QLatin1String("remote")) {
        const auto on = onOff(value);
        if (!on) {
            answer(r, "invalid", QStringLiteral("expected \"on\" or \"off\""));
        } else if (r.topic == QLatin1String("hv")) {
            if (*on && !m_o.allowHvOn)
                answer(r, "refused", QStringLiteral("high voltage on needs --allow-hv-on: nothing sent"));
            else
                byUnit(m_unit.switchHv(*on));
        } else {
            byUnit(m_unit.setRemote(*on));
        }
    } else if (r.topic == QLatin1String("reset-faults")) {
        byUnit(m_unit.resetFaults());
    } else if (r.topic == QLatin1String("shutdown")) {
        // As the shutdown command: local control, then the four setpoints to zero.
        char worst = '$';
        for (const ShutdownStep step : kShutdownSteps) {
            const char a = m_unit.shutdownStep(step, true);
            if (worst == '$')
                worst = a;
        }
        byUnit(worst);
    }
}

} // namespace plv::cli
