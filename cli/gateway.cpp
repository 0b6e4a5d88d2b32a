#include "cli/gateway.h"

#include "cli/client.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QMutexLocker>
#include <QSet>
#include <QSettings>

#include <csignal>
#include <iostream>

namespace plv::cli {

namespace {

// "tcp:HOST:PORT" or "serial:PATH" as plvctl's own link options.
bool linkArgs(const QString &link, QStringList &out)
{
    if (link.startsWith(QLatin1String("tcp:")))
        out = {QStringLiteral("--tcp"), link.mid(4)};
    else if (link.startsWith(QLatin1String("serial:")))
        out = {QStringLiteral("--serial"), link.mid(7)};
    else
        return false;
    return !out[1].isEmpty();
}

} // namespace

UnitThread::UnitThread(const QString &name, const QStringList &args, const Options &options, QObject *parent)
    : QThread(parent), m_name(name), m_args(args), m_o(options)
{
    setObjectName(QStringLiteral("unit ") + name);
}

void UnitThread::stopUnit()
{
    QMutexLocker lock(&m_lock);
    m_stopAsked = true;
    if (m_client)
        QMetaObject::invokeMethod(m_client, [c = m_client] { c->stop(); }, Qt::QueuedConnection);
}

void UnitThread::run()
{
    Client client(m_o);
    QEventLoop loop;
    client.setOnStop([&loop](int) { loop.quit(); });
    if (client.startBridge(false) != Done)
        return;   // said on standard error; the others run on
    {
        QMutexLocker lock(&m_lock);
        m_client = &client;
        if (m_stopAsked)
            QMetaObject::invokeMethod(&client, [&client] { client.stop(); }, Qt::QueuedConnection);
    }
    loop.exec();
    QMutexLocker lock(&m_lock);
    m_client = nullptr;
}

bool Gateway::units(const QStringList &common, const QStringList &unitEntries, const QString &configFile,
                    QMap<QString, QStringList> &out, QString &error)
{
    for (const QString opt : {"--tcp", "--serial", "--usb", "--topic"})
        for (const QString &arg : common)
            if (arg == opt || arg.startsWith(opt + QLatin1Char('='))) {
                error = QStringLiteral("%1 is given per unit: --unit tcp:HOST:PORT=TOPIC, serial:PATH=TOPIC or the config file")
                            .arg(opt);
                return false;
            }
    // name (as the file or the command line calls it) -> arguments
    QList<std::pair<QString, QStringList>> all;
    for (const QString &entry : unitEntries) {
        const qsizetype eq = entry.lastIndexOf(QLatin1Char('='));
        QStringList link;
        if (eq < 0 || !linkArgs(entry.left(eq), link)) {
            error = QStringLiteral("--unit: '%1' is not tcp:HOST:PORT=TOPIC or serial:PATH=TOPIC").arg(entry);
            return false;
        }
        all.append({entry, link + common + QStringList{QStringLiteral("publish"), QStringLiteral("--topic"), entry.mid(eq + 1)}});
    }
    if (!configFile.isEmpty()) {
        if (!QFileInfo(configFile).isReadable()) {
            error = QStringLiteral("cannot read the config file %1").arg(configFile);
            return false;
        }
        QSettings ini(configFile, QSettings::IniFormat);
        if (ini.status() != QSettings::NoError) {
            error = QStringLiteral("the config file %1 is not in INI form").arg(configFile);
            return false;
        }
        // Keys outside any section are every unit's; a section's own keys win.
        auto options = [&](const QStringList &keys, QMap<QString, QString> &into) {
            for (const QString &key : keys) {
                const QVariant v = ini.value(key);
                into.insert(key, v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString());
            }
        };
        QMap<QString, QString> shared;
        options(ini.childKeys(), shared);
        for (const QString &section : ini.childGroups()) {
            QMap<QString, QString> keys = shared;
            ini.beginGroup(section);
            options(ini.childKeys(), keys);
            ini.endGroup();
            QStringList args;
            if (!linkArgs(keys.take(QStringLiteral("link")), args)) {
                error = QStringLiteral("%1: [%2] needs link=tcp:HOST:PORT or link=serial:PATH").arg(configFile, section);
                return false;
            }
            args << common << QStringLiteral("publish");
            for (auto it = keys.begin(); it != keys.end(); ++it) {
                if (it.value() == QLatin1String("true"))
                    args << QStringLiteral("--") + it.key();
                else if (it.value() != QLatin1String("false"))
                    args << QStringLiteral("--%1=%2").arg(it.key(), it.value());
            }
            all.append({QStringLiteral("%1 [%2]").arg(configFile, section), args});
        }
    }
    if (all.isEmpty()) {
        error = QStringLiteral("gateway needs --config FILE or --unit tcp:HOST:PORT=TOPIC (repeatable)");
        return false;
    }
    // A unit is known by its topic root: the same root twice would act twice on a request.
    out.clear();
    for (const auto &[name, args] : all) {
        const Parsed p = parseArguments(args);
        if (!p.error.isEmpty()) {
            error = QStringLiteral("%1: %2").arg(name, p.error);
            return false;
        }
        if (out.contains(p.options.topic)) {
            error = QStringLiteral("%1: the topic %2 is another unit's").arg(name, p.options.topic);
            return false;
        }
        out.insert(p.options.topic, args);
    }
    return true;
}

void Gateway::say(const QString &message) const
{
    std::cerr << qPrintable(QStringLiteral("plvctl gateway: %1\n").arg(message)) << std::flush;
}

int Gateway::run(const QStringList &args)
{
    // --config and --unit are the gateway's; the rest is every unit's, as for publish.
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const QString name = arg.section(QLatin1Char('='), 0, 0);
        if (name != QLatin1String("--config") && name != QLatin1String("--unit")) {
            m_common << arg;
            continue;
        }
        QString value = arg.section(QLatin1Char('='), 1);
        if (!arg.contains(QLatin1Char('='))) {
            if (i + 1 >= args.size()) {
                say(QStringLiteral("%1 needs a value").arg(arg));
                return Usage;
            }
            value = args[++i];
        }
        if (name == QLatin1String("--config"))
            m_config = value;
        else
            m_unitEntries << value;
    }
    QMap<QString, QStringList> wanted;
    QString error;
    if (!units(m_common, m_unitEntries, m_config, wanted, error)) {
        say(error);
        return Usage;
    }
    catchSignals(this, {SIGINT, SIGTERM, SIGHUP}, [this](int sig) {
        if (sig == SIGHUP)
            reload();
        else
            stopAll();
    });
    apply(wanted);
    return QCoreApplication::exec();
}

