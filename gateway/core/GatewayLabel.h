#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The one rule for label text, whichever wire it comes from (and for preset names): at most
// GatewayMaxLabelLength Unicode characters (not UTF-16 units), no control characters (C0, DEL,
// C1: a NUL would end the text in gateway.ini, a line break would end a line on the Videohub
// wire) and valid Unicode (no lone surrogates). HTTP refuses a label that breaks it; a panel's
// label that is only too long is cut, as panels expect.
namespace GatewayLabel {

enum class Problem { None, ControlCharacter, InvalidText, TooLong };

// Unicode characters in the text; a lone surrogate counts as one.
qsizetype characters(QStringView text);
Problem problem(QStringView text);
// What is wrong, for the client: "a label has at most 255 characters", ... `what` names the text
// ("a label", "a preset name").
QString problemText(Problem problem, const QString &what);
// The first GatewayMaxLabelLength characters, never splitting a surrogate pair.
QString cut(const QString &text);
// UTF-8 from a wire; false when the bytes are not valid UTF-8.
bool fromUtf8(QByteArrayView bytes, QString *text);

} // namespace GatewayLabel
