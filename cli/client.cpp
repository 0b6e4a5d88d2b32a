#include "cli/client.h"

#include "link/session.h"
#include "link/tesselclient.h"
#include "protocol/framing.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <utility>
#include <sys/socket.h>
#include <unistd.h>

namespace plv::cli {

const QStringList kStatusColumns = {"hv_on",           "interlock_closed",   "fault",
                                    "remote",          "arc_flag",           "temp_flag",
                                    "over_voltage_flag", "under_voltage_flag", "over_current_flag",
                                    "under_current_flag"};

namespace {

using Step = UpdateCycle::Step;

const QStringList kReadbackColumns = {"kv_kV", "ma_mA", "filament_A", "supply_minus15_V",
                                      "converter_a_counts", "converter_b_counts", "rating"};
const QStringList kSetpointColumns = {"kv_set_kV", "ma_set_mA", "filament_limit_A", "filament_preheat_A"};

// False with errno set when standard output no longer takes it (closed pipe, full disk).
bool writeOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size())
        && std::fflush(stdout) == 0;
}

QString jsonString(const QString &s)
{
    QString out = QStringLiteral("\"");
    for (const QChar ch : s) {
        if (ch == QLatin1Char('"') || ch == QLatin1Char('\\'))
            out += QLatin1Char('\\') + ch;
        else if (ch.unicode() < 0x20)
            out += QStringLiteral("\\u%1").arg(int(ch.unicode()), 4, 16, QLatin1Char('0'));
        else
            out += ch;
    }
    return out + QLatin1Char('"');
}

bool isJsonNumber(const QString &s)
{
    static const QRegularExpression number(QStringLiteral("^-?(0|[1-9][0-9]*)(\\.[0-9]+)?$"));
    return number.match(s).hasMatch();
}

// Ctrl-C and SIGTERM end a watch between samples: the handler only wakes the event loop.
int g_signalPipe[2] = {-1, -1};
void onSignal(int sig)
{
    const char c = char(sig);
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

std::mutex g_sayLock;   // the gateway's units say things from their own threads

} // namespace

QString setpointColumn(Channel c) { return kSetpointColumns[int(c) & 3]; }

QString unitOfKey(const QString &key)
{
    static const QStringList units = {"kV", "mA", "A", "V", "counts", "h"};
    const QString last = key.section(QLatin1Char('_'), -1);
    return key.contains(QLatin1Char('_')) && units.contains(last) ? last : QString();
}

QString textLines(const QList<Field> &fields)
{
    QString out;
    for (const Field &f : fields) {
        const QString unit = unitOfKey(f.key);
        out += f.key + QStringLiteral(": ")
            + (f.value.isEmpty() ? QStringLiteral("unknown") : unit.isEmpty() ? f.value : f.value + QLatin1Char(' ') + unit)
            + QLatin1Char('\n');
    }
    return out;
}

QString jsonObject(const QList<Field> &fields)
{
    QStringList parts;
    for (const Field &f : fields) {
        const QString v = f.value.isEmpty()                        ? QStringLiteral("null")
                          : !f.text && isJsonNumber(f.value) ? f.value
                                                                   : jsonString(f.value);
        parts << jsonString(f.key) + QLatin1Char(':') + v;
    }
    return QLatin1Char('{') + parts.join(QLatin1Char(',')) + QStringLiteral("}\n");
}

QList<Field> sampleFields(const logs::Sample &sample, const QStringList &columns)
{
    // The recording's own header and row: no field of them holds a comma (numbers, 1/0,
    // an ISO time and a rating name), so they split plainly.
    const QStringList header = logs::sampleCsvHeader().split(QLatin1Char(','));
    const QStringList row = logs::sampleCsvRow(sample).split(QLatin1Char(','));
    QList<Field> out;
    for (const QString &name : columns) {
        const qsizetype i = header.indexOf(name);
        out.append({name, i >= 0 ? row.value(i) : QString()});
    }
    return out;
}

Client::Client(const Options &options)
    : m_o(options), m_askedRating(options.rating), m_session(new Session(&m_root)), m_unit(*m_session),
      m_mApc(milliampsPerCount(*options.rating))
{
    connect(m_session, &Session::txFrame, this, [this](const QByteArray &frame) {
        // Frame without STX, ETX and (serial, USB) the checksum character: the command.
        QByteArray p = frame.mid(1, frame.size() - 2);
        if (!m_session->isEthernet())
            p.chop(1);
        m_lastSent = p;
    });
    m_builder.setFactors({options.rating->voltsPerCount, m_mApc});
    connect(&m_unit, &Unit::replied, this, &Client::onReply);
}

Client::~Client()
{
    m_session->end();
    for (auto kind : {Session::LinkKind::Serial, Session::LinkKind::Ethernet, Session::LinkKind::Usb})
        if (m_session->link(kind).isOpen())
            m_session->link(kind).close();
}

