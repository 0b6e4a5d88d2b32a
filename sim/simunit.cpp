#include "sim/simunit.h"

#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr qint64 FloodChunk = 64 * 1024;
// Nobody may be reading the console's end of the pty; beyond this we drop
// output, as an unattended serial line would.
constexpr qint64 PtyBacklogMax = 1024 * 1024;
constexpr int MaxFrame = 4096;
constexpr qint64 MsPerHour = 3600 * 1000;

const QByteArray Ok = "$,";
const QByteArray Refused = "1,";

qint64 monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Counts are plain decimal digits only; the unit rejects signs, blanks and hex.
bool parseNumber(const QByteArray &text, int max, int &out)
{
    if (text.isEmpty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), isDigit))
        return false;
    const int value = text.toInt();
    if (value > max)
        return false;
    out = value;
    return true;
}

QByteArray flag(bool on) { return on ? "1," : "0,"; }

} // namespace

char SimUnit::checksum(const QByteArray &payload)
{
    int sum = 0;
    for (char c : payload)
        sum += static_cast<unsigned char>(c);
    return static_cast<char>(((256 - sum) & 0x3F) | 0x40);
}

SimUnit::SimUnit(QObject *parent)
    : QObject(parent)
    , m_statusTimer(new QTimer(this))
{
    m_clock.start();
    connect(m_statusTimer, &QTimer::timeout, this, &SimUnit::sendUnsolicitedStatus);
}

SimUnit::~SimUnit()
{
    for (Peer &p : m_peers) {
        if (p.socket) {
            p.socket->disconnect(this);
            p.socket->abort();
        }
    }
    m_peers.clear();
    closePty();
}

// ---------------------------------------------------------------- links

bool SimUnit::listenTcp(quint16 port, const QHostAddress &address)
{
    if (!m_server) {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &SimUnit::acceptClients);
    }
    if (m_server->isListening())
        m_server->close();
    if (!m_server->listen(address, port)) {
        m_error = m_server->errorString();
        return false;
    }
    return true;
}

void SimUnit::stopTcp()
{
    if (m_server)
        m_server->close();
    dropConnections();
}

quint16 SimUnit::tcpPort() const { return m_server ? m_server->serverPort() : 0; }
QHostAddress SimUnit::tcpAddress() const { return m_server ? m_server->serverAddress() : QHostAddress(); }

int SimUnit::tcpClientCount() const
{
    return int(std::count_if(m_peers.begin(), m_peers.end(), [](const Peer &p) { return p.link == Link::Tcp; }));
}

void SimUnit::acceptClients()
{
    while (QTcpSocket *s = m_server->nextPendingConnection()) {
        const int id = m_nextId++;
        // Replies are tiny and latency is measured against us: no Nagle.
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_peers.insert(id, Peer{Link::Tcp, s, {}, false, 0});
        connect(s, &QTcpSocket::readyRead, this, [this, id] { readTcp(id); });
        connect(s, &QTcpSocket::bytesWritten, this, [this, id] { pumpFlood(id); });
        connect(s, &QTcpSocket::disconnected, this, [this, id, s] {
            m_peers.remove(id);
            s->deleteLater();
            emit clientDisconnected();
        });
        emit clientConnected();
        if (s->bytesAvailable() > 0)
            readTcp(id);
    }
}

void SimUnit::readTcp(int id)
{
    auto it = m_peers.find(id);
    if (it == m_peers.end())
        return;
    // QTcpSocket has already read from the kernel when readyRead is emitted.
    m_readNs = monotonicNs();
    feed(id, it->socket->readAll());
}

