#pragma once
// Whether the unit confirmed the operator's last HV ON / HV OFF request.
//
// The switch moves as soon as the operator operates it, so without this nothing
// shows that the unit did not follow. Outcomes of a request, from the character at
// position 5 of its reply (position 1 is STX):
//  - "$": accepted, nothing to show.
//  - "1" or "2": refused: "HV ON REFUSED" / "HV OFF REFUSED" until the next status
//    reply.
//  - no reply, or anything else there: "HV ON NOT CONFIRMED" / "HV OFF NOT CONFIRMED"
//    until a status reply shows the requested state or the operator requests the
//    opposite. A status showing the other state keeps it: that is the case to see.
// A new request in the same direction keeps the banner until its own reply decides
// or a status shows the state. A status that came before the reply does not confirm
// in advance. Losing the link does not clear the banner: the unit may still be
// energised.
// An HV OFF is seen through: when the first status reply after an unconfirmed HV OFF
// still shows HV on, resendOff() asks for one more "98,0," (never "98,1,"); a status
// still showing on after that reads "HV STILL ON" until a status shows HV off or the
// operator requests HV ON.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

namespace plv {

class HvConfirmation : public QObject {
    Q_OBJECT
public:
    enum class Outcome { None, NotConfirmed, Refused, StillOn };
    Q_ENUM(Outcome)

    explicit HvConfirmation(QObject *parent = nullptr);

    void requested(bool on);
    // The console's own second HV OFF went out; its reply is awaited as the operator's.
    void resent();
    // The unit's answer at position 5 of a whole reply; '\0' when none came.
    void replied(char answer);
    // High-voltage field of a status reply: true on, false off, nullopt unreadable.
    void statusReply(std::optional<bool> hvOn);

    Outcome outcome() const { return m_outcome; }
    bool requestedOn() const { return m_on; }
    bool awaitingReply() const { return m_awaiting; }
    // "" or one of the five texts above.
    QString bannerText() const;

signals:
    void bannerChanged(const QString &text);
    void resendOff();

private:
    void set(Outcome o);

    Outcome m_outcome = Outcome::None;
    bool m_on = false;
    bool m_awaiting = false;
    bool m_resent = false;   // the second HV OFF of this request has been asked for
};

} // namespace plv
