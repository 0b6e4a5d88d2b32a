#include "cli/options.h"

#include "health/ratingcheck.h"
#include "protocol/entries.h"

#include <QRegularExpression>

#include <algorithm>

namespace plv::cli {

namespace {

struct CommandWord {
    const char *word;
    Command command;
};
const CommandWord kCommands[] = {
    {"status", Command::Status},   {"readbacks", Command::Readbacks},     {"setpoints", Command::Setpoints},
    {"info", Command::Info},       {"hours", Command::Hours},             {"set", Command::Set},
    {"hv", Command::Hv},           {"remote", Command::Remote},           {"reset-faults", Command::ResetFaults},
    {"shutdown", Command::Shutdown}, {"watch", Command::Watch},     {"publish", Command::Publish},
};

// Options that take a value, in either "--opt VALUE" or "--opt=VALUE" form.
const QStringList kValued = {"--tcp", "--serial", "--baud", "--build", "--rating", "--timeout", "--interval", "--count",
                             "--broker", "--topic", "--user", "--password-file", "--tls-ca", "--reconnect-max"};
const QStringList kFlags = {"--usb", "--json", "--counts", "--yes", "--csv", "--help", "-h", "--version",
                            "--commands", "--allow-hv-on", "--per-value", "--health", "--ha-discovery"};

std::optional<int> wholeNumber(const QString &text, int min, int max)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const int v = text.toInt();
    if (v < min || v > max)
        return std::nullopt;
    return v;
}

bool parseTcp(const QString &text, Options &o, QString &error)
{
    QString host = text, port;
    if (text.startsWith(QLatin1Char('['))) {   // [::1]:5025
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0) {
            error = QStringLiteral("--tcp: no closing ']' in %1").arg(text);
            return false;
        }
        host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (rest.startsWith(QLatin1Char(':')))
            port = rest.mid(1);
        else if (!rest.isEmpty()) {
            error = QStringLiteral("--tcp: unexpected text after ']' in %1").arg(text);
            return false;
        }
    } else if (text.count(QLatin1Char(':')) == 1) {   // more than one: a bare IPv6 address
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    if (host.isEmpty()) {
        error = QStringLiteral("--tcp: no host in '%1'").arg(text);
        return false;
    }
    o.host = host;
    if (!port.isNull()) {
        const Checked<quint16> p = parseTcpPort(port);
        if (!p.value) {
            error = QStringLiteral("--tcp: '%1' is not a port number (1-65535)").arg(port);
            return false;
        }
        o.port = *p.value;
    }
    return true;
}

bool setLink(Options &o, LinkType type, QString &error)
{
    if (o.link != LinkType::None) {
        error = QStringLiteral("choose one link: --tcp, --serial or --usb");
        return false;
    }
    o.link = type;
    return true;
}

// A root, not a filter: no wildcards, no empty levels, not starting with '$'.
bool isTopicRoot(const QString &t)
{
    return !t.contains(QLatin1Char('+')) && !t.contains(QLatin1Char('#')) && !t.startsWith(QLatin1Char('$'))
        && !t.split(QLatin1Char('/')).contains(QString()) && !t.contains(QChar(0));
}

bool parsePublish(Options &o, const QString &broker, const QString &topic, const QString &reconnect, QString &error)
{
    static const QRegularExpression url(QStringLiteral("^(mqtts?)://([^:/\\[\\]]+|\\[[0-9a-fA-F:.]+\\])(:([0-9]+))?/?$"));
    const auto m = url.match(broker);
    if (broker.isEmpty() || !m.hasMatch()) {
        error = broker.isEmpty() ? QStringLiteral("publish needs --broker mqtt://HOST[:PORT]")
                                 : QStringLiteral("--broker: '%1' is not mqtt://HOST[:PORT] or mqtts://HOST[:PORT]").arg(broker);
        return false;
    }
    o.brokerTls = m.captured(1) == QLatin1String("mqtts") || !o.tlsCa.isEmpty();
    o.brokerHost = m.captured(2).remove(QLatin1Char('[')).remove(QLatin1Char(']'));
    o.brokerPort = o.brokerTls ? 8883 : 1883;
    if (!m.captured(4).isEmpty()) {
        const Checked<quint16> port = parseTcpPort(m.captured(4));
        if (!port.value) {
            error = QStringLiteral("--broker: '%1' is not a port number (1-65535)").arg(m.captured(4));
            return false;
        }
        o.brokerPort = *port.value;
    }
    // No default: two publishers left on one root would both act on every request.
    if (topic.isEmpty()) {
        error = QStringLiteral("publish needs --topic ROOT, one per unit, such as plv/line1-unit3");
        return false;
    }
    o.topic = topic;
    if (!isTopicRoot(o.topic)) {
        error = QStringLiteral("--topic: '%1' is not a topic root such as plv/line1-unit3").arg(topic);
        return false;
    }
    if (!o.haPrefix.isEmpty() && !isTopicRoot(o.haPrefix)) {
        error = QStringLiteral("--ha-discovery: '%1' is not a topic prefix such as homeassistant").arg(o.haPrefix);
        return false;
    }
    if (!o.passwordFile.isEmpty() && o.user.isEmpty()) {
        error = QStringLiteral("--password-file needs --user");
        return false;
    }
    if (o.allowHvOn && !o.commands) {
        error = QStringLiteral("--allow-hv-on is for --commands only");
        return false;
    }
    if (!reconnect.isEmpty()) {
        const auto v = wholeNumber(reconnect, 100, 30000);
        if (!v) {
            error = QStringLiteral("--reconnect-max: '%1' is not a time in milliseconds (100-30000)").arg(reconnect);
            return false;
        }
        o.reconnectMaxMs = *v;
    }
    return true;
}

} // namespace

