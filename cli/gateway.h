#pragma once
// plvctl gateway: many units' broker bridges in one process. Each unit runs the bridge of
// `publish` on a thread of its own with its own event loop: the reply wait nests an event
// loop, and nested waits of many units on one thread would unwind last in, first out.
#include "cli/options.h"

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QThread>

namespace plv::cli {

class Client;

class UnitThread : public QThread {
public:
    UnitThread(const QString &name, const QStringList &args, const Options &options, QObject *parent);
    const QStringList &args() const { return m_args; }
    // From any thread: the bridge says offline, disconnects and the thread ends.
    void stopUnit();

protected:
    void run() override;

private:
    QString m_name;
    QStringList m_args;   // what the unit was started with, to tell a changed unit on reload
    Options m_o;
    QMutex m_lock;
    Client *m_client = nullptr;
    bool m_stopAsked = false;
};

class Gateway : public QObject {
public:
    // args: after the word "gateway".
    int run(const QStringList &args);

    // Each unit's plvctl arguments by name, from the command line's --unit and the
    // --config file; false with the reason when any unit's are wrong.
    static bool units(const QStringList &common, const QStringList &unitEntries, const QString &configFile,
                      QMap<QString, QStringList> &out, QString &error);

private:
    void apply(const QMap<QString, QStringList> &wanted);
    void reload();
    void stopAll();
    void say(const QString &message) const;

    QStringList m_common;
    QStringList m_unitEntries;
    QString m_config;
    QMap<QString, UnitThread *> m_units;   // by topic root
    QSet<QString> m_restarting;            // changed: started again once the old one has left
    int m_running = 0;   // threads not yet finished, stopped ones included
    bool m_stopping = false;
};

} // namespace plv::cli
