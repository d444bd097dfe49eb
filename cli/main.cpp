#include "MatrixCtl.h"
#include "ProgramOutput.h"

#include <QCoreApplication>
#include <QIODevice>
#include <QTextStream>

int main(int argc, char *argv[])
{
    checkStdoutAtExit("matrixctl");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("matrixctl"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = runMatrixCtl(QCoreApplication::arguments(), out, err);
    out.flush();
    if (out.status() != QTextStream::Ok)
        noteStdoutWriteError(out.device()->errorString());
    return code;
}
