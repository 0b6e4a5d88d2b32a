#include "logs/linewriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>


namespace plv::logs {

LineWriter::LineWriter(QObject *parent) : QObject(parent), m_thread([this] { run(); }) {}

LineWriter::~LineWriter()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void LineWriter::append(const QString &path, const QByteArray &lines, const QByteArray &header)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_queuedBytes + lines.size() <= maxQueuedBytes) {
            m_queuedBytes += lines.size();
            m_queue.push_back(Job{path, lines, header});
            m_wake.notify_one();
            return;
        }
        m_dropped += qMax<qint64>(1, lines.count('\n'));
    }
    // The worker is stuck in a write; say so from here, since it cannot.
    if (!m_failing.exchange(true))
        emit failed(path, tr("writing is not keeping up; lines were dropped"));
}

QIODevice::OpenMode LineWriter::appendMode(const QString &path)
{
    // A device (a FIFO, a terminal) has no end to seek to, so no appending there.
    const QFileInfo info(path);
    return !info.exists() || info.isFile() ? QIODevice::WriteOnly | QIODevice::Append : QIODevice::WriteOnly;
}

void LineWriter::closeFile()
{
    std::lock_guard lock(m_mutex);
    m_queue.push_back(Job{{}, {}, {}, true});
    m_wake.notify_one();
}

bool LineWriter::waitForIdle(int msecs)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(msecs), [this] { return m_queue.empty() && !m_busy; });
}

void LineWriter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty())
            break;   // stopping, and nothing left to write
        const Job job = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        write(job);
        lock.lock();
        m_busy = false;
        m_queuedBytes -= job.lines.size();
        if (m_queue.empty())
            m_idle.notify_all();
    }
    m_file.reset();
}

void LineWriter::write(const Job &job)
{
    if (job.close) {
        m_file.reset();
        return;
    }
    // A file removed under us (the folder cleaned up) is made anew rather than written
    // into the void.
    if (m_file && (m_file->fileName() != job.path || (!m_file->isSequential() && !QFileInfo::exists(job.path))))
        m_file.reset();
    QByteArray out;
    if (!m_file) {
        const QString folder = QFileInfo(job.path).absolutePath();
        if (!QDir().mkpath(folder)) {
            fail(job.path, tr("cannot create the folder %1").arg(folder));
            return;
        }
        auto file = std::make_unique<QFile>(job.path);
        if (!file->open(appendMode(job.path) | QIODevice::Unbuffered)) {
            fail(job.path, file->errorString());
            return;
        }
        const qint64 size = file->isSequential() ? -1 : file->size();
        if (size == 0) {
            out = job.header;
        } else if (size > 0) {
            // A line cut short by a crash must not swallow the first new one.
            QFile tail(job.path);
            if (tail.open(QIODevice::ReadOnly) && tail.seek(size - 1) && tail.read(1) != "\n")
                out = "\n";
        }
        m_file = std::move(file);
    }
    out += job.lines;
    if (out.isEmpty()) {
        succeed(job.path);
        return;
    }
    if (m_file->write(out) != out.size()) {
        const QString reason = m_file->errorString();
        m_file.reset();   // reopen next time: the folder or disk may have come back
        fail(job.path, reason);
        return;
    }
    succeed(job.path);
}

void LineWriter::fail(const QString &path, const QString &reason)
{
    if (!m_failing.exchange(true))
        QMetaObject::invokeMethod(this, [this, path, reason] { emit failed(path, reason); }, Qt::QueuedConnection);
}

void LineWriter::succeed(const QString &path)
{
    if (m_failing.exchange(false))
        QMetaObject::invokeMethod(this, [this, path] { emit recovered(path); }, Qt::QueuedConnection);
}

} // namespace plv::logs