QString Options::linkName() const
{
    switch (link) {
    case LinkType::Tcp:
        return QStringLiteral("tcp %1:%2")
            .arg(host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host)
            .arg(port);
    case LinkType::Serial: return QStringLiteral("serial %1").arg(serialDevice.isEmpty() ? serialEntry : serialDevice);
    case LinkType::Usb: return QStringLiteral("usb");
    case LinkType::None: break;
    }
    return {};
}

QString ratingName(const Rating &r) { return QStringLiteral("%1kV%2W").arg(r.kV).arg(r.watts); }

const Rating *findRating(const BuildData &build, const QString &name)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,4})kv([0-9]{1,5})w$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto m = form.match(name.trimmed());
    if (!m.hasMatch())
        return nullptr;
    return build.find(m.captured(1).toInt(), m.captured(2).toInt());
}

UnitRating ratingFromModel(const Options &o, const QString &model)
{
    const auto kVOf = [&](const BuildData &b) {
        return RatingCheck::unitKvFromModel(model, b.id.toUpper(), QList<int>(b.kVs.begin(), b.kVs.end()));
    };
    const BuildData &other = o.build == &plvBuild() ? plrBuild() : plvBuild();
    const auto own = kVOf(*o.build);
    if (!own) {
        const auto theirs = kVOf(other);
        if (!theirs)
            return {o.rating, false, {}};
        return {nullptr, false,
                QStringLiteral("the unit's model number %1 names a %2 unit of %3 kV, but %4 is of the %5 line (give --build %6)")
                    .arg(model, other.id.toUpper())
                    .arg(*theirs)
                    .arg(o.buildGiven ? QStringLiteral("--build %1").arg(o.build->id)
                                      : QStringLiteral("the default build %1").arg(o.build->id),
                         o.build->id.toUpper(), other.id)};
    }
    if (o.ratingGiven && *own != o.rating->kV)
        return {nullptr, false,
                QStringLiteral("the unit's model number %1 names %2 kV, but --rating %3 is %4 kV")
                    .arg(model)
                    .arg(*own)
                    .arg(ratingName(*o.rating))
                    .arg(o.rating->kV)};
    return {o.build->find(*own, o.rating->watts), true, {}};
}

bool converts(Command c)
{
    return c == Command::Readbacks || c == Command::Setpoints || c == Command::Set || c == Command::Watch
        || c == Command::Publish;
}

