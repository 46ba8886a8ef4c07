#pragma once

#include <QFont>

// Settings shared by every window of the program.
namespace Application {

// Registers Tahoma from the system's Wine fonts, where fontconfig does not look for it.
void registerFonts();

// The font of every window: Tahoma, bold, 19-pixel character height.
QFont windowFont();

} // namespace Application
