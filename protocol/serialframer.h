#pragma once
// Assembles unsolicited frames on the serial link, one character at a time: an STX
// starts a new frame (dropping anything before it), an ETX completes it.
#include <QByteArray>
#include <optional>

namespace plv {

class SerialFramer {
public:
    static constexpr int kLimit = 4096;   // junk without an ETX is dropped past this
    // Feeds one character; returns the completed frame when it was an ETX.
    std::optional<QByteArray> feed(char c);
    void clear() { m_frame.clear(); }
    const QByteArray &pending() const { return m_frame; }

private:
    QByteArray m_frame;
};

} // namespace plv
