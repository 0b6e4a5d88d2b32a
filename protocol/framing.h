#pragma once
// Command frames: STX, payload, checksum character (serial and USB only), ETX.
#include <QByteArray>
#include <QString>
#include <optional>

namespace plv {

constexpr char STX = '\x02';
constexpr char ETX = '\x03';

// Low six bits of (256 - sum of the payload's codes), lifted into 0x40..0x7F.
char checksumChar(const QByteArray &payload);

// Whether the character before a frame's first ETX is the checksum of what lies between
// STX and it; nullopt for text that is no STX ... ETX frame.
std::optional<bool> checksumMatches(const QByteArray &frame);

QByteArray frameCommand(const QByteArray &payload, bool withChecksum);

// Frame text for the status bar: STX and ETX by name, other control characters as
// two hex digits in angle brackets.
QString renderFrame(const QByteArray &bytes);

} // namespace plv
