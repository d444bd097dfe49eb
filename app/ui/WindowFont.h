#pragma once

#include <QFont>

// The window's face: Times New Roman, for whose widths the window's pixel layout was made.
// fontconfig gives a metric twin where one is installed (Liberation Serif); elsewhere it offers
// another serif, usually wider. That one is narrowed to Times New Roman's widths, so that every
// text still fits the control that was sized for it.
QFont windowFont(int pixelSize, bool bold = false);