bool SimUnit::openPty(const QString &symlinkPath)
{
    if (m_ptyMaster >= 0)
        closePty();
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    char name[128] = {};
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0
        || ::ptsname_r(master, name, sizeof name) != 0) {
        m_error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        if (master >= 0)
            ::close(master);
        return false;
    }
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);

    // Holding the slave open ourselves keeps the master from reporting a
    // hang-up whenever the console closes and reopens its port.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        m_error = QStringLiteral("cannot open %1: %2").arg(QString::fromLocal8Bit(name), QString::fromLocal8Bit(strerror(errno)));
        ::close(master);
        return false;
    }
    termios tio{};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);  // no echo, no line editing, no CR/LF translation
        ::cfsetspeed(&tio, B9600);
        ::tcsetattr(slave, TCSANOW, &tio);
    }

    m_ptyMaster = master;
    m_ptySlave = slave;
    m_ptyPath = QString::fromLocal8Bit(name);
    m_ptyOut.clear();
    m_ptyEtxMarks.clear();
    m_ptyQueued = m_ptyWritten = 0;
    m_peers.insert(SerialPeer, Peer{Link::Serial, nullptr, {}, false, 0});

    m_ptyRead = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(m_ptyRead, &QSocketNotifier::activated, this, &SimUnit::readPty);
    m_ptyWrite = new QSocketNotifier(master, QSocketNotifier::Write, this);
    m_ptyWrite->setEnabled(false);
    connect(m_ptyWrite, &QSocketNotifier::activated, this, [this] {
        flushPty();
        pumpFlood(SerialPeer);
    });

    if (!symlinkPath.isEmpty()) {
        const QFileInfo fi(symlinkPath);
        if (fi.exists() && !fi.isSymLink()) {
            m_error = QStringLiteral("%1 exists and is not a symbolic link").arg(symlinkPath);
            return false;  // the pty itself is usable
        }
        QFile::remove(symlinkPath);
        if (::symlink(name, QFile::encodeName(symlinkPath).constData()) != 0) {
            m_error = QStringLiteral("cannot create %1: %2").arg(symlinkPath, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        m_ptyLink = symlinkPath;
    }
    return true;
}

void SimUnit::closePty()
{
    delete m_ptyRead;
    delete m_ptyWrite;
    m_ptyRead = m_ptyWrite = nullptr;
    if (m_ptySlave >= 0)
        ::close(m_ptySlave);
    if (m_ptyMaster >= 0)
        ::close(m_ptyMaster);
    m_ptySlave = m_ptyMaster = -1;
    m_peers.remove(SerialPeer);
    // Only remove the link if nobody re-pointed it meanwhile.
    if (!m_ptyLink.isEmpty() && QFileInfo(m_ptyLink).symLinkTarget() == m_ptyPath)
        QFile::remove(m_ptyLink);
    m_ptyLink.clear();
    m_ptyPath.clear();
}

void SimUnit::readPty()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_ptyMaster, buf, sizeof buf);
        if (n > 0) {
            m_readNs = monotonicNs();
            feed(SerialPeer, QByteArray(buf, n));
            if (m_ptyMaster < 0)
                return;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return;  // EAGAIN; EIO cannot persist since we hold the slave
    }
}

void SimUnit::flushPty()
{
    while (!m_ptyOut.isEmpty() && m_ptyMaster >= 0) {
        const ssize_t n = ::write(m_ptyMaster, m_ptyOut.constData(), size_t(m_ptyOut.size()));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN) {  // unrecoverable: drop rather than spin
                m_ptyWritten += m_ptyOut.size();
                m_ptyOut.clear();
            }
            break;
        }
        m_ptyOut.remove(0, n);
        m_ptyWritten += n;
    }
    while (!m_ptyEtxMarks.isEmpty() && m_ptyEtxMarks.first() <= m_ptyWritten) {
        m_ptyEtxMarks.removeFirst();
        emit replyEtxWritten(monotonicNs());
    }
    if (m_ptyWrite)
        m_ptyWrite->setEnabled(!m_ptyOut.isEmpty());
}

// ---------------------------------------------------------------- framing

void SimUnit::feed(int id, const QByteArray &bytes)
{
    for (char c : bytes) {
        auto it = m_peers.find(id);
        if (it == m_peers.end())
            return;  // dropped while handling an earlier frame
        if (c == Stx) {
            it->inFrame = true;
            it->rx.clear();
        } else if (!it->inFrame) {
            continue;
        } else if (c == Etx) {
            it->inFrame = false;
            handleFrame(id, std::exchange(it->rx, {}));
        } else if (it->rx.size() < MaxFrame) {
            it->rx.append(c);
        } else {  // runaway frame: resynchronise on the next STX
            it->inFrame = false;
            it->rx.clear();
        }
    }
}

