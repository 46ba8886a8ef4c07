#pragma once

#include <QString>

// "О РАЗРАБОТЧИКЕ".
namespace Service {

// The text of the About box: four blocks, centred by leading blanks, three carriage returns
// between them.
QString aboutText();

} // namespace Service
