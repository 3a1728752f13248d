#pragma once
// The program-wide log line: "<source path>:<line>: <LEVEL>: <message>", written through Qt's
// message handler. Paths are relative to the repository root. A message that begins with
// "Beep:" is followed by the alert sound (see hvxSetBeepHandler).

#include <QString>
#include <functional>

enum class HVXLogLevel { Error, Warning, Assertion };

void hvxLog(const char *file, int line, HVXLogLevel level, const QString &message);

// The source path as log lines print it: __FILE__ without the repository root.
QString hvxLogSourcePath(const char *file);

// A value quoted into a log line: at most its first 1,000 UTF-16 units, followed by its
// length when it was cut, so a broken 50 MB line never reaches the log whole.
QString hvxLogValue(const QString &value);
QString hvxLogValue(QByteArrayView utf8);
inline QString hvxLogValue(const QByteArray &utf8) { return hvxLogValue(QByteArrayView(utf8)); }

// The alert sound. The application installs QApplication::beep; without a handler the
// beeps are only counted (tests read the count).
void hvxSetBeepHandler(std::function<void()> handler);
void hvxBeep();
int hvxBeepCount();

#define HVXLogError(message) hvxLog(__FILE__, __LINE__, HVXLogLevel::Error, (message))
#define HVXLogWarning(message) hvxLog(__FILE__, __LINE__, HVXLogLevel::Warning, (message))
#define HVXLogAssertion(message) hvxLog(__FILE__, __LINE__, HVXLogLevel::Assertion, (message))