void SimUnit::handleFrame(int id, const QByteArray &frame)
{
    emit commandEtxRead(m_readNs, frame);
    const Link link = m_peers.value(id).link;
    QByteArray payload = frame;
    bool ok = true;
    if (link == Link::Serial) {
        ok = !frame.isEmpty();
        if (ok) {
            payload.chop(1);
            ok = checksum(payload) == frame.back();
        }
    }
    m_trace.append({m_clock.elapsed(), payload, link, ok});
    if (!ok) {
        ++m_badChecksums;
        emit badChecksumReceived(payload);
        return;
    }
    ++m_commandsHandled;
    emit commandReceived(payload);

    auto it = m_peers.find(id);
    if (it == m_peers.end())
        return;
    if (m_faults.dropConnection) {
        if (it->socket)
            it->socket->disconnectFromHost();
        else
            it->rx.clear();  // a pulled serial cable: the console just hears nothing
        return;
    }
    if (m_faults.silent)
        return;
    const auto over = m_overrides.constFind(payload.left(2));
    if (over != m_overrides.constEnd()) {
        if (*over)
            sendReply(id, payload.left(2), **over);
        return;
    }
    sendReply(id, payload.left(2), respond(payload));
}

QByteArray SimUnit::frame(Link link, const QByteArray &body, bool withEtx) const
{
    QByteArray out;
    out.reserve(body.size() + 3);
    out.append(Stx).append(body);
    if (link == Link::Serial)
        out.append(checksum(body));
    if (withEtx)
        out.append(Etx);
    return out;
}

void SimUnit::sendReply(int id, const QByteArray &cmd, const QByteArray &data)
{
    const Faults f = m_faults;  // a reply keeps the behaviour it started with
    const Link link = m_peers.value(id).link;
    const QByteArray bytes = f.junkBeforeStx + frame(link, cmd + ',' + data, !f.noEtx) + f.junkAfterEtx;
    const bool etx = !f.noEtx;
    if (f.replyDelayMs > 0) {
        // Precise: a delay just either side of the console's time-out must stay there.
        QTimer::singleShot(f.replyDelayMs, Qt::PreciseTimer, this, [=, this] { writeChunks(id, bytes, etx, f.chunkSize, f.chunkGapMs); });
    } else {
        writeChunks(id, bytes, etx, f.chunkSize, f.chunkGapMs);
    }
}

void SimUnit::writeChunks(int id, const QByteArray &bytes, bool etxInLast, int size, int gapMs)
{
    if (size <= 0 || size >= bytes.size()) {
        writeTo(id, bytes, etxInLast);
        return;
    }
    writeTo(id, bytes.left(size), false);
    const QByteArray rest = bytes.mid(size);
    if (gapMs > 0)
        QTimer::singleShot(gapMs, this, [=, this] { writeChunks(id, rest, etxInLast, size, gapMs); });
    else
        writeChunks(id, rest, etxInLast, size, gapMs);
}

void SimUnit::writeTo(int id, const QByteArray &bytes, bool carriesEtx)
{
    auto it = m_peers.find(id);
    if (it == m_peers.end())
        return;  // peer went away while a delayed or chunked reply was pending
    if (it->socket) {
        it->socket->write(bytes);
        it->socket->flush();  // hand it to the kernel now, so the ETX time is honest
        if (carriesEtx)
            emit replyEtxWritten(monotonicNs());
        return;
    }
    if (m_ptyOut.size() > PtyBacklogMax)
        return;
    m_ptyOut.append(bytes);
    m_ptyQueued += bytes.size();
    if (carriesEtx)
        m_ptyEtxMarks.append(m_ptyQueued);
    flushPty();
}

qint64 SimUnit::backlog(int id) const
{
    auto it = m_peers.find(id);
    if (it == m_peers.end())
        return 0;
    return it->socket ? it->socket->bytesToWrite() : m_ptyOut.size();
}

// ---------------------------------------------------------------- commands

