// plvctl publish against a mosquitto broker the test starts on a free loopback port and
// the simulated unit in this process; the test subscribes with the client plvctl uses.
#include "cli/mqtt.h"
#include "sim/simunit.h"

#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>

using plv::cli::MqttClient;
using plv::cli::MqttSettings;

namespace {

constexpr int kWaitMs = 15000;

struct Message {
    QString topic;
    QByteArray payload;
    bool retained = false;
    QJsonObject json() const { return QJsonDocument::fromJson(payload).object(); }
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// A broker of the test's own, on loopback; start() again after stop() reuses the port.
class Broker {
public:
    Broker() : m_port(freePort()) { configure(QStringLiteral("allow_anonymous true\n")); }
    // Lines for the listener, written before start().
    void configure(const QString &lines)
    {
        QFile f(m_dir.filePath(QStringLiteral("mosquitto.conf")));
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("listener %1 127.0.0.1\n%2").arg(m_port).arg(lines).toUtf8());
    }
    ~Broker() { stop(); }
    bool start()
    {
        m_p.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), m_dir.filePath(QStringLiteral("mosquitto.conf"))});
        if (!m_p.waitForStarted())
            return false;
        return QTest::qWaitFor([this] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_port);
            return s.waitForConnected(200) || m_p.state() == QProcess::NotRunning ? s.state() == QAbstractSocket::ConnectedState : false;
        }, kWaitMs);
    }
    void stop()
    {
        if (m_p.state() == QProcess::NotRunning)
            return;
        m_p.kill();
        m_p.waitForFinished();
    }
    quint16 port() const { return m_port; }
    // Started as root, mosquitto reads its files after dropping to its own user.
    void letRead(std::initializer_list<const char *> names)
    {
        for (const char *name : names)
            QFile::setPermissions(m_dir.filePath(QLatin1String(name)), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ReadGroup);
        QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                                | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    }
    QByteArray log() { return m_p.readAllStandardError(); }   // mosquitto logs to standard error
    QString dir() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    quint16 m_port;
    QProcess m_p;
};

class Subscriber : public QObject {
public:
    Subscriber(quint16 port, const QString &filter)
    {
        MqttSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = port;
        s.backoffFirstMs = s.backoffMaxMs = 200;
        client = new MqttClient(s, this);
        connect(client, &MqttClient::connected, this, [this, filter] { client->subscribe(filter, 1); });
        connect(client, &MqttClient::message, this,
                [this](const QString &t, const QByteArray &p, bool r) { messages.append({t, p, r}); });
        client->start();
    }
    // The first message on topic from index `from` on, waiting for it.
    std::optional<Message> next(const QString &topic, qsizetype &from, int waitMs = kWaitMs)
    {
        std::optional<Message> found;
        QTest::qWaitFor([&] {
            for (; from < messages.size(); ++from)
                if (messages[from].topic == topic) {
                    found = messages[from++];
                    return true;
                }
            return false;
        }, waitMs);
        return found;
    }
    MqttClient *client;
    QList<Message> messages;
};

class Publisher {
public:
    Publisher(quint16 unitPort, quint16 brokerPort, const QStringList &extra)
    {
        QObject::connect(&p, &QProcess::readyReadStandardError, &p, [this] { err += p.readAllStandardError(); });
        p.start(QStringLiteral(PLVCTL_PATH),
                QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:%1").arg(unitPort), QStringLiteral("publish"),
                            QStringLiteral("--broker"), QStringLiteral("mqtt://127.0.0.1:%1").arg(brokerPort),
                            QStringLiteral("--topic"), QStringLiteral("plv/t"), QStringLiteral("--interval"),
                            QStringLiteral("5"), QStringLiteral("--reconnect-max"), QStringLiteral("500")}
                    + extra);
        p.waitForStarted();
    }
    ~Publisher()
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
    }
    void signal(int sig) { ::kill(pid_t(p.processId()), sig); }
    QProcess p;
    QByteArray err;   // its messages, as they come
};

// plvctl gateway with these arguments; its messages gathered as they come.
class GatewayProcess {
public:
    GatewayProcess(quint16 brokerPort, const QStringList &args)
    {
        QObject::connect(&p, &QProcess::readyReadStandardError, &p, [this] { err += p.readAllStandardError(); });
        p.start(QStringLiteral(PLVCTL_PATH),
                QStringList{QStringLiteral("gateway"), QStringLiteral("--broker"), QStringLiteral("mqtt://127.0.0.1:%1").arg(brokerPort),
                            QStringLiteral("--interval"), QStringLiteral("5"), QStringLiteral("--reconnect-max"), QStringLiteral("500")}
                    + args);
        p.waitForStarted();
    }
    ~GatewayProcess()
    {
        if (p.state() != QProcess::NotRunning) {
            p.kill();
            p.waitForFinished();
        }
    }
    void signal(int sig) { ::kill(pid_t(p.processId()), sig); }
    QProcess p;
    QByteArray err;
};

// The sequence numbers of ROOT/readbacks from index `from` on.
QList<qint64> sequence(const Subscriber &sub, const QString &root, qsizetype from)
{
    QList<qint64> out;
    for (qsizetype i = from; i < sub.messages.size(); ++i)
        if (sub.messages[i].topic == root + QStringLiteral("/readbacks"))
            out << sub.messages[i].json().value(QStringLiteral("seq")).toInteger();
    return out;
}

bool consecutive(const QList<qint64> &seq)
{
    for (qsizetype i = 1; i < seq.size(); ++i)
        if (seq[i] != seq[i - 1] + 1)
            return false;
    return true;
}

