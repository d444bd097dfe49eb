#pragma once

#include <QLoggingCategory>

// Traces of datagrams and module frames ("matrix.netmodule.debug=true" shows them).
Q_DECLARE_LOGGING_CATEGORY(lcNetModule)