QByteArray SimUnit::respond(const QByteArray &payload)
{
    // Two digits, a comma, then fields each closed by a comma.
    if (m_faults.refuseAll || payload.size() < 3 || !isDigit(payload[0]) || !isDigit(payload[1])
        || payload[2] != ',' || !payload.endsWith(','))
        return Refused;
    const int cmd = payload.left(2).toInt();
    QList<QByteArray> args = payload.mid(3).split(',');
    args.removeLast();  // empty piece after the closing comma
    const auto argc = args.size();
    int n = 0;

    switch (cmd) {
    case 7:
        if (argc != 1 || !parseNumber(args[0], 5, n) || n < 1)
            return Refused;
        m_baudCode = n;
        return Ok;
    case 10: case 11: case 12: case 13:
        if (argc != 1 || !parseNumber(args[0], MaxCount, n))
            return Refused;
        m_setpoints[cmd - 10] = n;
        return Ok;
    case 14: case 15: case 16: case 17:
        return argc ? Refused : QByteArray::number(m_setpoints[cmd - 14]) + ',';
    case 19: {
        if (argc)
            return Refused;
        QByteArray out;
        for (int ch = 0; ch < 3; ++ch) {
            // Small deterministic wobble so a frozen display stands out.
            const int jitter = int((m_jitterStep * 3 + quint32(ch) * 2) % 5) - 2;
            const int value = m_hv ? std::clamp(m_setpoints[ch] + jitter, 0, MaxCount) : 0;
            out += QByteArray::number(value) + ',';
        }
        ++m_jitterStep;
        return out;
    }
    case 20:
        return argc ? Refused : QByteArray("1562,25,3000,");
    case 21:
        return argc ? Refused : QByteArray::number(hours()) + ',';
    case 22:
        return argc ? Refused : statusData();
    case 23:
        return argc ? Refused : m_swRev.toLatin1() + ',';
    case 24:
        return argc ? Refused : m_hwRev.toLatin1() + ',';
    case 25:
        return argc ? Refused : m_webRev.toLatin1() + ',';
    case 26:
        return argc ? Refused : m_family.toLatin1() + ',' + m_model.toLatin1() + ',';
    case 30:
        if (argc)
            return Refused;
        setHours(0);
        return Ok;
    case 31:
        if (argc)
            return Refused;
        resetFaults();
        return Ok;
    case 68: {
        if (argc)
            return Refused;
        QByteArray out;
        for (bool f : m_flags)
            out += flag(f);
        return out;
    }
    case 93:
        // One field sets the model; two set the family as well.
        if (argc < 1 || argc > 2 || args.last().isEmpty() || args.first().isEmpty())
            return Refused;
        if (argc == 2)
            m_family = QString::fromLatin1(args[0]);
        m_model = QString::fromLatin1(args.last());
        return Ok;
    case 94:
        if (argc != 1 || args[0].isEmpty())
            return Refused;
        m_hwRev = QString::fromLatin1(args[0]);
        return Ok;
    case 95:
        if (argc != 1 || !parseNumber(args[0], MaxFilamentLimit, n))
            return Refused;
        m_filamentLimit = n;
        return Ok;
    case 96:
        if (argc)
            return Refused;
        m_passthrough = !m_passthrough;
        return Ok;
    case 98:
        if (argc != 1 || (args[0] != "0" && args[0] != "1"))
            return Refused;
        return setHvOn(args[0] == "1") ? Ok : Refused;
    case 99:
        if (argc != 1 || (args[0] != "0" && args[0] != "1"))
            return Refused;
        m_remote = args[0] == "1";
        return Ok;
    default:
        return Refused;
    }
}

QByteArray SimUnit::statusData() const
{
    return flag(m_hv) + flag(m_interlockOpen) + flag(m_fault) + flag(m_remote);
}

// ---------------------------------------------------------------- state

int SimUnit::setpoint(int ch) const
{
    return ch >= 0 && ch < int(m_setpoints.size()) ? m_setpoints[ch] : -1;
}

bool SimUnit::setSetpoint(int ch, int count)
{
    if (ch < 0 || ch >= int(m_setpoints.size()) || count < 0 || count > MaxCount)
        return false;
    m_setpoints[ch] = count;
    return true;
}

