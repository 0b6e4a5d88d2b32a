#pragma once
// The command line of plvctl, checked in full before anything is opened or sent.
#include "protocol/channels.h"
#include "protocol/ratings.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace plv::cli {

// Exit codes, one per kind of failure, so a script can tell them apart.
enum Exit { Done = 0, Usage = 2, NoLink = 3, NoReply = 4, Refused = 5, OutOfRange = 6, WriteFailed = 7 };

enum class LinkType { None, Tcp, Serial, Usb };
enum class Command { Status, Readbacks, Setpoints, Info, Hours, Set, Hv, Remote, ResetFaults, Shutdown, Watch, Publish };

constexpr quint16 kDefaultTcpPort = 5025;
constexpr int kDefaultBaud = 115200;

struct Options {
    bool help = false;
    bool version = false;

    LinkType link = LinkType::None;
    QString host;                  // --tcp
    quint16 port = kDefaultTcpPort;
    QString serialEntry;           // --serial as typed
    QString serialDevice;          // what it names
    int baud = kDefaultBaud;

    const BuildData *build = nullptr;
    const Rating *rating = nullptr;
    bool buildGiven = false;       // --build or --rating typed: checked against the unit, never replaced
    bool ratingGiven = false;
    bool json = false;
    std::optional<int> timeoutMs;  // serial and TCP only

    Command command = Command::Status;
    Channel channel = Channel::A;  // set
    QString value;                 // set, as typed
    bool counts = false;           // set: the value is a raw count
    bool on = false;               // hv, remote
    bool yes = false;              // hv on: confirmed
    int intervalMs = 66;           // watch: the console's gap between exchanges
    std::optional<int> sampleCount;   // watch
    bool csv = false;              // watch

    // publish
    QString brokerHost;
    quint16 brokerPort = 1883;
    bool brokerTls = false;        // mqtts:// or --tls-ca
    QString topic;                 // root, without a trailing '/'; one per unit, required
    QString user;
    QString passwordFile;          // the password is read from here only
    QString tlsCa;
    bool commands = false;
    bool allowHvOn = false;
    int reconnectMaxMs = 30000;
    bool perValue = false;         // ROOT/readbacks/<column> beside the JSON
    QString haPrefix;              // Home Assistant discovery under this prefix; empty: none
    bool health = false;           // ROOT/health every 10 s

    QString linkName() const;      // "tcp 127.0.0.1:5025", for every message
};

struct Parsed {
    Options options;
    QString error;                 // a usage error when not empty
};

// args without the program name.
Parsed parseArguments(const QStringList &args);

// "70kV600W" (case ignored) within the build's table.
const Rating *findRating(const BuildData &build, const QString &name);
QString ratingName(const Rating &r);   // "70kV600W"

// The rating to convert with, given the unit's model number. A model number that names
// a kV of a build's table (the console's rating rule) fixes the kV, with the watts of
// --rating or the default; --rating or --build that contradict it leave no rating and
// the reason, which names both. Any other model number (none read included) leaves the
// given or default rating, unchecked.
struct UnitRating {
    const Rating *rating = nullptr;
    bool checked = false;
    QString error;
};
UnitRating ratingFromModel(const Options &o, const QString &model);
// Whether the command turns counts into kV and mA (or back), and so needs the rating.
bool converts(Command c);

// The count that 'set' sends: round half to even of value / factor under the rating (kV
// go to volts first, where the console's scaled box works), or the raw count with
// --counts. nullopt, with the reason, when it lies outside 0..4095.
struct SetCount {
    std::optional<int> count;
    QString error;
};
SetCount setpointCount(const Options &o);

// The channel names 'set' takes, and their units as the client speaks them.
QString channelWord(Channel c);   // "kv", "ma", "fil-limit", "fil-preheat"
QString channelUnit(Channel c);   // "kV", "mA", "A", "A"

QString helpText();

} // namespace plv::cli
