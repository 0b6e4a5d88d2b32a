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
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTimer>

#include <algorithm>

namespace plv::cli {

namespace {

using Step = UpdateCycle::Step;

// Numbers as numbers, the yes/no columns as booleans, a missing value as null.
QJsonObject toJson(const QList<Field> &fields)
{
    QJsonObject o;
    for (const Field &f : fields) {
        if (f.value.isEmpty())
            o.insert(f.key, QJsonValue::Null);
        else if (kStatusColumns.contains(f.key) && (f.value == QLatin1String("1") || f.value == QLatin1String("0")))
            o.insert(f.key, f.value == QLatin1String("1"));
        else if (bool ok = false; !f.text && (f.value.toDouble(&ok), ok))
            o.insert(f.key, f.value.toDouble());
        else
            o.insert(f.key, f.value);
    }
    return o;
}

QByteArray compact(const QJsonObject &o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

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
    }
    s.tls = m_o.brokerTls;
    s.tlsCa = m_o.tlsCa;
    s.willTopic = topic("online");
    s.willPayload = "false";
    s.backoffMaxMs = m_o.reconnectMaxMs;
    s.backoffFirstMs = std::min(1000, m_o.reconnectMaxMs);
    s.clientId = QStringLiteral("plvctl-%1-%2").arg(QHostInfo::localHostName()).arg(QCoreApplication::applicationPid());

    m_health = new LinkHealth(systemWallClock(), &m_root);
    auto *mqtt = new MqttClient(s, &m_root);
    connect(mqtt, &MqttClient::connected, this, &Client::onBrokerUp);
    connect(mqtt, &MqttClient::disconnected, this, [this](const QString &why) {
        say(QStringLiteral("broker %1:%2: %3; reconnecting").arg(m_o.brokerHost).arg(m_o.brokerPort).arg(why));
    });
    if (m_o.commands)
        connect(mqtt, &MqttClient::message, this, &Client::onRequest);

    m_quietTimeouts = true;
    catchSignals();
    // The unit first: the broker is told nothing until there is a link to speak of.
    if (!openLink())
        return NoLink;
    const qint64 now = monotonicMs();
    const LinkKind kind = m_o.link == LinkType::Tcp ? LinkKind::Ethernet
                          : m_o.link == LinkType::Serial ? LinkKind::Serial
                                                         : LinkKind::Usb;
    m_health->linkUp(kind, m_o.linkName().section(QLatin1Char(' '), 1), now);
    m_health->setAutomatic(true, now);
    connect(m_health, &LinkHealth::textChanged, this, [this] { publishState(false); });
    if (!mqtt->start()) {
        say(QStringLiteral("broker %1:%2: %3").arg(m_o.brokerHost).arg(m_o.brokerPort).arg(mqtt->errorString()));
        return Usage;
    }
    m_mqtt = mqtt;
    auto *tick = new QTimer(&m_root);
    connect(tick, &QTimer::timeout, m_health, [this] { m_health->tick(monotonicMs()); });
    tick->start(250);

