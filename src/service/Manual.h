#pragma once

#include <QString>

// "РУКОВОДСТВО ПОЛЬЗОВАТЕЛЯ".
namespace Service {

// The user manual: a PDF beside the program's executable, whatever the current folder.
QString manualPath();
void openManual();

} // namespace Service