QString channelWord(Channel c)
{
    static const char *const words[] = {"kv", "ma", "fil-limit", "fil-preheat"};
    return QLatin1String(words[int(c) & 3]);
}

QString channelUnit(Channel c)
{
    static const char *const units[] = {"kV", "mA", "A", "A"};
    return QLatin1String(units[int(c) & 3]);
}

Parsed parseArguments(const QStringList &args)
{
    Parsed p;
    Options &o = p.options;
    QString &error = p.error;
    QStringList positional;
    QString buildName = QStringLiteral("plv"), ratingText, timeoutText, intervalText, countText, baudText;
    QString brokerText, topicText, reconnectText;
    QStringList seen;   // command options given, checked against the command below

    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        if (!arg.startsWith(QLatin1String("--")) && arg != QLatin1String("-h")) {
            positional << arg;   // also "-5": a value, refused later as out of range
            continue;
        }
        QString value;
        bool hasValue = false;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('=')); eq > 0) {
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasValue = true;
        }
        if (kValued.contains(arg)) {
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    error = QStringLiteral("%1 needs a value").arg(arg);
                    return p;
                }
                value = args[++i];
            }
        } else if (!kFlags.contains(arg)) {
            error = QStringLiteral("unknown option %1").arg(arg);
            return p;
        } else if (hasValue && arg != QLatin1String("--ha-discovery")) {
            error = QStringLiteral("%1 takes no value").arg(arg);
            return p;
        }
        seen << arg;

        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            o.help = true;
        } else if (arg == QLatin1String("--version")) {
            o.version = true;
        } else if (arg == QLatin1String("--tcp")) {
            if (!setLink(o, LinkType::Tcp, error) || !parseTcp(value, o, error))
                return p;
        } else if (arg == QLatin1String("--serial")) {
            if (!setLink(o, LinkType::Serial, error))
                return p;
            o.serialEntry = value;
            const Checked<QString> dev = parseSerialPortEntry(value);
            if (!dev.value) {
                error = QStringLiteral("--serial: '%1' names no serial port (a number, a name such as ttyUSB0, or a path)")
                            .arg(value);
                return p;
            }
            o.serialDevice = *dev.value;
        } else if (arg == QLatin1String("--usb")) {
            if (!setLink(o, LinkType::Usb, error))
                return p;
        } else if (arg == QLatin1String("--baud")) {
            baudText = value;
        } else if (arg == QLatin1String("--build")) {
            buildName = value;
            o.buildGiven = true;
        } else if (arg == QLatin1String("--rating")) {
            ratingText = value;
            o.ratingGiven = true;
        } else if (arg == QLatin1String("--json")) {
            o.json = true;
        } else if (arg == QLatin1String("--timeout")) {
            timeoutText = value;
        } else if (arg == QLatin1String("--interval")) {
            intervalText = value;
        } else if (arg == QLatin1String("--count")) {
            countText = value;
        } else if (arg == QLatin1String("--counts")) {
            o.counts = true;
        } else if (arg == QLatin1String("--yes")) {
            o.yes = true;
        } else if (arg == QLatin1String("--csv")) {
            o.csv = true;
        } else if (arg == QLatin1String("--broker")) {
            brokerText = value;
        } else if (arg == QLatin1String("--topic")) {
            topicText = value;
        } else if (arg == QLatin1String("--user")) {
            o.user = value;
        } else if (arg == QLatin1String("--password-file")) {
            o.passwordFile = value;
        } else if (arg == QLatin1String("--tls-ca")) {
            o.tlsCa = value;
        } else if (arg == QLatin1String("--reconnect-max")) {
            reconnectText = value;
        } else if (arg == QLatin1String("--commands")) {
            o.commands = true;
        } else if (arg == QLatin1String("--allow-hv-on")) {
            o.allowHvOn = true;
        } else if (arg == QLatin1String("--per-value")) {
            o.perValue = true;
        } else if (arg == QLatin1String("--health")) {
            o.health = true;
        } else if (arg == QLatin1String("--ha-discovery")) {
            // The prefix is optional: "--ha-discovery=P", or the next word when it is
            // neither an option nor a command.
            const bool next = !hasValue && i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-'))
                              && std::none_of(std::begin(kCommands), std::end(kCommands),
                                              [&](const CommandWord &c) { return args[i + 1] == QLatin1String(c.word); });
            o.haPrefix = hasValue ? value : next ? args[++i] : QStringLiteral("homeassistant");
            if (o.haPrefix.isEmpty()) {
                error = QStringLiteral("--ha-discovery: an empty prefix; give none for homeassistant");
                return p;
            }
        }
    }
    if (o.help || o.version)
        return p;

    if (buildName == QLatin1String("plv"))
        o.build = &plvBuild();
    else if (buildName == QLatin1String("plr"))
        o.build = &plrBuild();
    else {
        error = QStringLiteral("--build: '%1' is neither plv nor plr").arg(buildName);
        return p;
    }
    o.rating = ratingText.isEmpty() ? &o.build->defaultRating() : findRating(*o.build, ratingText);
    if (!o.rating) {
        QStringList names;
        for (const Rating &r : o.build->ratings)
            names << ratingName(r);
        error = QStringLiteral("--rating: the %1 build has no rating '%2'; it has %3")
                    .arg(o.build->id, ratingText, names.join(QStringLiteral(", ")));
        return p;
    }

    if (o.link == LinkType::None) {
        error = QStringLiteral("no link: give --tcp HOST[:PORT], --serial N|NAME|PATH or --usb");
        return p;
    }
    if (!baudText.isEmpty()) {
        const auto b = wholeNumber(baudText, 50, 4000000);
        if (o.link != LinkType::Serial) {
            error = QStringLiteral("--baud is for --serial only");
            return p;
        }
        if (!b) {
            error = QStringLiteral("--baud: '%1' is not a line speed").arg(baudText);
            return p;
        }
        o.baud = *b;
    }
    if (!timeoutText.isEmpty()) {
        if (o.link == LinkType::Usb) {
            error = QStringLiteral("--timeout is for serial and TCP; the USB link keeps its own reply wait");
            return p;
        }
        const auto t = wholeNumber(timeoutText, 1, 3600000);
        if (!t) {
            error = QStringLiteral("--timeout: '%1' is not a time in milliseconds (1-3600000)").arg(timeoutText);
            return p;
        }
        o.timeoutMs = *t;
    }

    if (positional.isEmpty()) {
        error = QStringLiteral("no command");
        return p;
    }
    const QString word = positional.takeFirst();
    bool known = false;
    for (const CommandWord &c : kCommands) {
        if (word == QLatin1String(c.word)) {
            o.command = c.command;
            known = true;
        }
    }
    if (!known) {
        error = QStringLiteral("unknown command '%1'").arg(word);
        return p;
    }

    // Arguments of the command.
    auto onOff = [&](const QString &what) {
        if (positional.size() != 1 || (positional[0] != QLatin1String("on") && positional[0] != QLatin1String("off"))) {
            error = QStringLiteral("%1 takes on or off").arg(what);
            return false;
        }
        o.on = positional.takeFirst() == QLatin1String("on");
        return true;
    };
    switch (o.command) {
    case Command::Set: {
        if (positional.size() != 2) {
            error = QStringLiteral("set takes a channel (kv, ma, fil-limit, fil-preheat) and a value");
            return p;
        }
        bool found = false;
        for (Channel c : {Channel::A, Channel::B, Channel::C, Channel::D}) {
            if (positional[0] == channelWord(c)) {
                o.channel = c;
                found = true;
            }
        }
        if (!found) {
            error = QStringLiteral("set: unknown channel '%1' (kv, ma, fil-limit, fil-preheat)").arg(positional[0]);
            return p;
        }
        o.value = positional[1];
        static const QRegularExpression decimal(QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)$"));
        static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
        if (!(o.counts ? integer : decimal).match(o.value).hasMatch()) {
            error = o.counts ? QStringLiteral("set: '%1' is not a whole count").arg(o.value)
                             : QStringLiteral("set: '%1' is not a number in %2").arg(o.value, channelUnit(o.channel));
            return p;
        }
        positional.clear();
        break;
    }
    case Command::Hv:
        if (!onOff(QStringLiteral("hv")))
            return p;
        break;
    case Command::Remote:
        if (!onOff(QStringLiteral("remote")))
            return p;
        break;
    default:
        break;
    }
    if (!positional.isEmpty()) {
        error = QStringLiteral("unexpected argument '%1'").arg(positional.first());
        return p;
    }

    // Command options belong to their command.
    auto only = [&](const char *option, Command c, const char *command) {
        if (seen.contains(QLatin1String(option)) && o.command != c) {
            error = QStringLiteral("%1 is for %2 only").arg(QLatin1String(option), QLatin1String(command));
            return false;
        }
        return true;
    };
    if (!only("--counts", Command::Set, "set") || !only("--yes", Command::Hv, "hv on")
        || !only("--count", Command::Watch, "watch") || !only("--csv", Command::Watch, "watch"))
        return p;
    for (const char *opt : {"--broker", "--topic", "--user", "--password-file", "--tls-ca", "--reconnect-max",
                            "--commands", "--allow-hv-on", "--per-value", "--health", "--ha-discovery"})
        if (!only(opt, Command::Publish, "publish"))
            return p;
    if (seen.contains(QStringLiteral("--interval")) && o.command != Command::Watch && o.command != Command::Publish) {
        error = QStringLiteral("--interval is for watch and publish only");
        return p;
    }
    if (o.command == Command::Publish && !parsePublish(o, brokerText, topicText, reconnectText, error))
        return p;
    if (o.command == Command::Watch || o.command == Command::Publish) {
        if (o.csv && o.json) {
            error = QStringLiteral("watch prints CSV or JSON: give --csv or --json, not both");
            return p;
        }
        if (!intervalText.isEmpty()) {
            const auto v = wholeNumber(intervalText, 1, 3600000);
            if (!v) {
                error = QStringLiteral("--interval: '%1' is not a time in milliseconds (1-3600000)").arg(intervalText);
                return p;
            }
            o.intervalMs = *v;
        }
        if (!countText.isEmpty()) {
            const auto v = wholeNumber(countText, 1, 999999999);
            if (!v) {
                error = QStringLiteral("--count: '%1' is not a number of samples").arg(countText);
                return p;
            }
            o.sampleCount = *v;
        }
    }
    return p;
}

