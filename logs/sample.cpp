#include "logs/sample.h"

#include "logs/formatting.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cmath>

namespace plv::logs {

namespace {

void addNumber(QString &line, const std::optional<double> &v)
{
    line += QLatin1Char(',');
    // QString::number ignores the locale; shortest digits that read back as the value.
    if (v && std::isfinite(*v))
        line += QString::number(*v, 'f', QLocale::FloatingPointShortest);
}

void addInt(QString &line, const std::optional<int> &v)
{
    line += QLatin1Char(',');
    if (v)
        line += QString::number(*v);
}

void addFlag(QString &line, const std::optional<bool> &v)
{
    line += QLatin1Char(',');
    if (v)
        line += *v ? QLatin1Char('1') : QLatin1Char('0');
}

} // namespace

QString sampleCsvHeader()
{
    return QStringLiteral("time_iso8601,local_time,kv_kV,ma_mA,filament_A,supply_minus15_V,converter_a_counts,"
                          "converter_b_counts,kv_set_kV,ma_set_mA,filament_limit_A,filament_preheat_A,rating,"
                          "hv_on,interlock_closed,fault,remote,arc_flag,temp_flag,over_voltage_flag,"
                          "under_voltage_flag,over_current_flag,under_current_flag");
}

QString sampleCsvRow(const Sample &s)
{
    QString line;
    line.reserve(160);
    if (s.time.isValid())
        line += isoTime(s.time);
    line += QLatin1Char(',');
    if (s.time.isValid())
        line += spreadsheetTime(s.time.toMSecsSinceEpoch());
    addNumber(line, s.kV);
    addNumber(line, s.mA);
    addNumber(line, s.filamentA);
    addNumber(line, s.supplyMinus15V);
    addInt(line, s.converterA);
    addInt(line, s.converterB);
    addNumber(line, s.kVSetpoint);
    addNumber(line, s.mASetpoint);
    addNumber(line, s.filamentLimitA);
    addNumber(line, s.filamentPreheatA);
    line += QLatin1Char(',');
    if (s.rating)
        appendCsvField(line, *s.rating);
    addFlag(line, s.hvOn);
    addFlag(line, s.interlockClosed);
    addFlag(line, s.fault);
    addFlag(line, s.remote);
    addFlag(line, s.arc);
    addFlag(line, s.overTemperature);
    addFlag(line, s.overVoltage);
    addFlag(line, s.underVoltage);
    addFlag(line, s.overCurrent);
    addFlag(line, s.underCurrent);
    return line;
}

SampleRecorder::SampleRecorder(QObject *parent)
    : QObject(parent), m_header((sampleCsvHeader() + QStringLiteral("\r\n")).toUtf8())
{
    connect(&m_writer, &LineWriter::failed, this, [this](const QString &, const QString &reason) {
        m_error = reason;
        emit writeFailed(reason);
    });
    connect(&m_writer, &LineWriter::recovered, this, &SampleRecorder::writeRecovered);
}

QString SampleRecorder::fileTaking(const QString &path) const
{
    // Rows go only under their own header: a file begun with other columns (an older
    // console, another program) is left as it is, and the next numbered name that is
    // new, empty or has the same header takes them.
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (int n = 0; n < 1000; ++n) {
        const QString candidate =
            n == 0 ? path : info.dir().filePath(QStringLiteral("%1-%2%3").arg(info.completeBaseName()).arg(n).arg(suffix));
        QFile f(candidate);
        if (!f.exists() || f.size() == 0)
            return candidate;
        if (f.open(QIODevice::ReadOnly) && f.readLine(m_header.size() + 1).trimmed() == m_header.trimmed())
            return candidate;
    }
    return path;
}

bool SampleRecorder::start(const QString &chosen)
{
    const QString path = fileTaking(chosen);
    // Tried here, once, so the operator hears at once about a file that cannot be written;
    // the rows themselves never wait for the disk.
    QFile probe(path);
    if (!probe.open(LineWriter::appendMode(path))) {
        m_error = probe.errorString();
        return false;
    }
    probe.close();
    const bool was = isRecording();
    if (was)
        m_writer.closeFile();
    m_path = path;
    m_rows = 0;
    m_error.clear();
    m_writer.append(m_path, {}, m_header);
    if (!was)
        emit recordingChanged(true);
    return true;
}

void SampleRecorder::stop()
{
    if (!isRecording())
        return;
    m_writer.closeFile();
    m_path.clear();
    emit recordingChanged(false);
}

void SampleRecorder::record(const Sample &sample)
{
    if (!isRecording())
        return;
    // The header again: after a failure the file is opened anew and may be new by then.
    m_writer.append(m_path, (sampleCsvRow(sample) + QStringLiteral("\r\n")).toUtf8(), m_header);
    ++m_rows;
}

} // namespace plv::logs
