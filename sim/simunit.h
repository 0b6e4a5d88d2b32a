#pragma once

// A software stand-in for the power-supply unit. It speaks the unit's wire
// protocol on TCP and on a pseudo-terminal, keeps a consistent unit state and
// can misbehave on request so the console's error handling can be exercised.
// It shares no code with the console on purpose: it is a second, independent
// reading of the protocol.

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <array>
#include <optional>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QTimer;

class SimUnit : public QObject
{
    Q_OBJECT
public:
    enum class Link { Tcp, Serial };

    struct TraceEntry {
        qint64 tMs = 0;        // since the unit was created, monotonic
        QByteArray payload;    // between STX and ETX, checksum char removed
        Link link = Link::Tcp;
        bool checksumOk = true;
    };

    // Misbehaviour applied to replies; may be changed at any time.
    struct Faults {
        bool silent = false;          // swallow commands, never answer
        int replyDelayMs = 0;
        bool noEtx = false;
        QByteArray junkBeforeStx = {};
        int chunkSize = 0;            // 0: whole reply in one write
        int chunkGapMs = 0;
        bool refuseAll = false;       // answer every command "1,"
        bool dropConnection = false;  // TCP: close instead of answering; serial: stay mute
        QByteArray junkAfterEtx = {}; // written right behind the reply's ETX
    };

    enum FaultFlag { Arc, Temperature, OverVoltage, UnderVoltage, OverCurrent, UnderCurrent, FlagCount };

    static constexpr char Stx = 0x02;
    static constexpr char Etx = 0x03;
    static constexpr int MaxCount = 4095;
    static constexpr int MaxFilamentLimit = 2047;

    static char checksum(const QByteArray &payload);

    explicit SimUnit(QObject *parent = nullptr);
    ~SimUnit() override;

    // Links
    bool listenTcp(quint16 port = 0, const QHostAddress &address = QHostAddress::LocalHost);
    quint16 tcpPort() const;
    // The TCP side goes away (connections dropped, no longer listening) until listenTcp().
    void stopTcp();
    QHostAddress tcpAddress() const;
    int tcpClientCount() const;
    bool openPty(const QString &symlinkPath = {});
    QString ptyPath() const { return m_ptyPath; }
    QString ptyLink() const { return m_ptyLink; }
    QString errorString() const { return m_error; }

    // Unit state
    int setpoint(int ch) const;
    bool setSetpoint(int ch, int count);
    bool hvOn() const { return m_hv; }
    bool setHvOn(bool on);  // false when refused (interlock open)
    bool interlockOpen() const { return m_interlockOpen; }
    void setInterlockOpen(bool open);
    bool fault() const { return m_fault; }
    void setFault(bool fault) { m_fault = fault; }
    bool faultFlag(int i) const;
    void setFaultFlag(int i, bool on);
    void resetFaults();
    bool remote() const { return m_remote; }
    void setRemote(bool remote) { m_remote = remote; }
    QString modelFamily() const { return m_family; }
    void setModelFamily(const QString &family) { m_family = family; }
    QString modelNumber() const { return m_model; }
    void setModelNumber(const QString &model) { m_model = model; }
    QString hardwareRevision() const { return m_hwRev; }
    void setHardwareRevision(const QString &rev) { m_hwRev = rev; }
    QString softwareRevision() const { return m_swRev; }
    QString webServerRevision() const { return m_webRev; }
    int filamentLimitCode() const { return m_filamentLimit; }
    bool setFilamentLimitCode(int code);
    int baudCode() const { return m_baudCode; }
    bool passthrough() const { return m_passthrough; }
    int hours() const;
    void setHours(int hours);

    // Misbehaviour
    Faults faults() const { return m_faults; }
    void setFaults(const Faults &faults) { m_faults = faults; }
    void flood(qint64 bytes);  // junk without STX/ETX to every link
    qint64 floodPending() const;  // flood bytes not yet handed to a link
    // Answers 'command' ("19") with 'data' instead of the state's answer, framed as
    // usual; std::nullopt leaves that one command unanswered.
    void overrideReply(const QByteArray &command, std::optional<QByteArray> data);
    void clearOverrides() { m_overrides.clear(); }

