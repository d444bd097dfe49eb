#pragma once

#include <QCoreApplication>
#include <QLoggingCategory>

// Aborts the run so that libFuzzer records the input; works in every build type.
inline void fuzzCheck(bool holds)
{
    if (!holds)
        __builtin_trap();
}

// The link's waits run local event loops, which need an application object. One is made for
// the whole run; the link's informational logging is silenced so the fuzzer output stays
// readable and fast.
inline void fuzzSetUpApplication(const char *name)
{
    static int argc = 1;
    static char *argv[] = {const_cast<char *>(name), nullptr};
    static QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("matrix.link*=false"));
}