bool SimUnit::setHvOn(bool on)
{
    if (on && m_interlockOpen)
        return false;
    if (on && !m_hv)
        m_hvSince.start();
    else if (!on && m_hv)
        m_hvOnMs += m_hvSince.elapsed();
    m_hv = on;
    return true;
}

void SimUnit::setInterlockOpen(bool open)
{
    m_interlockOpen = open;
    if (open)
        setHvOn(false);
}

bool SimUnit::faultFlag(int i) const
{
    return i >= 0 && i < FlagCount && m_flags[i];
}

void SimUnit::setFaultFlag(int i, bool on)
{
    if (i >= 0 && i < FlagCount)
        m_flags[i] = on;
}

void SimUnit::resetFaults()
{
    m_fault = false;
    m_flags.fill(false);
}

bool SimUnit::setFilamentLimitCode(int code)
{
    if (code < 0 || code > MaxFilamentLimit)
        return false;
    m_filamentLimit = code;
    return true;
}

int SimUnit::hours() const
{
    const qint64 onMs = m_hvOnMs + (m_hv ? m_hvSince.elapsed() : 0);
    return m_hoursBase + int(onMs / MsPerHour);
}

void SimUnit::setHours(int hours)
{
    m_hoursBase = hours;
    m_hvOnMs = 0;
    if (m_hv)
        m_hvSince.start();
}

// ---------------------------------------------------------------- traffic

void SimUnit::sendUnsolicitedStatus()
{
    const QByteArray body = "22," + statusData();
    for (int id : m_peers.keys())
        writeTo(id, frame(m_peers.value(id).link, body), false);
}

void SimUnit::setStatusPeriodMs(int ms)
{
    if (ms > 0)
        m_statusTimer->start(ms);
    else
        m_statusTimer->stop();
}

int SimUnit::statusPeriodMs() const
{
    return m_statusTimer->isActive() ? m_statusTimer->interval() : 0;
}

void SimUnit::sendRaw(const QByteArray &bytes)
{
    for (int id : m_peers.keys())
        writeTo(id, bytes, false);
}

void SimUnit::dropConnections()
{
    QList<QTcpSocket *> sockets;
    for (Peer &p : m_peers) {
        if (p.socket)
            sockets.append(p.socket);
        p.rx.clear();
        p.inFrame = false;
        p.floodLeft = 0;
    }
    m_ptyOut.clear();
    m_ptyEtxMarks.clear();
    m_ptyWritten = m_ptyQueued;
    for (QTcpSocket *s : sockets)
        s->disconnectFromHost();  // may remove the peer synchronously
}

void SimUnit::resetConnections()
{
    QList<QTcpSocket *> sockets;
    for (Peer &p : m_peers)
        if (p.socket)
            sockets.append(p.socket);
    for (QTcpSocket *s : sockets) {
        // A zero linger time makes the close send RST, as a unit that reboots would.
        const linger l{1, 0};
        ::setsockopt(int(s->socketDescriptor()), SOL_SOCKET, SO_LINGER, &l, sizeof l);
        s->abort();
    }
}

void SimUnit::overrideReply(const QByteArray &command, std::optional<QByteArray> data)
{
    m_overrides.insert(command, std::move(data));
}

qint64 SimUnit::floodPending() const
{
    qint64 n = 0;
    for (const Peer &p : m_peers)
        n += p.floodLeft;
    return n;
}

void SimUnit::flood(qint64 bytes)
{
    for (int id : m_peers.keys()) {
        m_peers[id].floodLeft += bytes;
        pumpFlood(id);
    }
}

// One chunk per pass so the event loop (and the rest of the unit) keeps running;
// a full link is resumed by bytesWritten or the pty write notifier.
void SimUnit::pumpFlood(int id)
{
    auto it = m_peers.find(id);
    if (it == m_peers.end() || it->floodLeft <= 0 || backlog(id) >= FloodChunk)
        return;
    const qint64 n = std::min(FloodChunk, it->floodLeft);
    it->floodLeft -= n;
    writeTo(id, QByteArray(n, 'x'), false);
    it = m_peers.find(id);
    if (it != m_peers.end() && it->floodLeft > 0)
        QTimer::singleShot(0, this, [this, id] { pumpFlood(id); });
}