SetCount setpointCount(const Options &o)
{
    SetCount out;
    const int max = kMaxCount;
    if (o.counts) {
        bool ok = false;
        const qlonglong n = o.value.toLongLong(&ok);
        if (ok && n >= 0 && n <= max)
            out.count = int(n);
        else
            out.error = QStringLiteral("count %1 is outside 0-%2: nothing sent").arg(o.value).arg(max);
        return out;
    }
    // kV become volts by moving the decimal point, so 35.01 is exactly the 35010 the
    // console's scaled box would hold; then the box's rule: value / factor, half to even.
    const double value = o.channel == Channel::A ? (o.value + QStringLiteral("e3")).toDouble() : o.value.toDouble();
    const double mApc = milliampsPerCount(*o.rating);
    out.count = countForValue(o.channel, value, o.rating->voltsPerCount, mApc);
    if (out.count)
        return out;
    const int count = nearestCount(o.channel, value, o.rating->voltsPerCount, mApc);
    const bool saturated = count <= -32768 || count >= 32767;   // the rounding's own bounds
    out.error = QStringLiteral("%1 %2 is %3 under %4, outside 0-%5: nothing sent")
                    .arg(o.value, channelUnit(o.channel),
                         saturated ? QStringLiteral("far beyond any count") : QStringLiteral("count %1").arg(count),
                         ratingName(*o.rating))
                    .arg(max);
    return out;
}

