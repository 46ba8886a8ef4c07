#pragma once

#include <QIcon>

// The marks of the grid's indicator column on the current record: browsing (an arrow), editing
// (a text cursor), inserting (an asterisk). Drawn once, at 10 x 12 pixels.
enum class RowMark { Browse, Edit, Insert };
QIcon rowMarkIcon(RowMark mark);
