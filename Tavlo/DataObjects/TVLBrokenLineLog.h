#pragma once
// Decides which lines that are not JSON get a log line of their own. The viewer logs every one;
// a command run from a terminal logs the first few of each file and then one count per file, so
// that a root with thousands of broken lines doesn't flood the terminal. Thread-safe: the lines of
// one file may be read on several threads.

#include <QString>

namespace TVLBrokenLineLog {
// From now on, at most `count` broken lines of each file are logged (0: every line, the default).
void limitPerFile(int count);

// Whether this broken line of `fileName` gets its log line; counts it when it doesn't.
bool shouldLog(const QString &fileName);

// Logs "…and N more lines that are not JSON in FILE" for every file that had lines left out,
// and starts counting again.
void reportLeftOut();
} // namespace TVLBrokenLineLog