    UpdateCycle cycle(*m_session, [this](Step st) { runStep(st); }, &m_root);
    m_session->tmr_UPDATE->setInterval(m_o.intervalMs);
    connect(&cycle, &UpdateCycle::cycleCompleted, this, &Client::completeSample);
    QTimer::singleShot(0, &cycle, &UpdateCycle::mnu_AUTOUPDATE_Click);
    const int code = QCoreApplication::exec();
    return m_stopping ? Done : code;
}

void Client::sayGoodbye()
{
    // Retained "false" first, then DISCONNECT: a clean disconnect suppresses the will.
    m_mqtt->publish(topic("online"), "false", 1, true);
    m_mqtt->disconnectCleanly(2000);
}

void Client::onBrokerUp()
{
    say(QStringLiteral("broker %1:%2: connected as %3").arg(m_o.brokerHost).arg(m_o.brokerPort).arg(m_o.topic));
    m_mqtt->publish(topic("online"), "true", 1, true);
    publishState(true);
    publishInfo(true);
    if (m_o.commands)
        m_mqtt->subscribe(topic("cmd/+"), 1);
}

void Client::publishState(bool always)
{
    if (!m_mqtt || m_stopping)
        return;
    QJsonObject o = toJson(sampleFields(m_lastStatus, kStatusColumns));
    o.insert(QStringLiteral("rating"), ratingName(*m_o.rating));
    o.insert(QStringLiteral("link_up"), m_health->state() == LinkHealth::State::Connected);
    o.insert(QStringLiteral("link"), m_health->text());
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
    if (m_mqtt->publish(topic("info"), body, 1, true))
        m_infoShown = body;
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
    // Numbered whether or not the broker takes it, so a subscriber sees the gap.
    QJsonObject o = toJson(sampleFields(m_sample, logs::sampleCsvHeader().split(QLatin1Char(','))));
    o.insert(QStringLiteral("seq"), double(++m_sequence));
    m_mqtt->publish(topic("readbacks"), compact(o), 1, false);
    ++m_samples;
}

void Client::onRequest(const QString &t, const QByteArray &payload, bool retained)
{
    if (!t.startsWith(topic("cmd/")) || t == topic("cmd/result"))
        return;
    m_requests.append({t.mid(topic("cmd/").size()), payload, retained});
}

void Client::runRequests()
{
    while (!m_requests.isEmpty() && !m_stopping)
        runRequest(m_requests.takeFirst());
}

void Client::runRequest(const Request &r)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(r.payload, &err);
    const QJsonObject body = doc.isObject() ? doc.object() : QJsonObject();
    QJsonObject result{{QStringLiteral("command"), r.topic}};
    if (body.contains(QStringLiteral("id")))
        result.insert(QStringLiteral("id"), body.value(QStringLiteral("id")));

    auto answer = [&](const char *outcome, const QString &detail = {}) {
        result.insert(QStringLiteral("outcome"), QLatin1String(outcome));
        if (!detail.isEmpty())
            result.insert(QStringLiteral("detail"), detail);
        m_mqtt->publish(topic("cmd/result"), compact(result), 1, false);
    };
    auto byUnit = [&](char a) {
        if (a == '$')
            answer("done");
        else if (a == '\0')
            answer("no reply");
        else
            answer("refused", QStringLiteral("the unit answered %1").arg(QLatin1Char(a)));
    };

    if (r.retained) {
        // A retained request would be replayed on every reconnect, days after it was meant.
        answer("refused", QStringLiteral("retained request: not acted on"));
        return;
    }
    // A word for hv and remote: bare, a JSON string, or the object's "value".
    QJsonValue word = body.value(QStringLiteral("value"));
    if (!doc.isObject()) {
        QByteArray w = r.payload.trimmed();
        if (w.size() >= 2 && w.startsWith('"') && w.endsWith('"'))
            w = w.mid(1, w.size() - 2);
        word = QString::fromUtf8(w);
    }

    if (r.topic == QLatin1String("set")) {
        const QString ch = body.value(QStringLiteral("channel")).toString();
        const QJsonValue v = body.value(QStringLiteral("value"));
        Options o = m_o;
        bool found = false;
        for (Channel c : {Channel::A, Channel::B, Channel::C, Channel::D})
            if (ch == channelWord(c)) {
                o.channel = c;
                found = true;
            }
        if (!found || !v.isDouble()) {
            answer("invalid", QStringLiteral("expected {\"channel\": \"kv|ma|fil-limit|fil-preheat\", \"value\": NUMBER}"));
            return;
        }
        o.counts = false;
        o.value = QString::number(v.toDouble(), 'g', QLocale::FloatingPointShortest);
        const SetCount c = setpointCount(o);
        if (!c.count) {
            answer("out of range", c.error);
            return;
        }
        const TryOut t = m_unit.tryOut(o.channel, *c.count);
        result.insert(QStringLiteral("sent_counts"), *c.count);
        byUnit(t.status);
    } else if (r.topic == QLatin1String("hv") || r.topic == QLatin1String("remote")) {
        const auto on = onOff(word);
        if (!on) {
            answer("invalid", QStringLiteral("expected \"on\" or \"off\""));
        } else if (r.topic == QLatin1String("hv")) {
            if (*on && !m_o.allowHvOn)
                answer("refused", QStringLiteral("high voltage on needs --allow-hv-on: nothing sent"));
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
    } else {
        answer("invalid", QStringLiteral("unknown request"));
    }
}

} // namespace plv::cli
