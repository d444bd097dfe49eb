#pragma once

#include <QPixmap>

// The General page's pictures: the connection state beside "Connect" and the three glyphs of
// the power button. They are drawn, which is quicker at start-up than decoding image files.
namespace Glyphs {

// Two plug halves: apart and red when closed, joined and green when open.
QPixmap connection(bool open);

enum class PowerGlyph { Unknown, Off, On };
// A round button with the power symbol: grey unknown, red off, green on.
QPixmap Power(PowerGlyph glyph);

} // namespace Glyphs
