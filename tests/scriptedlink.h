#pragma once
// An in-memory link and a clock that moves only when told. A test scripts what the unit
// sends in reply to each command and when, in virtual milliseconds, so the end of a wait
// can be asserted to the millisecond with no port and no real waiting.
#include "link/session.h"
#include "link/transport.h"

#include <QList>
#include <QQueue>
#include <functional>

namespace plv::test {

class ScriptedClock : public WaitClock {
public:
    qint64 nowMs() override { return m_now; }
    // Runs what falls due, in time order, until the link has input, wake() is called or
    // the deadline comes. Something due at the deadline itself comes after it: a wait
    // that has given up does not see it. Like the real clock, it sleeps at least 1 ms.
    void sleep(Transport &link, qint64 deadlineMs) override;
    void wake() override { m_woken = true; }

    // Moves time to 't', running everything due up to and including it.
    void advanceTo(qint64 t);
    void advance(qint64 ms) { advanceTo(m_now + ms); }
    // Runs 'what' at virtual time 't' (now, if 't' has passed).
    void at(qint64 t, std::function<void()> what);

private:
    struct Event {
        qint64 t;
        std::function<void()> what;
    };
    QList<Event> m_events;   // in time order; equal times in the order scheduled
    qint64 m_now = 0;
    bool m_woken = false;
    int m_overdue = 0;       // sleeps in a row asked for a deadline already past
};

class ScriptedLink : public Transport {
    Q_OBJECT
public:
    // One thing the unit does, 'afterMs' after the command that prompts it: send bytes,
    // or, with an error text, drop the link.
    struct Step {
        Step() = default;
        Step(qint64 after, QByteArray b, QString e = {}) : afterMs(after), bytes(std::move(b)), error(std::move(e)) {}
        qint64 afterMs = 0;
        QByteArray bytes;
        QString error;
    };
    using Answer = QList<Step>;

    // 'serial': frames carry a checksum character, which payloads() leaves out.
    ScriptedLink(ScriptedClock &clock, bool serial, QObject *parent = nullptr);

    // The unit's answers to the next commands, one each, in order; once none is left,
    // 'respond' answers (if set), else the command goes unanswered.
    QQueue<Answer> answers;
    std::function<Answer(const QByteArray &payload)> respond;
    // Bytes that arrive at virtual time 't' whatever is sent.
    void arriveAt(qint64 t, const QByteArray &bytes);

    QList<QByteArray> written;   // every frame handed over, in order
    QList<qint64> writtenAt;     // and the virtual time of each
    // The payloads written: between STX and the checksum character or ETX.
    QList<QByteArray> payloads() const;

    bool open() override;
    bool isOpen() const override { return m_open; }
    bool send(const QByteArray &frame) override;
    qint64 bytesAvailable() const override { return m_in.size(); }
    QByteArray read(qint64 maxBytes) override;
    void close() override;

private:
    void perform(const Step &step);
    QByteArray payloadOf(const QByteArray &frame) const;

    ScriptedClock &m_clock;
    bool m_serial;
    bool m_open = false;
    QByteArray m_in;
};

} // namespace plv::test

Q_DECLARE_METATYPE(plv::test::ScriptedLink::Step)
