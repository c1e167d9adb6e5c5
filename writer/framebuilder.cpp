#include "writer/framebuilder.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace morvandell {

QByteArray FrameBuilder::frame(Command code, std::uint16_t address, const QByteArray& record)
{
    Q_ASSERT(record.size() <= RecordSize);
    QByteArray f(FrameSize, '\0');
    f[0] = 0x55;
    f[1] = static_cast<char>(code);
    f[2] = static_cast<char>(address >> 8);
    f[3] = static_cast<char>(address & 0xFF);
    for (int i = 0; i < record.size() && i < RecordSize; ++i)
        f[4 + i] = record[i];
    f[20] = 0x00;
    f[21] = 0x0D;
    return f;
}

QByteArray FrameBuilder::fitText(const QString& text, int width)
{
    // One byte per character: encode character by character so that a character the code page
    // lacks becomes exactly one '?', whatever the encoder would do with it.
    QByteArray out;
    out.reserve(width);
    for (qsizetype i = 0; i < text.size() && out.size() < width; ++i) {
        qsizetype len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            len = 2;
        const QStringView ch = QStringView(text).mid(i, len);
        i += len - 1;
        QStringEncoder encoder("windows-1252");
        const QByteArray bytes = encoder.encode(ch);
        // Round trip: a substitute the code page chose for a missing character does not decode back.
        QStringDecoder decoder("windows-1252");
        const QString back = decoder.decode(bytes);
        if (encoder.hasError() || bytes.size() != 1 || back != ch)
            out.append('?');
        else
            out.append(bytes);
    }
    while (out.size() < width)
        out.append(' ');
    return out;
}

QByteArray FrameBuilder::slotFrame(int slot, const QString& name, std::uint8_t channel, std::uint8_t divider,
                                   const QString& unit)
{
    return slotFrameFitted(slot, fitText(name, NameWidth), channel, divider, fitText(unit, UnitWidth));
}

QByteArray FrameBuilder::slotFrameFitted(int slot, const QByteArray& name, std::uint8_t channel,
                                         std::uint8_t divider, const QByteArray& unit)
{
    Q_ASSERT(name.size() == NameWidth && unit.size() == UnitWidth);
    QByteArray record;
    record.reserve(RecordSize);
    record.append(name);
    record.append('\0');
    record.append(static_cast<char>(channel));
    record.append(static_cast<char>(divider));
    record.append(unit);
    record.append(2, '\0');
    return frame(Write, slotAddress(slot), record);
}

QByteArray FrameBuilder::settingsFrame(std::uint8_t defaultView)
{
    QByteArray record(RecordSize, '\0');
    record[0] = static_cast<char>(defaultView);
    return frame(Write, SettingsAddress, record);
}

} // namespace morvandell