QString helpText()
{
    return QStringLiteral(R"(Usage: plvctl LINK [--build plv|plr] [--rating RATING] [--json] [--timeout MS] COMMAND [ARGS]

Command-line client of the PLV and PLR high-voltage power-supply units, for scripts,
test stations and remote shells. It speaks kV, mA and A (the console's scaled box is
in volts), and ends with an exit status that tells every failure apart.

Link (exactly one):
  --tcp HOST[:PORT]     Ethernet; port 5025 unless given ([ADDRESS]:PORT for IPv6)
  --serial N|NAME|PATH  RS-232: port number N (/dev/ttyS<N-1>), a device name such as
                        ttyUSB0, or a path such as /dev/serial/by-id/...
  --baud RATE           serial line speed, 8 data bits, no parity, 1 stop bit
                        (default 115200)
  --usb                 the USB unit, through the bridge library libTESSEL.so.1

Options:
  --build plv|plr       rating table of the PLV line (default) or the PLR line
  --rating RATING       the unit's rating as in the console's Wattage/KV menu, written
                        like 70kV600W; it fixes the kV and mA conversions (default
                        70kV600W for plv, 140kV600W for plr). Commands that convert
                        read the model number first: a model number that names a kV
                        of the build's table gives the kV (with these watts), and a
                        --rating or --build that contradicts it is refused (exit 2)
  --json                one JSON object instead of "name: value unit" lines
  --timeout MS          reply time-out on serial and TCP (default 1000); the USB link
                        keeps the console's own wait and refuses this option
  -h, --help            print this text and exit
  --version             print the version and exit

Commands:
  status                high voltage, interlock, fault and control states; the six
                        fault flags
  readbacks             output voltage, current and filament monitors, the -15 V
                        supply, the two converter channels
  setpoints             the four programmed setpoints
  info                  model number and the software, hardware and web server revisions
  hours                 total hours on
  set kv|ma|fil-limit|fil-preheat VALUE [--counts]
                        program a setpoint: VALUE in kV (kv), mA (ma) or A (fil-limit,
                        fil-preheat), or a raw count with --counts. The count is VALUE
                        divided by the channel's factor under the rating, rounded half
                        to even; outside 0-4095 nothing is sent (exit 6). Prints the
                        count sent and the value read back afterwards.
  hv on|off             switch high voltage; "on" needs --yes, or y at the [y/N] prompt
                        when standard input is a terminal
  remote on|off         remote or local control
  reset-faults          clear the unit's latched faults
  shutdown              what the console's Shutdown and Exit does to the unit: local
                        control, then the four setpoints to zero; waits for each of the
                        five replies and tries all five
  watch [--interval MS] [--count N] [--csv]
                        one sample per completed update cycle, MS between exchanges
                        (default 66, the console's), as CSV with a header (the default;
                        --csv says so) or with --json one JSON object a line, until N
                        samples or Ctrl-C; a field is empty (null) where its query failed.
                        A lost link is said and tried again after 1 s, doubling to 30 s;
                        no row is written for a cycle the link was down in
  publish --broker mqtt://HOST[:PORT] --topic ROOT [--user U --password-file F]
          [--tls-ca FILE] [--interval MS] [--commands [--allow-hv-on]]
          [--reconnect-max MS] [--per-value] [--health] [--ha-discovery [PREFIX]]
                        run the update cycle and publish it to an MQTT broker (port
                        1883, or 8883 for mqtts://) under ROOT, one per unit, as
                        client id plvctl/ROOT:
                        ROOT/online  retained "online", "offline" on a clean stop
                                     and as the last will when the client vanishes
                        ROOT/state   retained JSON: hv_on, interlock_closed, fault,
                                     remote, the six flags (1 or 0), rating,
                                     rating_checked, converted (false: the unit
                                     contradicts the rating), link_up, link (the
                                     console's link health text), time
                        ROOT/readbacks  JSON per update cycle, the columns of watch
                                     and seq (1, 2, ... per run), at QoS 1
                        ROOT/info    retained JSON: model number, revisions, hours
                        ROOT/readbacks/COLUMN  with --per-value: each column alone,
                                     as watch writes it (empty: not read)
                        ROOT/health  with --health, every 10 s: link_reconnects,
                                     broker_reconnects, missed_replies,
                                     dropped_cycles, readbacks
                        --ha-discovery publishes Home Assistant discovery configs
                        under PREFIX (default homeassistant), again whenever
                        PREFIX/status says online
                        With --commands (MQTT 5 brokers only) it takes requests on
                        ROOT/cmd/set ({"channel":"kv","value":35.0}), ROOT/cmd/hv
                        ("off"; "on" only with --allow-hv-on), ROOT/cmd/remote
                        ("on"/"off"), ROOT/cmd/reset-faults and ROOT/cmd/shutdown;
                        a JSON object may add "id" and "ts" (ms since 1970 UTC),
                        no other key. Each is answered on ROOT/cmd/result with
                        outcome done, refused, no reply, out of range, invalid,
                        busy, stale or no link. Retained requests are refused,
                        never run, and cleared; requests older than 10 s are
                        stale. HV off and shutdown go ahead of the others (at most
                        16 wait). A lost unit is retried as in watch. mqtts:// or
                        --tls-ca FILE (a CA certificate) selects TLS; the password is
                        the first line of F, never an argument. A lost broker is
                        retried after 1 s, doubling to 30 s (--reconnect-max lowers
                        the cap), with jitter; runs until Ctrl-C or SIGTERM
  gateway --config FILE | --unit tcp:HOST:PORT=TOPIC|serial:PATH=TOPIC ...
          [publish options for every unit]
                        (no link option before it) many units' bridges in one
                        process, each as publish runs one; FILE is INI: keys
                        outside a section for every unit, one section per unit
                        with link = tcp:HOST:PORT or serial:PATH, topic and any
                        publish option without its "--" (true for a flag).
                        SIGHUP re-reads FILE: added units start, removed ones
                        say offline and stop, changed ones restart

Output:
  Text lines "name: value unit", or with --json one object with the same names.
  Yes/no values are 1 or 0; a value that was not read is "unknown" (JSON null).

  status      hv_on, interlock_closed, fault, remote, arc_flag, temp_flag,
              over_voltage_flag, under_voltage_flag, over_current_flag,
              under_current_flag: 1 or 0 (a flag is 1 when that fault is present)
  readbacks   kv_kV (kV), ma_mA (mA), filament_A (A), supply_minus15_V (V),
              converter_a_counts (counts), converter_b_counts (counts), rating (text)
  setpoints   kv_set_kV (kV), ma_set_mA (mA), filament_limit_A (A),
              filament_preheat_A (A), rating (text)
  info        model_number, web_revision, software_revision, hardware_revision (text)
  hours       total_hours_h (h)
  set         sent_counts (counts), then that channel's setpoints line as read back
  hv|remote|reset-faults  accepted: 1 or 0
  shutdown    local_control, kv_set_zero, ma_set_zero, filament_limit_zero,
              filament_preheat_zero: 1 or 0, one per reply
  publish     messages on the broker (above); errors and reconnections on standard error
  watch       the columns of the console's recording: time_iso8601 (local time with
              its UTC offset); local_time (the same as spreadsheets read it); kv_kV
              to converter_b_counts as in readbacks; the four
              of setpoints; rating; the ten of status

Exit status:
  0   done (watch: N samples or Ctrl-C; publish: Ctrl-C or SIGTERM)
  2   usage: a wrong option, command or value; hv on without confirmation; an
      unreadable or empty password file; a --rating or --build the unit's model
      number contradicts (nothing sent)
  3   the link cannot be opened; publish --commands and a broker without MQTT 5
  4   no reply within the time-out (after printing whatever was read)
  5   the unit refused (it answers "$" for yes, "1" or "2" for no)
  6   a value out of range: nothing sent
  7   standard output cannot be written (a closed pipe, a full disk)

Messages go to standard error and name the link.

Examples:
  plvctl --tcp 127.0.0.1 status
                        the unit's state, beside the simulated unit or a real one
  plvctl --tcp 127.0.0.1 --rating 50kV600W set kv 35
                        35 kV under the 50 kV / 600 W rating
  plvctl --serial ttyUSB0 watch --count 10 --csv > readbacks.csv
                        ten samples of the update cycle into a file
)");
}

} // namespace plv::cli
