#pragma once
// Shared rig for the console's tests: a simulated unit, a main window of either build,
// and a prompter that answers message boxes, input boxes and dialogs without a person.
#include "console/mainwindow.h"
#include "panels/prompt.h"
#include "link/session.h"
#include "link/tesselclient.h"
#include "sim/simunit.h"
#include "scriptedlink.h"

#include <QDialog>
#include <QList>
#include <QQueue>
#include <QSet>
#include <QStringList>
#include <QThread>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace plv::test {

class ScriptedPrompter : public Prompter {
public:
    ScriptedPrompter() { setPrompter(this); }
    ~ScriptedPrompter() override { setPrompter(nullptr); }

    struct Message { QString text, title; Icon icon; };
    QList<Message> messages;             // every message box shown, in order
    QStringList prompts;                 // every input box prompt, in order
    QQueue<std::optional<QString>> inputs;   // answers; nullopt = Cancel; none queued = Cancel
    QQueue<std::function<int(QDialog &)>> dialogs;   // none queued = the dialog is closed

    void message(QWidget *, const QString &text, const QString &title, Icon icon) override;
    bool input(QWidget *, const QString &prompt, const QString &title, QString &text) override;
    int exec(QDialog &dialog) override;
    QStringList questions;   // every question asked with choices, in order
    QQueue<int> choices;     // answers by index; none queued = the default choice
    int choose(QWidget *, const QString &text, const QStringList &, int defaultIndex, int) override
    {
        questions.append(text);
        return choices.isEmpty() ? defaultIndex : choices.dequeue();
    }

    QStringList messageTexts() const;
};

// No USB unit: the search finds nothing and writes are refused, like the real library
// on a machine without the unit. Like the real one it is not thread-safe, so it records
// which threads call it and whether two calls ever overlapped.
class FakeTessel : public TesselClient {
public:
    struct State {
        bool present = false;
        int searches = 0;
        QList<QByteArray> written;
        QQueue<QByteArray> reports;   // what ReadReport returns, one per call; empty when none
        // How long ReadReport waits when no report is queued, as the bridge waits up to
        // 1000 ms for one; 0 answers at once.
        int readWaitMs = 0;
        std::atomic<int> reads{0};
        std::atomic<bool> waitingInRead{false};
        std::atomic<int> inCall{0};
        std::atomic<bool> overlapped{false};

        QSet<Qt::HANDLE> callerThreads()
        {
            std::lock_guard lock(callersMutex);
            return callers;
        }

    private:
        friend class FakeTessel;
        std::mutex callersMutex;
        QSet<Qt::HANDLE> callers;
    };
    explicit FakeTessel(std::shared_ptr<State> s) : m_s(std::move(s)) {}
    bool findTheHid() override
    {
        Call call(*m_s);
        ++m_s->searches;
        m_found = m_s->present;
        return m_found;
    }
    bool writeReport(const QByteArray &frame) override
    {
        Call call(*m_s);
        if (!m_found)
            return false;
        m_s->written.append(frame);
        return true;
    }
    QByteArray readReport() override
    {
        Call call(*m_s);
        ++m_s->reads;
        if (!m_s->reports.isEmpty())
            return m_s->reports.dequeue();
        if (m_s->readWaitMs > 0) {
            m_s->waitingInRead = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(m_s->readWaitMs));
            m_s->waitingInRead = false;
        }
        return {};
    }

private:
    struct Call {
        explicit Call(State &s) : state(s)
        {
            if (state.inCall++ > 0)
                state.overlapped = true;
            std::lock_guard lock(state.callersMutex);
            state.callers.insert(QThread::currentThreadId());
        }
        ~Call() { --state.inCall; }
        State &state;
    };
    std::shared_ptr<State> m_s;
    bool m_found = false;
};

struct Rig {
    explicit Rig(const BuildData &build = plvBuild());
    ~Rig();

    std::shared_ptr<FakeTessel::State> usb = std::make_shared<FakeTessel::State>();
    ScriptedPrompter prompt;
    SimUnit sim;
    std::unique_ptr<MainWindow> win;
    Session &s() { return win->session(); }

    // Link set up in code, without the status request and automatic mode that a menu
    // choice runs: for tests of single handlers.
    bool attachTcp();
    bool attachSerial();
    // USB through the FakeTessel, with a unit present.
    bool attachUsb();

    // Text of status bar panel n (1 to 6).
    QString panel(int n) const;

    // Payloads the unit received since the last clearTrace(), in order.
    QList<QByteArray> wire() const;
    // Waits until the unit has received at least n commands (since the last clear).
    bool waitForCommands(int n, int timeoutMs = 5000);

    // From now on the unit answers every command with STX, the command's two digits, ",",
    // 'data' and ETX in place of its own reply; std::nullopt gives it its own voice back.
    void replyWith(const std::optional<QByteArray> &data);
    // Runs a window action (menu item) by object name, as the operator's choice does.
    void trigger(const char *actionName);

private:
    QMetaObject::Connection m_replyOverride;
    SimUnit::Faults m_faultsBeforeOverride;
};

// A serial or Ethernet wait with no reply sleeps to its first deadline past the time-out
// and returns exactly then, in the scripted link's virtual time.
constexpr qint64 kWaitGivesUpAtMs = Session::kSerialTcpTimeoutMs + 1;

// The window over one scripted link, serial or Ethernet, chosen and with its receive
// timer running; time is the link's virtual clock. The other links are the real ones,
// left closed, so nothing here may end the program (its exit closes them by type).
struct ScriptedRig {
    explicit ScriptedRig(bool serial, const BuildData &build = plvBuild());
    ~ScriptedRig();

    ScriptedPrompter prompt;
    ScriptedClock *clock = nullptr;   // owned by the session
    ScriptedLink *link = nullptr;
    std::unique_ptr<MainWindow> win;
    Session &s() { return win->session(); }
    QString panel(int n) const;

    // Moves virtual time to 't', then lets what that queued (a receive timer's tick) run.
    void advanceTo(qint64 t);
    // Payloads written since the last clear, as Rig::wire() gives what the unit received.
    QList<QByteArray> wire() const { return link->payloads(); }
    void trigger(const char *actionName);
};

// A frame as the unit sends it: STX, body, checksum character on serial, ETX.
QByteArray unitFrame(const QByteArray &body, bool serial);

template <typename T> T *find(QObject *root, const char *name)
{
    return root->findChild<T *>(QLatin1String(name));
}

} // namespace plv::test
