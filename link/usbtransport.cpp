#include "link/usbtransport.h"

#include <QMetaObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

namespace plv {

struct UsbTransport::Shared {
    explicit Shared(UsbTransport *link) : owner(link) {}

    std::mutex mutex;
    std::condition_variable wake;       // a job was queued, or the link is gone
    std::condition_variable finished;   // the worker has let go of the bridge
    std::deque<std::function<void(Shared &)>> jobs;
    bool stop = false;
    bool done = false;
    UsbTransport *owner;                    // where completed reads go; null once the link is gone
    std::unique_ptr<TesselClient> bridge;   // used and released on the worker thread only

    void post(std::function<void(Shared &)> job)
    {
        {
            std::lock_guard lock(mutex);
            jobs.push_back(std::move(job));
        }
        wake.notify_one();
    }

    // The worker holds the shared state too, so the bridge outlives a link destroyed
    // while a read is running.
    static void run(std::shared_ptr<Shared> s)
    {
        std::unique_lock lock(s->mutex);
        for (;;) {
            s->wake.wait(lock, [&] { return s->stop || !s->jobs.empty(); });
            if (s->stop)
                break;   // what is still queued is a read nobody waits for
            auto job = std::move(s->jobs.front());
            s->jobs.pop_front();
            lock.unlock();
            job(*s);
            lock.lock();
        }
        lock.unlock();
        s->bridge.reset();
        lock.lock();
        s->done = true;
        s->finished.notify_all();
    }
};

UsbTransport::UsbTransport(QObject *parent) : Transport(parent) {}

UsbTransport::~UsbTransport()
{
    if (!m_shared)
        return;
    // A reply wait ends only when its read has completed, so the worker is normally idle
    // here: it lets go of the bridge at once and is joined, and the bridge is released
    // before the program's statics go. Only when the program ended during a wait can it
    // still be inside a read, for a second and more; the end must not wait for that, so
    // after a short moment the worker is left to finish on its own. It owns the bridge
    // through the shared state, releases it when the read returns (unless the process has
    // ended first) and hands the report to nobody.
    constexpr auto kLetGo = std::chrono::milliseconds(50);
    std::unique_lock lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->stop = true;
    m_shared->wake.notify_one();
    const bool idle = m_shared->finished.wait_for(lock, kLetGo, [this] { return m_shared->done; });
    lock.unlock();
    if (idle)
        m_worker.join();
    else
        m_worker.detach();
}

void UsbTransport::setClient(std::unique_ptr<TesselClient> tessel)
{
    m_found = false;
    m_loaded = tessel != nullptr;
    if (!m_shared) {
        if (!tessel)
            return;   // no bridge, no worker
        m_shared = std::make_shared<Shared>(this);
        m_shared->bridge = std::move(tessel);   // before the worker starts: nobody else sees it yet
        m_worker = std::thread(&Shared::run, m_shared);
        return;
    }
    // Swapped on the worker, so the one it replaces is released where it was used.
    onWorker([&tessel](std::unique_ptr<TesselClient> &bridge) {
        bridge = std::move(tessel);
        return true;
    });
}

bool UsbTransport::onWorker(const std::function<bool(std::unique_ptr<TesselClient> &)> &op)
{
    if (!m_shared)
        return false;
    // The worker is idle unless a command goes out while another command's reply is
    // awaited (the exit sequence does); then this waits for that read, which the unit's
    // reply ends. The write is never dropped or left queued for a program that is ending.
    std::promise<bool> result;
    std::future<bool> answer = result.get_future();
    m_shared->post([&](Shared &s) { result.set_value(op(s.bridge)); });
    return answer.get();
}

bool UsbTransport::find()
{
    m_found = onWorker([](std::unique_ptr<TesselClient> &bridge) { return bridge && bridge->findTheHid(); });
    return m_found;
}

bool UsbTransport::send(const QByteArray &frame)
{
    if (!m_found)
        return false;
    return onWorker([&frame](std::unique_ptr<TesselClient> &bridge) { return bridge && bridge->writeReport(frame); });
}

QByteArray UsbTransport::read(qint64 maxBytes)
{
    const QByteArray out = m_received.left(maxBytes);
    m_received.remove(0, out.size());
    return out;
}

bool UsbTransport::requestInput()
{
    if (m_reading)
        return true;
    if (!m_found)
        return false;
    m_reading = true;
    m_shared->post([](Shared &s) {
        const QByteArray report = s.bridge ? s.bridge->readReport() : QByteArray();
        std::lock_guard lock(s.mutex);
        // Under the lock: the link cannot be destroyed between the check and the post, and
        // a report posted before it goes is dropped with it.
        if (UsbTransport *link = s.owner)
            QMetaObject::invokeMethod(link, [link, report] { link->readFinished(report); }, Qt::QueuedConnection);
    });
    return true;
}

void UsbTransport::readFinished(const QByteArray &report)
{
    m_reading = false;
    m_received += report;
    emit readyRead();   // also after an empty read: the wait's clock is checked on each
}

void UsbTransport::close()
{
    m_found = false;
    m_received.clear();
}

} // namespace plv