void Client::say(const QString &message) const
{
    const QByteArray line = QStringLiteral("plvctl: %1: %2\n").arg(m_o.linkName(), message).toLocal8Bit();
    const std::lock_guard<std::mutex> lock(g_sayLock);
    std::cerr << line.constData() << std::flush;
}

void Client::onReply(const Reply &reply)
{
    m_lastReply = reply;
    m_builder.take(reply);
    if (m_mqtt)
        tellHealth(reply.answered());
    if (reply.answered()) {
        if (m_silent && m_quietTimeouts)
            say(QStringLiteral("the unit answers again"));
        m_silent = false;
        // A query answered with a lone "1" or "2": no value, and said so. Commands that
        // act are judged by their answer where they are run.
        if (reply.outcome == ReplyOutcome::Refused && reply.asksForData) {
            ++m_refusals;
            say(QStringLiteral("the unit refused %1 (answered %2)")
                    .arg(QString::fromLatin1(m_lastSent), renderFrame(QByteArray(1, reply.answer))));
        }
        return;
    }
    ++m_timeouts;
    if (!m_silent || !m_quietTimeouts)
        say(QStringLiteral("no reply to %1 within %2 ms%3")
                .arg(QString::fromLatin1(m_lastSent))
                .arg(m_session->isUsb() ? Session::kUsbTimeoutMs : m_session->replyTimeoutMs())
                .arg(reply.frame.isEmpty() ? QString() : QStringLiteral(" (incomplete: %1)").arg(renderFrame(reply.frame))));
    m_silent = true;
}

std::optional<bool> Client::accepted(char answer)
{
    if (answer == '$')
        return true;
    if (answer == '\0' && m_silent)
        return std::nullopt;   // no reply: named already
    ++m_refusals;
    say(QStringLiteral("the unit refused %1 (answered %2)")
            .arg(QString::fromLatin1(m_lastSent), answer ? renderFrame(QByteArray(1, answer)) : QStringLiteral("nothing usable")));
    return false;
}

int Client::verdict() const
{
    return m_writeFailed ? WriteFailed : m_timeouts ? NoReply : m_refusals ? Refused : Done;
}