// The answer on ROOT/cmd/result to the request with this id, from index `at` on.
QJsonObject resultOf(Subscriber &sub, qsizetype &at, const QString &id)
{
    std::optional<QJsonObject> o;
    [[maybe_unused]] const bool found = QTest::qWaitFor([&] {
        const auto m = sub.next(QStringLiteral("plv/t/cmd/result"), at, 0);
        if (m && m->json().value(QStringLiteral("id")).toString() == id)
            o = m->json();
        return o.has_value();
    }, kWaitMs);
    return o.value_or(QJsonObject());
}

QStringList sentFrames(const SimUnit &sim)
{
    QStringList out;
    for (const auto &t : sim.trace())
        out << QString::fromLatin1(t.payload);
    return out;
}

} // namespace

class TestPublish : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("mosquitto")).isEmpty())
            QSKIP("mosquitto is not installed (scripts/deps.sh installs it)");
    }

    void usage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no broker") << QStringList{"publish"};
        QTest::newRow("not mqtt") << QStringList{"publish", "--broker", "http://127.0.0.1", "--topic", "plv/a"};
        QTest::newRow("no topic: two units would share one") << QStringList{"publish", "--broker", "mqtt://127.0.0.1"};
        QTest::newRow("empty topic") << QStringList{"publish", "--broker", "mqtt://127.0.0.1", "--topic", ""};
        QTest::newRow("empty password file") << QStringList{"publish", "--broker", "mqtt://127.0.0.1", "--topic", "plv/a",
                                                            "--user", "u", "--password-file", "/dev/null"};
        QTest::newRow("missing CA file, named") << QStringList{"publish", "--broker", "mqtt://127.0.0.1", "--topic", "plv/a",
                                                               "--tls-ca", "/nonexistent/ca.crt"};
        QTest::newRow("wildcard root") << QStringList{"publish", "--broker", "mqtt://127.0.0.1", "--topic", "plv/#"};
        QTest::newRow("hv on without commands") << QStringList{"publish", "--broker", "mqtt://127.0.0.1", "--topic", "plv/a", "--allow-hv-on"};
        QTest::newRow("password as argument") << QStringList{"publish", "--broker", "mqtt://127.0.0.1", "--password", "x"};
        QTest::newRow("commands outside publish") << QStringList{"watch", "--commands"};
        QTest::newRow("per-value outside publish") << QStringList{"watch", "--per-value"};
        QTest::newRow("discovery prefix empty") << QStringList{"publish", "--broker", "mqtt://127.0.0.1", "--topic", "plv/a",
                                                               "--ha-discovery="};
        QTest::newRow("discovery prefix a filter") << QStringList{"publish", "--broker", "mqtt://127.0.0.1", "--topic", "plv/a",
                                                                  "--ha-discovery", "ha/#"};
    }
    void usage()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(QStringLiteral(PLVCTL_PATH), QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:1")} + args);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 2);
        const QByteArray err = p.readAllStandardError();
        for (const QString &arg : args)   // a file refused is named with its path
            if (arg.startsWith(QLatin1Char('/')))
                QVERIFY2(err.contains(arg.toUtf8()), err.constData());
    }

    void init()
    {
        sim = std::make_unique<SimUnit>();
        QVERIFY(sim->listenTcp(0));
    }
    void cleanup() { sim.reset(); }

    void publishesStateReadbacksAndWill()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("plv/t/#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        Publisher pub(sim->tcpPort(), broker.port(), {});

        qsizetype at = 0;
        const auto online = sub.next(QStringLiteral("plv/t/online"), at);
        QVERIFY(online && online->payload == "online");
        // Consecutive numbers: the broker dropped none of them.
        qint64 last = 0;
        for (int i = 0; i < 5; ++i) {
            const auto r = sub.next(QStringLiteral("plv/t/readbacks"), at);
            QVERIFY(r);
            const qint64 seq = r->json().value(QStringLiteral("seq")).toInteger();
            QVERIFY2(last == 0 || seq == last + 1, r->payload.constData());
            last = seq;
            QCOMPARE(r->json().value(QStringLiteral("rating")).toString(), QStringLiteral("70kV600W"));
        }
        // Not acted on without --commands.
        sub.client->publish(QStringLiteral("plv/t/cmd/remote"), "on", 1, false);

        // A subscriber arriving now gets state and info as retained messages.
        Subscriber late(broker.port(), QStringLiteral("plv/t/+"));
        qsizetype lateAt = 0;
        const auto state = late.next(QStringLiteral("plv/t/state"), lateAt);
        QVERIFY(state && state->retained);
        QCOMPARE(state->json().value(QStringLiteral("interlock_closed")), QJsonValue(1));   // as plvctl --json prints it
        QCOMPARE(state->json().value(QStringLiteral("link_up")), QJsonValue(true));
        lateAt = 0;
        const auto info = late.next(QStringLiteral("plv/t/info"), lateAt);
        QVERIFY(info && info->retained);
        QVERIFY(info->json().value(QStringLiteral("model_number")).toString().endsWith(sim->modelNumber()));

        for (int i = 0; i < 3; ++i)
            QVERIFY(sub.next(QStringLiteral("plv/t/readbacks"), at));
        QVERIFY(!sim->remote());

        // Unit silent: state says so while online stays "online".
        auto f = sim->faults();
        f.silent = true;
        sim->setFaults(f);
        std::optional<Message> down;
        QVERIFY(QTest::qWaitFor([&] {
            down = sub.next(QStringLiteral("plv/t/state"), at, 0);
            return down && !down->json().value(QStringLiteral("link_up")).toBool();
        }, kWaitMs));
        QVERIFY(down->json().value(QStringLiteral("link")).toString().startsWith(QStringLiteral("NO REPLY")));
        // No count of missed replies: each miss would otherwise be a new retained state.
        QVERIFY(!down->json().value(QStringLiteral("link")).toString().contains(QLatin1String("missed")));

        // Killed: the broker's will says it.
        pub.signal(SIGKILL);
        const auto will = sub.next(QStringLiteral("plv/t/online"), at);
        QVERIFY(will && will->payload == "offline");
    }

    void cleanStopSaysOffline()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("plv/t/online"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        Publisher pub(sim->tcpPort(), broker.port(), {});
        qsizetype at = 0;
        QVERIFY(sub.next(QStringLiteral("plv/t/online"), at));
        pub.signal(SIGTERM);
        QVERIFY(pub.p.waitForFinished(kWaitMs));
        QCOMPARE(pub.p.exitCode(), 0);
        const auto off = sub.next(QStringLiteral("plv/t/online"), at);
        QVERIFY(off && off->payload == "offline");
        // Said by the client, not by its will: the broker saw a DISCONNECT.
        const QByteArray log = broker.log();
        bool clean = false;
        for (const QByteArray &line : log.split('\n'))
            if (line.contains("Client plvctl/plv/t "))   // one client id per topic root, every run
                clean = line.endsWith(" disconnected.");
        QVERIFY2(clean, log.constData());
    }

    // What fleet tools and Home Assistant read: per-value topics, the health topic and the
    // discovery configs, each of which must point at a key its state topic really carries.
    void conventions()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        Publisher pub(sim->tcpPort(), broker.port(),
                      {QStringLiteral("--per-value"), QStringLiteral("--health"), QStringLiteral("--ha-discovery")});
        qsizetype at = 0;
        const auto readbacks = sub.next(QStringLiteral("plv/t/readbacks"), at);
        QVERIFY(readbacks);
        const auto kv = sub.next(QStringLiteral("plv/t/readbacks/kv_kV"), at);
        QVERIFY(kv);
        bool number = false;
        kv->payload.toDouble(&number);
        QVERIFY2(number, kv->payload.constData());
        at = 0;
        const auto health = sub.next(QStringLiteral("plv/t/health"), at);
        QVERIFY(health && !health->retained);
        for (const char *key : {"link_reconnects", "broker_reconnects", "missed_replies", "dropped_cycles"})
            QVERIFY2(health->json().value(QLatin1String(key)).isDouble(), health->payload.constData());

        // The configs with the device block once the model number is read.
        const QString kvConfig = QStringLiteral("homeassistant/sensor/plv_t/kv_kV/config");
        std::optional<Message> kvc;
        at = 0;
        QVERIFY(QTest::qWaitFor([&] {
            kvc = sub.next(kvConfig, at, 0);
            return kvc && kvc->json().value(QStringLiteral("device")).toObject().contains(QStringLiteral("model"));
        }, kWaitMs));
        QCOMPARE(kvc->json().value(QStringLiteral("unit_of_measurement")).toString(), QStringLiteral("kV"));
        QCOMPARE(kvc->json().value(QStringLiteral("device_class")).toString(), QStringLiteral("voltage"));

        // Every config, as last published: valid JSON with the keys discovery needs, and a
        // template key that its state topic's messages carry.
        QHash<QString, QJsonObject> configs, lastOn;
        QHash<QString, QByteArray> lastRaw;
        for (const Message &m : sub.messages) {
            if (m.topic.startsWith(QLatin1String("homeassistant/")))
                lastRaw[m.topic] = m.payload;
            else if (m.payload.startsWith('{'))
                lastOn[m.topic] = m.json();
        }
        for (auto it = lastRaw.begin(); it != lastRaw.end(); ++it) {
            QJsonParseError e;
            const QJsonDocument doc = QJsonDocument::fromJson(it.value(), &e);
            QVERIFY2(e.error == QJsonParseError::NoError && doc.isObject(), qPrintable(it.key()));
            const QJsonObject c = doc.object();
            for (const char *key : {"name", "unique_id", "state_topic", "value_template", "availability_topic", "device"})
                QVERIFY2(c.contains(QLatin1String(key)), qPrintable(it.key() + QLatin1Char(' ') + QLatin1String(key)));
            QCOMPARE(c.value(QStringLiteral("availability_topic")).toString(), QStringLiteral("plv/t/online"));
            QVERIFY(!c.value(QStringLiteral("device")).toObject().value(QStringLiteral("identifiers")).toArray().isEmpty());
            static const QRegularExpression field(QStringLiteral("value_json\\.(\\w+)"));
            const QString key = field.match(c.value(QStringLiteral("value_template")).toString()).captured(1);
            const QString state = c.value(QStringLiteral("state_topic")).toString();
            QVERIFY2(lastOn.value(state).contains(key), qPrintable(it.key() + QStringLiteral(": ") + state + QLatin1Char(' ') + key));
            configs.insert(it.key(), c);
        }
        for (const char *t : {"sensor/plv_t/ma_set_mA", "sensor/plv_t/filament_A", "sensor/plv_t/total_hours_h",
                              "binary_sensor/plv_t/hv_on", "binary_sensor/plv_t/arc_flag", "binary_sensor/plv_t/link_up"})
            QVERIFY2(configs.contains(QStringLiteral("homeassistant/%1/config").arg(QLatin1String(t))), t);
        QCOMPARE(configs.value(QStringLiteral("homeassistant/binary_sensor/plv_t/arc_flag/config")).value(QStringLiteral("payload_on")),
                 QJsonValue(QStringLiteral("1")));

        // Retained, for a dashboard that starts later.
        Subscriber late(broker.port(), kvConfig);
        qsizetype lateAt = 0;
        const auto kept = late.next(kvConfig, lateAt);
        QVERIFY(kept && kept->retained);

        // Home Assistant back online: every config again.
        const qsizetype before = sub.messages.size();
        sub.client->publish(QStringLiteral("homeassistant/status"), "online", 1, false);
        at = before;
        QVERIFY(sub.next(kvConfig, at));
        at = before;
        QVERIFY(sub.next(QStringLiteral("homeassistant/binary_sensor/plv_t/hv_on/config"), at));
    }

    void commands()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("plv/t/#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        Publisher pub(sim->tcpPort(), broker.port(), {QStringLiteral("--commands")});
        qsizetype at = 0;
        QVERIFY(sub.next(QStringLiteral("plv/t/readbacks"), at));   // subscribed by now
        auto result = [&](const char *id) { return resultOf(sub, at, QLatin1String(id)); };

        sub.client->publish(QStringLiteral("plv/t/cmd/set"), R"({"channel":"kv","value":35.0,"id":"a"})", 1, false);
        const QJsonObject set = result("a");
        QCOMPARE(set.value(QStringLiteral("outcome")).toString(), QStringLiteral("done"));
        QCOMPARE(sim->setpoint(0), set.value(QStringLiteral("sent_counts")).toInt());
        QVERIFY(sim->setpoint(0) > 0);
        // The value read back after it, as plvctl set prints it.
        QCOMPARE(set.value(QStringLiteral("kv_set_kV")).toDouble(), 35.0085);

        sim->clearTrace();
        sub.client->publish(QStringLiteral("plv/t/cmd/set"), R"({"channel":"kv","value":500,"id":"b"})", 1, false);
        QCOMPARE(result("b").value(QStringLiteral("outcome")).toString(), QStringLiteral("out of range"));
        sub.client->publish(QStringLiteral("plv/t/cmd/hv"), R"({"value":"on","id":"c"})", 1, false);
        QCOMPARE(result("c").value(QStringLiteral("outcome")).toString(), QStringLiteral("refused"));
        QVERIFY(!sim->hvOn());

        // Refused before anything is sent.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const struct {
            const char *id, *request;
            QByteArray payload;
            const char *outcome;
        } unrun[] = {
            {"unknown key", "set", R"({"channel":"kv","value":35,"counts":true,"id":"unknown key"})", "invalid"},
            {"old", "set", QStringLiteral(R"({"channel":"kv","value":1,"ts":%1,"id":"old"})").arg(now - 60000).toUtf8(), "stale"},
            {"future", "remote", QStringLiteral(R"({"value":"on","ts":%1,"id":"future"})").arg(now + 60000).toUtf8(), "stale"},
        };
        for (const auto &u : unrun) {
            sub.client->publish(QStringLiteral("plv/t/cmd/") + QLatin1String(u.request), u.payload, 1, false);
            QCOMPARE(result(u.id).value(QStringLiteral("outcome")).toString(), QLatin1String(u.outcome));
        }
        // Over 4 kB: not read, so answered without its id.
        sub.client->publish(QStringLiteral("plv/t/cmd/set"), QByteArray(5000, ' ') + R"({"channel":"kv","value":1})", 1, false);
        std::optional<Message> big;
        QVERIFY(QTest::qWaitFor([&] {
            big = sub.next(QStringLiteral("plv/t/cmd/result"), at, 0);
            return big && big->json().value(QStringLiteral("detail")).toString().contains(QLatin1String("4 kB"));
        }, kWaitMs));
        for (const QString &f : sentFrames(*sim))
            QVERIFY2(!f.startsWith(QLatin1String("10,")) && !f.startsWith(QLatin1String("98,"))
                         && !f.startsWith(QLatin1String("99,")), qPrintable(f));

        sub.client->publish(QStringLiteral("plv/t/cmd/remote"), R"({"value":"on","id":"d"})", 1, false);
        QCOMPARE(result("d").value(QStringLiteral("outcome")).toString(), QStringLiteral("done"));
        QVERIFY(sim->remote());
    }

    // A retained request never runs, whether the broker held it before plvctl came or it
    // arrives while plvctl listens (where MQTT 3.1.1 would clear its flag), and it is
    // taken off the broker so that no later subscriber gets it either.
    void retainedRequestNeverRuns_data()
    {
        QTest::addColumn<bool>("before");
        QTest::newRow("retained before the bridge connects") << true;
        QTest::newRow("published retained while it is connected") << false;
    }
    void retainedRequestNeverRuns()
    {
        QFETCH(bool, before);
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("plv/t/#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        const QByteArray hvOn = R"({"value":"on","id":"r"})";
        if (before)
            sub.client->publish(QStringLiteral("plv/t/cmd/hv"), hvOn, 1, true);
        Publisher pub(sim->tcpPort(), broker.port(), {QStringLiteral("--commands"), QStringLiteral("--allow-hv-on")});
        qsizetype at = 0, cycled = 0;
        QVERIFY(sub.next(QStringLiteral("plv/t/readbacks"), cycled));
        if (!before)
            sub.client->publish(QStringLiteral("plv/t/cmd/hv"), hvOn, 1, true);
        QCOMPARE(resultOf(sub, at, QStringLiteral("r")).value(QStringLiteral("outcome")).toString(), QStringLiteral("refused"));
        std::optional<Message> cleared;
        QVERIFY(QTest::qWaitFor([&] {
            cleared = sub.next(QStringLiteral("plv/t/cmd/hv"), at, 0);
            return cleared && cleared->payload.isEmpty();
        }, kWaitMs));
        QVERIFY(!sim->hvOn());
        QVERIFY(!sentFrames(*sim).join(QLatin1Char(' ')).contains(QLatin1String("98,")));

        Subscriber late(broker.port(), QStringLiteral("plv/t/cmd/+"));
        QVERIFY(QTest::qWaitFor([&] { return late.client->isConnected(); }, kWaitMs));
        // A marker after the subscription: anything retained came before it.
        late.client->publish(QStringLiteral("plv/t/cmd/marker"), "x", 1, false);
        qsizetype lateAt = 0;
        QVERIFY(late.next(QStringLiteral("plv/t/cmd/marker"), lateAt));
        for (const Message &m : late.messages)
            QVERIFY2(m.topic != QLatin1String("plv/t/cmd/hv"), m.payload.constData());
    }

    // HV off runs at the next gap between transactions however many requests wait; past
    // 16 waiting, a request is answered "busy" at once.
    void hvOffOvertakesAFullQueue()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("plv/t/#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        auto f = sim->faults();
        f.replyDelayMs = 30;   // a slow unit: the queue cannot drain while the burst arrives
        sim->setFaults(f);
        Publisher pub(sim->tcpPort(), broker.port(), {QStringLiteral("--commands")});
        qsizetype at = 0;
        QVERIFY(sub.next(QStringLiteral("plv/t/readbacks"), at));
        QVERIFY(sim->setHvOn(true));
        sim->clearTrace();

        constexpr int burst = 30;
        for (int i = 0; i < burst; ++i)
            sub.client->publish(QStringLiteral("plv/t/cmd/set"),
                                QStringLiteral(R"({"channel":"fil-limit","value":0.5,"id":"s%1"})").arg(i).toUtf8(), 1, false);
        sub.client->publish(QStringLiteral("plv/t/cmd/hv"), R"({"value":"off","id":"off"})", 1, false);
        const qsizetype from = at;
        QCOMPARE(resultOf(sub, at, QStringLiteral("off")).value(QStringLiteral("outcome")).toString(), QStringLiteral("done"));
        QVERIFY(!sim->hvOn());
        // Requests run one per step of the cycle: only those taken while the burst was
        // still arriving (a few steps at most on a loaded machine) went ahead of the HV
        // off, never the queue behind them.
        const QStringList frames = sentFrames(*sim);
        const qsizetype off = frames.indexOf(QStringLiteral("98,0,"));
        QVERIFY(off >= 0);
        const auto sets = [&](qsizetype a, qsizetype b) {
            return std::count_if(frames.begin() + a, frames.begin() + b, [](const QString &s) { return s.startsWith(QLatin1String("12,")); });
        };
        QVERIFY2(sets(0, off) <= 4, qPrintable(frames.join(QLatin1Char(' '))));
        int busy = 0;
        at = from;
        for (int i = 0; i < burst; ++i) {
            const QString outcome = resultOf(sub, at = from, QStringLiteral("s%1").arg(i)).value(QStringLiteral("outcome")).toString();
            QVERIFY2(outcome == QLatin1String("done") || outcome == QLatin1String("busy"), qPrintable(outcome));
            busy += outcome == QLatin1String("busy");
        }
        QVERIFY2(busy >= burst - 16 - 4 && busy <= burst - 16, qPrintable(QString::number(busy)));
    }

    // A unit whose model number contradicts --rating: setpoints refused, readbacks not
    // converted, and state says so; the bridge stays up.
    void ratingMismatch()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("plv/t/#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        sim->setSetpoint(0, 1000);
        Publisher pub(sim->tcpPort(), broker.port(), {QStringLiteral("--commands"), QStringLiteral("--rating"), QStringLiteral("20kV600W")});
        qsizetype at = 0;
        const auto readbacks = sub.next(QStringLiteral("plv/t/readbacks"), at);
        QVERIFY(readbacks);
        QVERIFY(readbacks->json().value(QStringLiteral("kv_set_kV")).isNull());
        QVERIFY(!readbacks->json().value(QStringLiteral("filament_limit_A")).isNull());
        qsizetype stateAt = 0;
        std::optional<Message> state;
        QVERIFY(QTest::qWaitFor([&] {
            state = sub.next(QStringLiteral("plv/t/state"), stateAt, 0);
            return state && state->json().value(QStringLiteral("converted")) == QJsonValue(false);
        }, kWaitMs));
        QVERIFY(state->json().value(QStringLiteral("rating_error")).toString().contains(QLatin1String("PLV70-X0600")));
        sim->clearTrace();
        sub.client->publish(QStringLiteral("plv/t/cmd/set"), R"({"channel":"kv","value":10,"id":"k"})", 1, false);
        QCOMPARE(resultOf(sub, at, QStringLiteral("k")).value(QStringLiteral("outcome")).toString(), QStringLiteral("refused"));
        QVERIFY(!sentFrames(*sim).join(QLatin1Char(' ')).contains(QLatin1String("10,")));
        QCOMPARE(pub.p.state(), QProcess::Running);
    }

    // The bridge does not give up on its unit: closed by the unit, or not there at start,
    // it says so on the broker and publishes values again once the unit is back.
    void unitComesBack_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::newRow("the unit's TCP side killed and restarted") << false;
        QTest::newRow("the unit unreachable at start") << true;
    }
    void unitComesBack()
    {
        QFETCH(bool, atStart);
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("plv/t/#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        const quint16 port = atStart ? freePort() : sim->tcpPort();
        if (atStart)
            sim.reset();
        Publisher pub(port, broker.port(), {});
        qsizetype at = 0;
        if (!atStart) {
            QVERIFY(sub.next(QStringLiteral("plv/t/readbacks"), at));
            sim.reset();   // its connection closes with it
        } else {
            const auto online = sub.next(QStringLiteral("plv/t/online"), at);
            QVERIFY(online && online->payload == "online");
        }
        std::optional<Message> down;
        QVERIFY(QTest::qWaitFor([&] {
            down = sub.next(QStringLiteral("plv/t/state"), at, 0);
            return down && !down->json().value(QStringLiteral("link_up")).toBool()
                && down->json().value(QStringLiteral("link")).toString().startsWith(QLatin1String("NOT CONNECTED"));
        }, kWaitMs));
        const QString why = down->json().value(QStringLiteral("link")).toString();
        QVERIFY2(why.contains(atStart ? QLatin1String("refused") : QLatin1String("closed by the unit")), qPrintable(why));
        QVERIFY2(pub.err.contains(atStart ? "refused" : "closed by the unit"), pub.err.constData());

        sim = std::make_unique<SimUnit>();
        QVERIFY(sim->listenTcp(port));
        QVERIFY(sub.next(QStringLiteral("plv/t/readbacks"), at));
        // The status and the model number before the cycle's values.
        QCOMPARE(sentFrames(*sim).mid(0, 3), (QStringList{"22,", "68,", "26,"}));
        QCOMPARE(pub.p.state(), QProcess::Running);
    }

    void gatewayUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("no unit") << QStringList{"gateway", "--broker", "mqtt://127.0.0.1"};
        QTest::newRow("one topic root for two units")
            << QStringList{"gateway", "--broker", "mqtt://127.0.0.1", "--unit", "tcp:127.0.0.1:1=plv/a", "--unit", "tcp:127.0.0.1:2=plv/a"};
        QTest::newRow("a topic for every unit") << QStringList{"gateway", "--broker", "mqtt://127.0.0.1", "--topic", "plv/a",
                                                               "--unit", "tcp:127.0.0.1:1=plv/b"};
        QTest::newRow("a unit without its link kind") << QStringList{"gateway", "--broker", "mqtt://127.0.0.1", "--unit", "127.0.0.1:1=plv/a"};
        QTest::newRow("a missing config file") << QStringList{"gateway", "--broker", "mqtt://127.0.0.1", "--config", "/nonexistent/gw.ini"};
        QTest::newRow("a wrong unit option") << QStringList{"gateway", "--broker", "mqtt://127.0.0.1", "--unit", "tcp:127.0.0.1:1=plv/#"};
    }
    void gatewayUsage()
    {
        QFETCH(QStringList, args);
        QProcess p;
        p.start(QStringLiteral(PLVCTL_PATH), args);
        QVERIFY(p.waitForFinished(kWaitMs));
        QCOMPARE(p.exitCode(), 2);
    }

    // Three units in one gateway: one unit's link lost does not disturb the other two,
    // and it is back by itself when its unit is.
    void gatewayUnitLost()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("gw/#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        std::unique_ptr<SimUnit> sims[3] = {std::move(sim), std::make_unique<SimUnit>(), std::make_unique<SimUnit>()};
        QVERIFY(sims[1]->listenTcp(0) && sims[2]->listenTcp(0));
        const QStringList roots = {"gw/a", "gw/b", "gw/c"};
        QStringList args;
        for (int i = 0; i < 3; ++i)
            args << QStringLiteral("--unit") << QStringLiteral("tcp:127.0.0.1:%1=%2").arg(sims[i]->tcpPort()).arg(roots[i]);
        GatewayProcess gw(broker.port(), args);
        for (const QString &root : roots) {
            qsizetype at = 0;
            QVERIFY2(sub.next(root + QStringLiteral("/readbacks"), at), gw.err.constData());
        }
        const quint16 port = sims[1]->tcpPort();
        const qsizetype lostAt = sub.messages.size();
        sims[1].reset();
        qsizetype at = lostAt;
        std::optional<Message> down;
        QVERIFY(QTest::qWaitFor([&] {
            down = sub.next(QStringLiteral("gw/b/state"), at, 0);
            return down && down->json().value(QStringLiteral("link")).toString().startsWith(QLatin1String("NOT CONNECTED"));
        }, kWaitMs));
        // While b is away, a and c go on, numbered without a gap.
        const qsizetype whileDown = sub.messages.size();
        QVERIFY(QTest::qWaitFor([&] {
            return sequence(sub, roots[0], whileDown).size() >= 3 && sequence(sub, roots[2], whileDown).size() >= 3;
        }, kWaitMs));
        for (const QString &root : {roots[0], roots[2]}) {
            const QList<qint64> seq = sequence(sub, root, lostAt);
            QStringList shown;
            for (qint64 n : seq)
                shown << QString::number(n);
            QVERIFY2(seq.size() >= 3 && consecutive(seq), qPrintable(root + QLatin1Char(' ') + shown.join(QLatin1Char(','))));
        }
        sims[1] = std::make_unique<SimUnit>();
        QVERIFY(sims[1]->listenTcp(port));
        at = sub.messages.size();
        QVERIFY(sub.next(QStringLiteral("gw/b/readbacks"), at));
        QCOMPARE(gw.p.state(), QProcess::Running);
        gw.signal(SIGTERM);
        QVERIFY(gw.p.waitForFinished(kWaitMs));
        QCOMPARE(gw.p.exitCode(), 0);
        for (const QString &root : roots) {
            QVERIFY(QTest::qWaitFor([&] {
                for (qsizetype i = sub.messages.size() - 1; i >= 0; --i)
                    if (sub.messages[i].topic == root + QStringLiteral("/online"))
                        return sub.messages[i].payload == "offline";
                return false;
            }, kWaitMs));
        }
        sim = std::move(sims[0]);
    }

    // SIGHUP: an added unit starts, a removed one says offline and stops, an unchanged one
    // is not touched (no new connection, its numbering goes on).
    void gatewayReload()
    {
        Broker broker;
        QVERIFY(broker.start());
        Subscriber sub(broker.port(), QStringLiteral("gw/#"));
        QVERIFY(QTest::qWaitFor([&] { return sub.client->isConnected(); }, kWaitMs));
        SimUnit other;
        QVERIFY(other.listenTcp(0));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("gw.ini"));
        auto write = [&](const QStringList &sections) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write("interval = 5\n");
            for (const QString &s : sections)
                f.write(s.toUtf8());
        };
        const QString a = QStringLiteral("[a]\nlink = tcp:127.0.0.1:%1\ntopic = gw/a\n").arg(sim->tcpPort());
        write({a, QStringLiteral("[b]\nlink = tcp:127.0.0.1:%1\ntopic = gw/b\n").arg(other.tcpPort())});
        GatewayProcess gw(broker.port(), {QStringLiteral("--config"), file});
        for (const char *root : {"gw/a", "gw/b"}) {
            qsizetype at = 0;
            QVERIFY2(sub.next(QLatin1String(root) + QStringLiteral("/readbacks"), at), gw.err.constData());
        }
        write({a, QStringLiteral("[c]\nlink = tcp:127.0.0.1:%1\ntopic = gw/c\nper-value = true\n").arg(other.tcpPort())});
        const qsizetype reloadAt = sub.messages.size();
        gw.signal(SIGHUP);
        qsizetype at = reloadAt;
        const auto off = sub.next(QStringLiteral("gw/b/online"), at);
        QVERIFY2(off && off->payload == "offline", gw.err.constData());
        at = reloadAt;
        QVERIFY(sub.next(QStringLiteral("gw/c/readbacks/kv_kV"), at));
        // b is gone: nothing more from it, while a and c go on.
        const qsizetype afterAt = sub.messages.size();
        QVERIFY(QTest::qWaitFor([&] {
            return sequence(sub, QStringLiteral("gw/c"), afterAt).size() >= 3 && sequence(sub, QStringLiteral("gw/a"), afterAt).size() >= 3;
        }, kWaitMs));
        QVERIFY(sequence(sub, QStringLiteral("gw/b"), afterAt).isEmpty());
        // a untouched: no new "online", its numbering goes on without a restart from 1.
        const QList<qint64> seq = sequence(sub, QStringLiteral("gw/a"), reloadAt);
        QVERIFY(!seq.isEmpty() && seq.first() > 1 && consecutive(seq));
        for (qsizetype i = reloadAt; i < sub.messages.size(); ++i)
            QVERIFY(sub.messages[i].topic != QLatin1String("gw/a/online"));
    }

    // Requests need MQTT 5 (the retain flag as published): a broker of MQTT 3.1.1 only,
    // which answers any newer CONNECT with "unacceptable protocol version", ends it with 3.
    void commandsNeedMqtt5()
    {
        QTcpServer oldBroker;
        QVERIFY(oldBroker.listen(QHostAddress::LocalHost));
        connect(&oldBroker, &QTcpServer::newConnection, &oldBroker, [&] {
            QTcpSocket *c = oldBroker.nextPendingConnection();
            connect(c, &QTcpSocket::readyRead, c, [c] {
                c->readAll();
                c->write(QByteArray("\x20\x02\x00\x01", 4));   // CONNACK, 3.1.1 form, code 1
                c->disconnectFromHost();
            });
        });
        Publisher pub(sim->tcpPort(), oldBroker.serverPort(), {QStringLiteral("--commands")});
        QTRY_COMPARE_WITH_TIMEOUT(pub.p.state(), QProcess::NotRunning, kWaitMs);
        QCOMPARE(pub.p.exitCode(), 3);
        QVERIFY2(pub.err.contains("does not speak MQTT 5"), pub.err.constData());
    }

    // What a fleet operator gets wrong is named in one line: the broker's reason for
    // refusing the connection, and a publish its ACL denies.
    void brokerRefusalsNamed_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("named");
        QTest::newRow("wrong password") << QByteArray("wrong") << QByteArray("refused by the broker: not authorized (135)");   // mosquitto 2.0's word for it
        QTest::newRow("ACL denies publishing") << QByteArray("s3cret")
                                               << QByteArray("publish to plv/t/readbacks refused: not authorized (135)");
    }
    void brokerRefusalsNamed()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, named);
        Broker broker;
        const QDir d(broker.dir());
        QProcess pw;
        pw.start(QStringLiteral("mosquitto_passwd"), {"-c", "-b", d.filePath("passwd"), "unit", "s3cret"});
        QVERIFY(pw.waitForFinished(kWaitMs) && pw.exitCode() == 0);
        QFile acl(d.filePath(QStringLiteral("acl")));
        QVERIFY(acl.open(QIODevice::WriteOnly));
        acl.write("user unit\ntopic readwrite plv/t/online\ntopic readwrite plv/t/state\n");
        acl.close();
        broker.letRead({"passwd", "acl"});
        broker.configure(QStringLiteral("allow_anonymous false\npassword_file %1\nacl_file %2\n")
                             .arg(d.filePath(QStringLiteral("passwd")), acl.fileName()));
        QVERIFY(broker.start());
        QFile file(d.filePath(QStringLiteral("pw")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(password + '\n');
        file.close();
        Publisher pub(sim->tcpPort(), broker.port(),
                      {QStringLiteral("--user"), QStringLiteral("unit"), QStringLiteral("--password-file"), file.fileName()});
        QTRY_VERIFY2_WITH_TIMEOUT(pub.err.contains(named), pub.err.constData(), kWaitMs);
        // Named once, not at every cycle.
        QTRY_VERIFY_WITH_TIMEOUT(sim->trace().size() > 40 || password == "wrong", kWaitMs);
        if (password != "wrong")   // a refused connection is named at each retry
            QCOMPARE(pub.err.count(named), 1);
    }

    void tlsWithPassword()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("openssl is not installed");
        Broker broker;
        const QDir d(broker.dir());
        auto run = [&](const QString &program, const QStringList &args) {
            QProcess p;
            p.setWorkingDirectory(d.path());
            p.start(program, args);
            return p.waitForFinished(kWaitMs) && p.exitCode() == 0;
        };
        // A CA of the test's own and a server certificate for 127.0.0.1 signed by it.
        QFile ext(d.filePath(QStringLiteral("san.ext")));
        QVERIFY(ext.open(QIODevice::WriteOnly));
        ext.write("subjectAltName=IP:127.0.0.1\n");
        ext.close();
        const QString ssl = QStringLiteral("openssl");
        QVERIFY(run(ssl, QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=test-ca -keyout ca.key -out ca.crt").split(' ')));
        QVERIFY(run(ssl, QStringLiteral("req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key -out server.csr").split(' ')));
        QVERIFY(run(ssl, QStringLiteral("x509 -req -in server.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 1 -extfile san.ext -out server.crt").split(' ')));
        QVERIFY(run(QStringLiteral("mosquitto_passwd"), {QStringLiteral("-c"), QStringLiteral("-b"), QStringLiteral("passwd"),
                                                       QStringLiteral("unit"), QStringLiteral("s3cret word")}));
        broker.letRead({"passwd", "server.key", "server.crt", "ca.crt"});
        broker.configure(QStringLiteral("allow_anonymous false\npassword_file %1\ncafile %2\ncertfile %3\nkeyfile %4\n")
                             .arg(d.filePath(QStringLiteral("passwd")), d.filePath(QStringLiteral("ca.crt")),
                                  d.filePath(QStringLiteral("server.crt")), d.filePath(QStringLiteral("server.key"))));
        QVERIFY(broker.start());
        QFile pw(d.filePath(QStringLiteral("pw")));
        QVERIFY(pw.open(QIODevice::WriteOnly));
        pw.write("s3cret word\n");
        pw.close();

        MqttSettings s;
        s.host = QStringLiteral("127.0.0.1");
        s.port = broker.port();
        s.tls = true;
        s.tlsCa = d.filePath(QStringLiteral("ca.crt"));
        s.user = QStringLiteral("unit");
        s.password = "s3cret word";
        MqttClient sub(s);
        QList<QByteArray> online;
        connect(&sub, &MqttClient::connected, &sub, [&] { sub.subscribe(QStringLiteral("plv/t/online"), 1); });
        connect(&sub, &MqttClient::message, &sub, [&](const QString &, const QByteArray &p, bool) { online << p; });
        QVERIFY(sub.start());
        QVERIFY(QTest::qWaitFor([&] { return sub.isConnected(); }, kWaitMs));

        Publisher pub(sim->tcpPort(), broker.port(),
                      {QStringLiteral("--tls-ca"), s.tlsCa, QStringLiteral("--user"), QStringLiteral("unit"),
                       QStringLiteral("--password-file"), pw.fileName()});
        QVERIFY(QTest::qWaitFor([&] { return online.contains("online"); }, kWaitMs));
    }

    void brokerRestart()
    {
        Broker broker;
        QVERIFY(broker.start());
        Publisher pub(sim->tcpPort(), broker.port(), {});
        {
            Subscriber sub(broker.port(), QStringLiteral("plv/t/readbacks"));
            qsizetype at = 0;
            QVERIFY(sub.next(QStringLiteral("plv/t/readbacks"), at));
        }
        broker.stop();   // nothing persisted: the retained state comes back only if republished
        QVERIFY(broker.start());
        QElapsedTimer since;
        since.start();
        Subscriber sub(broker.port(), QStringLiteral("plv/t/+"));
        qsizetype at = 0;
        const auto state = sub.next(QStringLiteral("plv/t/state"), at);
        QVERIFY(state);
        QVERIFY2(since.elapsed() < 5000, qPrintable(QString::number(since.elapsed())));
        at = 0;
        const auto online = sub.next(QStringLiteral("plv/t/online"), at);
        QVERIFY(online && online->payload == "online");
        QVERIFY(sub.next(QStringLiteral("plv/t/readbacks"), at));
    }

private:
    std::unique_ptr<SimUnit> sim;
};

QTEST_GUILESS_MAIN(TestPublish)
#include "tst_publish.moc"