void Gateway::apply(const QMap<QString, QStringList> &wanted)
{
    auto start = [this](const QString &topic, const QStringList &args) {
        auto *t = new UnitThread(topic, args, parseArguments(args).options, this);
        m_units.insert(topic, t);
        ++m_running;
        connect(t, &QThread::finished, this, [this, t, topic] {
            --m_running;
            if (m_units.value(topic) == t) {
                m_units.remove(topic);
                if (!m_stopping)
                    say(QStringLiteral("%1 ended").arg(topic));
            }
            t->deleteLater();
            if (m_stopping && m_running == 0)
                QCoreApplication::exit(Done);
        });
        t->start();
    };
    for (auto it = m_units.begin(); it != m_units.end();) {
        UnitThread *t = it.value();
        const QString topic = it.key();
        if (wanted.value(topic) == t->args()) {
            ++it;
            continue;   // untouched
        }
        it = m_units.erase(it);
        t->stopUnit();
        if (wanted.contains(topic)) {
            // One client id per root: the new bridge connects once the old one has said
            // offline and left, never beside it.
            const QStringList args = wanted.value(topic);
            m_restarting.insert(topic);
            connect(t, &QThread::finished, this, [start, topic, args, this] {
                m_restarting.remove(topic);
                if (!m_stopping)
                    start(topic, args);
            });
            say(QStringLiteral("%1 changed: restarting").arg(topic));
        } else {
            say(QStringLiteral("%1 removed: stopping").arg(topic));
        }
    }
    for (auto it = wanted.begin(); it != wanted.end(); ++it)
        if (!m_units.contains(it.key()) && !m_restarting.contains(it.key()))
            start(it.key(), it.value());
}

void Gateway::reload()
{
    QMap<QString, QStringList> wanted;
    QString error;
    if (!units(m_common, m_unitEntries, m_config, wanted, error)) {
        say(error + QStringLiteral(": nothing changed"));
        return;
    }
    say(QStringLiteral("reloading %1").arg(m_config.isEmpty() ? QStringLiteral("(no config file)") : m_config));
    apply(wanted);
}

void Gateway::stopAll()
{
    if (m_stopping)
        return;
    m_stopping = true;
    for (UnitThread *t : findChildren<UnitThread *>())
        t->stopUnit();
    if (m_running == 0)
        QCoreApplication::exit(Done);
}

} // namespace plv::cli