    // Traffic
    void sendUnsolicitedStatus();
    void setStatusPeriodMs(int ms);  // 0 = off
    int statusPeriodMs() const;
    void sendRaw(const QByteArray &bytes);
    void dropConnections();
    void resetConnections();  // TCP: abort with a reset instead of an orderly close
    void closeSerial() { closePty(); }  // the pty vanishes, as a pulled USB adapter does

    const QList<TraceEntry> &trace() const { return m_trace; }
    void clearTrace() { m_trace.clear(); }
    int commandsHandled() const { return m_commandsHandled; }
    int badChecksums() const { return m_badChecksums; }

signals:
    void commandReceived(const QByteArray &payload);
    void badChecksumReceived(const QByteArray &payload);
    void replyEtxWritten(qint64 nsecsMonotonic);  // CLOCK_MONOTONIC, just after the write carrying ETX
    // Every whole frame received, checksum good or not: CLOCK_MONOTONIC just after the
    // read that brought its ETX, and the payload (checksum char still on, serial).
    void commandEtxRead(qint64 nsecsMonotonic, const QByteArray &frame);
    void clientConnected();
    void clientDisconnected();

private:
    struct Peer {
        Link link = Link::Tcp;
        QTcpSocket *socket = nullptr;
        QByteArray rx;
        bool inFrame = false;
        qint64 floodLeft = 0;
    };
    static constexpr int SerialPeer = 0;

    void acceptClients();
    void readTcp(int id);
    void readPty();
    void flushPty();
    void feed(int id, const QByteArray &bytes);
    void handleFrame(int id, const QByteArray &frame);
    QByteArray respond(const QByteArray &payload);
    QByteArray statusData() const;
    QByteArray frame(Link link, const QByteArray &body, bool withEtx = true) const;
    void sendReply(int id, const QByteArray &cmd, const QByteArray &data);
    void writeChunks(int id, const QByteArray &bytes, bool etxInLast, int size, int gapMs);
    void writeTo(int id, const QByteArray &bytes, bool carriesEtx);
    void pumpFlood(int id);
    qint64 backlog(int id) const;
    void closePty();

    QMap<int, Peer> m_peers;
    int m_nextId = 1;
    QTcpServer *m_server = nullptr;

    int m_ptyMaster = -1;
    int m_ptySlave = -1;
    QSocketNotifier *m_ptyRead = nullptr;
    QSocketNotifier *m_ptyWrite = nullptr;
    QByteArray m_ptyOut;
    qint64 m_ptyQueued = 0;   // bytes ever queued / written, for locating ETX marks
    qint64 m_ptyWritten = 0;
    QList<qint64> m_ptyEtxMarks;
    QString m_ptyPath;
    QString m_ptyLink;

    QTimer *m_statusTimer = nullptr;
    QElapsedTimer m_clock;
    qint64 m_readNs = 0;   // when the bytes being fed were read
    QString m_error;

    std::array<int, 4> m_setpoints{};
    bool m_hv = false;
    bool m_interlockOpen = false;
    bool m_fault = false;
    std::array<bool, FlagCount> m_flags{};
    bool m_remote = false;
    QString m_family = QStringLiteral("PLV70");
    QString m_model = QStringLiteral("X0600");
    QString m_hwRev = QStringLiteral("A01");
    QString m_swRev = QStringLiteral("SW 8.0.1234");
    QString m_webRev = QStringLiteral("WEB 2.10.07");
    int m_filamentLimit = 1800;
    int m_baudCode = 1;
    bool m_passthrough = false;
    int m_hoursBase = 1234;
    qint64 m_hvOnMs = 0;
    QElapsedTimer m_hvSince;
    quint32 m_jitterStep = 0;

    Faults m_faults;
    QMap<QByteArray, std::optional<QByteArray>> m_overrides;
    QList<TraceEntry> m_trace;
    int m_commandsHandled = 0;
    int m_badChecksums = 0;
};
