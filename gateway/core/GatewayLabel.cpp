#include "GatewayLabel.h"

#include "GatewayState.h"

#include <QStringDecoder>

namespace GatewayLabel {

qsizetype characters(QStringView text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++count) {
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
    }
    return count;
}

Problem problem(QStringView text)
{
    if (!text.isValidUtf16())
        return Problem::InvalidText;
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return Problem::ControlCharacter;
    }
    if (characters(text) > GatewayMaxLabelLength)
        return Problem::TooLong;
    return Problem::None;
}

QString problemText(Problem problem, const QString &what)
{
    switch (problem) {
    case Problem::None:
        break;
    case Problem::ControlCharacter:
        return QStringLiteral("%1 may not hold control characters (line breaks, tabs, NUL)")
            .arg(what);
    case Problem::InvalidText:
        return QStringLiteral("%1 is not valid Unicode text").arg(what);
    case Problem::TooLong:
        return QStringLiteral("%1 has at most %2 characters").arg(what).arg(GatewayMaxLabelLength);
    }
    return {};
}

QString cut(const QString &text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++count) {
        if (count == GatewayMaxLabelLength)
            return text.left(i);
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
    }
    return text;
}

bool fromUtf8(QByteArrayView bytes, QString *text)
{
    // A byte order mark at the start is a character of the label, not a mark to skip.
    QStringDecoder decoder(QStringConverter::Utf8,
        QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    *text = decoder.decode(bytes);
    return !decoder.hasError();
}

} // namespace GatewayLabel
