#include "protocol/reply.h"

#include "protocol/framing.h"
#include "protocol/identity.h"

namespace plv {

namespace {

enum class Form { Numbers, Flags, Text, Answer };

struct Shape {
    Form form;
    int fields;   // how many fields the answer has
};

Shape shapeOf(int cmd)
{
    switch (cmd) {
    case 19: case 20: return {Form::Numbers, 3};
    case 14: case 15: case 16: case 17: case 21: return {Form::Numbers, 1};
    case 22: return {Form::Flags, 4};
    case 68: return {Form::Flags, 6};
    case 23: case 24: case 25: case 26: return {Form::Text, 1};
    default: return {Form::Answer, 1};
    }
}

bool whole(const QByteArray &command, const QByteArray &frame)
{
    return frame.startsWith(STX) && QByteArrayView(frame.constData() + 1, qMin<qsizetype>(2, frame.size() - 1)) == command
           && frame.indexOf(ETX) > 2;
}

} // namespace

Reply decodeReply(const QByteArray &command, const QByteArray &frame)
{
    Reply r;
    r.command = command;
    r.frame = frame;
    const int cmd = command.toInt();
    const Shape shape = shapeOf(cmd);
    r.asksForData = shape.form != Form::Answer;
    if (frame.isEmpty())
        return r;
    r.answer = charAt(frame, 5);
    // The panels read a reply by position, whatever its shape; so does this.
    switch (cmd) {
    case 22: r.status = decodeMainStatus(frame); break;
    case 68: r.flags = decodeFaultFlags(frame); break;
    case 21: r.text = totalHoursValue(frame).value_or(QByteArray()); break;
    case 23: case 25: r.text = revisionValue(frame, 11); break;
    case 24: r.text = revisionValue(frame, 3); break;
    case 26: r.text = modelNumberValue(frame); break;
    default: break;
    }
    // Status and flags are read by position; their fields would only be made to be dropped
    // (status frames can come hundreds a second).
    if (shape.form != Form::Flags)
        r.fields = cutFields(frame, shape.fields);
    if (shape.form == Form::Numbers)
        for (const QByteArray &f : std::as_const(r.fields))
            r.numbers.append(parseNumber(f));

    if (!whole(command, frame)) {
        r.outcome = ReplyOutcome::Partial;
        return r;
    }
    // A lone "1" or "2" is the unit's no, unless the answer itself is one number.
    const bool no = r.answer == '1' || r.answer == '2';
    // The data, without a checksum character behind the last comma (serial and USB).
    const qsizetype etx = frame.indexOf(ETX);
    const QByteArrayView data = etx > 4 ? QByteArrayView(frame).sliced(4, etx - 4) : QByteArrayView();
    const qsizetype lastComma = data.lastIndexOf(',');
    const QByteArrayView bare = lastComma >= 0 && data.size() - lastComma <= 2 ? data.first(lastComma) : data;
    const bool lone = bare == "1" || bare == "2";
    const bool refused = shape.form == Form::Answer ? no
                         : shape.form == Form::Numbers && shape.fields == 1 ? false
                                                                              : no && lone;
    r.outcome = refused ? ReplyOutcome::Refused : ReplyOutcome::Good;
    return r;
}

} // namespace plv