bool Client::print(const QString &text)
{
    if (m_writeFailed || writeOut(text))
        return !m_writeFailed;
    m_writeFailed = true;
    say(QStringLiteral("cannot write to standard output: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    return false;
}

void Client::print(const QList<Field> &fields) { print(m_o.json ? jsonObject(fields) : textLines(fields)); }

logs::Sample Client::freshSample() const
{
    logs::Sample s;
    s.rating = ratingName(*m_o.rating);
    return s;
}

logs::Sample Client::takeSample() { return m_builder.finish(m_wall.now(), ratingName(*m_o.rating)); }

QString Client::lastText() const
{
    return m_lastReply.isData() ? QString::fromLatin1(m_lastReply.text) : QString();
}

bool Client::openLink()
{
    if (m_o.timeoutMs)
        m_session->setReplyTimeoutMs(*m_o.timeoutMs);
    switch (m_o.link) {
    case LinkType::Tcp: {
        Session::LinkTarget target;
        target.host = m_o.host;
        target.port = m_o.port;
        const auto link = m_session->useLink(LinkKind::Ethernet, target);
        if (!link.open)
            say(QStringLiteral("cannot connect: %1").arg(link.error));
        return link.open;
    }
    case LinkType::Serial: {
        Session::LinkTarget target;
        target.device = m_o.serialDevice;
        target.settings = QStringLiteral("%1,n,8,1").arg(m_o.baud);
        const auto link = m_session->useLink(LinkKind::Serial, target);
        if (!link.open)
            say(QStringLiteral("cannot open: %1").arg(link.error));
        return link.open;
    }
    case LinkType::Usb: {
        QString error;
        auto bridge = loadTessel(&error);
        if (!bridge) {
            say(QStringLiteral("the USB bridge library could not be loaded: %1").arg(error));
            return false;
        }
        m_session->usb().setClient(std::move(bridge));
        const auto link = m_session->useLink(LinkKind::Usb);
        if (!link.open)
            say(QStringLiteral("no USB unit found"));
        return link.open;
    }
    case LinkType::None: break;
    }
    return false;
}

bool Client::confirmHvOn()
{
    if (m_o.yes)
        return true;
    if (!::isatty(STDIN_FILENO)) {
        say(QStringLiteral("hv on needs --yes when standard input is not a terminal: nothing sent"));
        return false;
    }
    std::cerr << "Switch high voltage ON at " << qPrintable(m_o.linkName()) << "? [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer == "y" || answer == "Y" || answer == "yes")
        return true;
    say(QStringLiteral("not confirmed: nothing sent"));
    return false;
}

int Client::run()
{
    // Everything that can be refused without the unit is refused before the link opens:
    // a count that no rating the unit could name would change (a raw count, a filament
    // channel, a rating typed, which the unit can only refuse).
    if (m_o.command == Command::Set
        && (m_o.counts || m_o.ratingGiven || m_o.channel == Channel::C || m_o.channel == Channel::D)) {
        const SetCount c = setpointCount(m_o);
        if (!c.count) {
            say(c.error);
            return OutOfRange;
        }
    }
    if (m_o.command == Command::Hv && m_o.on && !confirmHvOn())
        return Usage;
    if (m_o.command == Command::Publish)
        return publish();   // its own files first, and a unit away at start is waited for
    if (!openLink())
        return NoLink;
    if (converts(m_o.command) && !checkRating())
        return Usage;

    switch (m_o.command) {
    case Command::Status:
    case Command::Readbacks:
    case Command::Setpoints:
    case Command::Info:
    case Command::Hours: return query();
    case Command::Set: return set();
    case Command::Hv:
    case Command::Remote:
    case Command::ResetFaults: return action();
    case Command::Shutdown: return shutdown();
    case Command::Watch: return watch();
    case Command::Publish: break;
    }
    return Usage;
}

void Client::readStatus()
{
    m_unit.readMainStatus();
    m_unit.readFaultFlags();
}

int Client::query()
{
    takeSample();   // nothing from before this command
    QList<Field> out;
    switch (m_o.command) {
    case Command::Status:
        readStatus();
        out = sampleFields(takeSample(), kStatusColumns);
        break;
    case Command::Readbacks:
        m_unit.readMonitors();
        m_unit.readSupplies();
        out = sampleFields(takeSample(), kReadbackColumns);
        break;
    case Command::Setpoints:
        for (Channel c : {Channel::A, Channel::B, Channel::C, Channel::D})
            m_unit.readSetpoint(c);
        out = sampleFields(takeSample(), kSetpointColumns + QStringList{QStringLiteral("rating")});
        break;
    case Command::Info: {
        const std::pair<const char *, Identity> items[] = {{"model_number", Identity::ModelNumber},
                                                           {"web_revision", Identity::WebRevision},
                                                           {"software_revision", Identity::SoftwareRevision},
                                                           {"hardware_revision", Identity::HardwareRevision}};
        for (const auto &[key, item] : items) {
            m_unit.readIdentity(item);
            out.append({QLatin1String(key), lastText(), true});
        }
        break;
    }
    case Command::Hours:
        m_unit.readHours();
        out.append({QStringLiteral("total_hours_h"), hoursText()});
        break;
    default: break;
    }
    print(out);
    return verdict();
}

int Client::set()
{
    const SetCount c = setpointCount(m_o);   // under the rating the unit confirmed
    if (!c.count) {
        say(c.error);
        return OutOfRange;
    }
    const int count = *c.count;
    const TryOut r = m_unit.tryOut(m_o.channel, count);
    const auto yes = accepted(r.status);
    takeSample();
    if (yes.has_value())   // what the unit holds now, accepted or not
        m_unit.readSetpoint(m_o.channel);
    QList<Field> out{{QStringLiteral("sent_counts"), QString::number(count)}};
    out += sampleFields(takeSample(), {setpointColumn(m_o.channel)});
    print(out);
    return verdict();
}

int Client::action()
{
    char answer = '\0';
    if (m_o.command == Command::Hv)
        answer = m_unit.switchHv(m_o.on);
    else if (m_o.command == Command::Remote)
        answer = m_unit.setRemote(m_o.on);
    else
        answer = m_unit.resetFaults();
    const auto yes = accepted(answer);
    print({{QStringLiteral("accepted"), yes ? QString::number(int(*yes)) : QString()}});
    return verdict();
}

int Client::shutdown()
{
    // The console's Shutdown and Exit, in its order, but every reply awaited.
    QList<Field> out;
    const char *keys[] = {"local_control", "kv_set_zero", "ma_set_zero", "filament_limit_zero",
                          "filament_preheat_zero"};
    for (const ShutdownStep step : kShutdownSteps) {
        const auto yes = accepted(m_unit.shutdownStep(step, true));
        out.append({QLatin1String(keys[int(step)]), yes ? QString::number(int(*yes)) : QString()});
    }
    print(out);
    return verdict();
}

bool Client::checkRating()
{
    const auto model = m_unit.readIdentity(Identity::ModelNumber);
    const QString text = model ? QString::fromLatin1(*model).trimmed() : QString();
    if (model)
        m_info[0] = QString::fromLatin1(*model);
    // Against what was asked for, not what an earlier unit on this link gave.
    Options asked = m_o;
    asked.rating = m_askedRating;
    const UnitRating u = ratingFromModel(asked, text);
    if (!u.rating) {
        if (m_ratingMismatch != u.error)
            say(u.error + (m_mqtt ? QStringLiteral(": setpoints refused, readbacks not converted")
                                  : QStringLiteral(": nothing sent")));
        m_ratingMismatch = u.error;
        m_ratingChecked = false;
        return false;
    }
    if (!u.checked && (m_ratingChecked || m_samples == 0))
        say(QStringLiteral("the rating could not be checked against the unit (model number %1): converting under %2")
                .arg(model ? QStringLiteral("'%1'").arg(text) : QStringLiteral("not read"), ratingName(*u.rating)));
    m_ratingMismatch.clear();
    m_ratingChecked = u.checked;
    m_o.rating = u.rating;
    m_mApc = milliampsPerCount(*u.rating);
    m_builder.setFactors({u.rating->voltsPerCount, m_mApc});
    return true;
}

void Client::identity(Identity item, int slot)
{
    m_unit.readIdentity(item);
    if (m_lastReply.isData())
        m_info[slot] = lastText();
}

QString Client::hoursText() const
{
    // A number as numbers are printed everywhere else; anything else as the unit sent it.
    if (const auto n = m_lastReply.isData() ? m_lastReply.number(0) : std::nullopt)
        return QString::number(*n, 'f', QLocale::FloatingPointShortest);
    return lastText().trimmed();
}

void Client::runStep(Step step)
{
    if (m_stopping || m_linkDown)
        return;   // a tick already under way when the link went sends nothing
    if (m_mqtt) {
        runNextRequest();   // between two steps of the cycle, never inside one
        if (m_stopping || m_linkDown)
            return;
    }
    switch (step) {
    case Step::Monitors:
        // A cycle starts here: what the last one read does not carry over.
        m_builder.clear();
        m_unit.readMonitors();
        break;
    case Step::SetpointA: m_unit.readSetpoint(Channel::A); break;
    case Step::SetpointB: m_unit.readSetpoint(Channel::B); break;
    case Step::SetpointC: m_unit.readSetpoint(Channel::C); break;
    case Step::SetpointD: m_unit.readSetpoint(Channel::D); break;
    case Step::Status: readStatus(); break;
    case Step::PollHours:
    case Step::Hours:
        m_unit.readHours();
        if (m_lastReply.isData() && m_lastReply.number(0))
            m_info[4] = hoursText();
        break;
    case Step::Supplies: m_unit.readSupplies(); break;
    case Step::WebRevision: identity(Identity::WebRevision, 1); break;
    case Step::HardwareRevision: identity(Identity::HardwareRevision, 3); break;
    case Step::ModelNumber: identity(Identity::ModelNumber, 0); break;
    case Step::SoftwareRevision: identity(Identity::SoftwareRevision, 2); break;
    }
    if (m_mqtt && (step == Step::Hours || step == Step::SoftwareRevision))
        publishInfo(false);
}

void Client::completeSample()
{
    if (m_stopping || std::exchange(m_lostInCycle, false))
        return;
    m_sample = takeSample();
    if (m_mqtt) {
        publishSample();
        return;
    }
    const QStringList columns = logs::sampleCsvHeader().split(QLatin1Char(','));
    if (!print(m_o.json ? jsonObject(sampleFields(m_sample, columns)) : logs::sampleCsvRow(m_sample) + QLatin1Char('\n'))) {
        stop(WriteFailed);
        return;
    }
    ++m_samples;
    if (m_o.sampleCount && m_samples >= *m_o.sampleCount)
        stop();
}

void Client::stop(int code)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_exitCode = code;
    if (m_mqtt)
        sayGoodbye();
    m_session->end();   // a reply wait in progress returns at once
    if (m_onStop)
        m_onStop(code);
    else
        QCoreApplication::exit(code);
}

void catchSignals(QObject *owner, std::initializer_list<int> numbers, const std::function<void(int)> &handler)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, owner);
        QObject::connect(notifier, &QSocketNotifier::activated, owner, [handler] {
            char c;
            if (::read(g_signalPipe[0], &c, 1) == 1)
                handler(int(c));
        });
        struct sigaction sa = {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int sig : numbers)
            sigaction(sig, &sa, nullptr);
    }
}

void Client::catchSignals()
{
    cli::catchSignals(&m_root, {SIGINT, SIGTERM}, [this](int) { stop(); });
}

int Client::watch()
{
    m_quietTimeouts = true;
    if (!m_o.json && !print(logs::sampleCsvHeader() + QLatin1Char('\n')))
        return WriteFailed;
    catchSignals();
    watchLink();
    startCycle();
    const int code = QCoreApplication::exec();
    return m_stopping ? m_exitCode : code;
}

} // namespace plv::cli
