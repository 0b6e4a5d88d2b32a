#pragma once
// Appends lines to files from a thread of its own, so a slow, full or missing disk never
// holds up the caller. Each queued piece goes to the kernel in one unbuffered write, so a
// process that is killed leaves every line it handed over before the last one complete.
#include <QByteArray>
#include <QIODevice>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class QFile;

namespace plv::logs {

class LineWriter : public QObject {
    Q_OBJECT
public:
    explicit LineWriter(QObject *parent = nullptr);
    ~LineWriter() override;   // writes what is queued, then stops

    // Queues `lines` (complete lines, each ending in a line break) for the end of `path`,
    // whose folder is made as needed. `header` goes first when the file is new or empty.
    // Never blocks on the disk; past maxQueuedBytes the lines are dropped and counted as
    // a failure.
    void append(const QString &path, const QByteArray &lines, const QByteArray &header = {});
    // Lets go of the open file once the lines queued before are written.
    void closeFile();

    // Waits until everything queued is written or has failed; for tests and shutdown.
    bool waitForIdle(int msecs);

    // How to open `path` for appending, for those who try a file before queuing to it.
    static QIODevice::OpenMode appendMode(const QString &path);

    bool isFailing() const { return m_failing.load(); }
    qint64 linesDropped() const { return m_dropped.load(); }

    static constexpr qsizetype maxQueuedBytes = 4 * 1024 * 1024;

signals:
    // Said once when writing starts to fail, and again only after a success in between.
    void failed(const QString &path, const QString &reason);
    void recovered(const QString &path);

private:
    struct Job {
        QString path;
        QByteArray lines;
        QByteArray header;
        bool close = false;
    };
    void run();
    void write(const Job &job);
    void fail(const QString &path, const QString &reason);
    void succeed(const QString &path);

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    qsizetype m_queuedBytes = 0;
    bool m_busy = false;
    bool m_stop = false;
    std::atomic<bool> m_failing{false};
    std::atomic<qint64> m_dropped{0};
    std::unique_ptr<QFile> m_file;   // the worker thread's alone
    std::thread m_thread;   // last: starts after everything it uses exists
};

} // namespace plv::logs
