#include "DatabaseTool.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    return DatabaseTool::run(app.arguments().mid(1));
}
