#pragma once
// One sample is one completed update cycle of the console: the latest value of each
// readback, empty where that cycle's query failed. The recording, the trends and any
// other CSV consumer share these columns and this header.
#include "logs/linewriter.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <optional>

namespace plv::logs {

struct Sample {
    QDateTime time;
    std::optional<double> kV;               // output voltage monitor
    std::optional<double> mA;               // output current monitor
    std::optional<double> filamentA;        // filament current monitor
    std::optional<double> supplyMinus15V;   // the -15 V supply
    std::optional<int> converterA;          // the two converter channels, raw counts
    std::optional<int> converterB;
    std::optional<double> kVSetpoint;       // the programmed setpoints, engineering units
    std::optional<double> mASetpoint;
    std::optional<double> filamentLimitA;
    std::optional<double> filamentPreheatA;
    std::optional<QString> rating;
    std::optional<bool> hvOn;
    std::optional<bool> interlockClosed;
    std::optional<bool> fault;
    std::optional<bool> remote;
    std::optional<bool> arc;                // the six fault flags
    std::optional<bool> overTemperature;
    std::optional<bool> overVoltage;
    std::optional<bool> underVoltage;
    std::optional<bool> overCurrent;
    std::optional<bool> underCurrent;
};

// The header row: each column's name carries its unit ("kv_kV"); yes/no columns are 1 or 0.
QString sampleCsvHeader();
// One row: ISO 8601 time with its UTC offset, the same local time as spreadsheets read
// it (local_time, "2024-05-01 12:34:56.789"), numbers with a '.' whatever the locale and
// as many digits as the value needs, an empty field for a missing value. Neither ends in
// a line break.
QString sampleCsvRow(const Sample &sample);
constexpr int SampleCsvColumns = 23;

// Appends samples to a CSV file, one row each. The header goes only into a new or empty
// file; every row is handed to the kernel at once, so a console that is killed leaves a
// valid file up to its last row. Lines end in CR LF, as RFC 4180 has them.
class SampleRecorder : public QObject {
    Q_OBJECT
public:
    explicit SampleRecorder(QObject *parent = nullptr);

    // Starts appending to `path`, replacing any earlier file; to "name-1.csv" and so on
    // instead when `path` holds other columns (path() says which). False, with
    // errorString(), when the file cannot be opened for appending.
    bool start(const QString &path);
    void stop();
    bool isRecording() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

    void record(const Sample &sample);   // ignored when not recording
    qint64 rowsRecorded() const { return m_rows; }
    // Waits until every row so far is on disk or has failed; for tests and shutdown.
    bool waitForWritten(int msecs) { return m_writer.waitForIdle(msecs); }

signals:
    void recordingChanged(bool recording);
    // Once when rows cannot be written, and again only after a row got through.
    void writeFailed(const QString &reason);
    void writeRecovered();

private:
    QString fileTaking(const QString &path) const;

    const QByteArray m_header;
    QString m_path;
    QString m_error;
    qint64 m_rows = 0;
    LineWriter m_writer;
};

} // namespace plv::logs
