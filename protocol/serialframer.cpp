#include "protocol/serialframer.h"

#include "protocol/framing.h"

#include <utility>

namespace plv {

std::optional<QByteArray> SerialFramer::feed(char c)
{
    if (c == STX) {
        m_frame = QByteArray(1, STX);
        return std::nullopt;
    }
    m_frame += c;
    if (c == ETX)
        return std::exchange(m_frame, {});
    if (m_frame.size() > kLimit)
        m_frame.clear();
    return std::nullopt;
}

} // namespace plv
