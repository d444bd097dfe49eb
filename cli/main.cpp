#include "MatrixCtl.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrixctl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runMatrixCtl(QCoreApplication::arguments(), out, err);
}
