#pragma once
// The program-wide log line: "<source path>:<line>: <LEVEL>: <message>", written through Qt's
// message handler. Paths are relative to the repository root. Each library logs in a category of
// its own, named after its folder (hvxLogCategory), so QT_LOGGING_RULES can turn one library's lines
// off or its debug lines on ("tavlo.viewer.debug=true"); debug lines are off unless a rule turns
// them on. A caller that wants the alert sound after a line asks for it (HVXLogWarningAndBeep): the
// line then begins "Beep:".

#include <QLoggingCategory>
#include <QString>
#include <functional>

enum class HVXLogLevel { Error, Warning, Assertion, Debug };
enum class HVXLogSound { None, Beep };

// The category of the library that a source file belongs to: halvex.foundation, halvex.cmark,
// halvex.appkit, tavlo.model, tavlo.index, tavlo.viewer, tavlo.app; "tavlo" for the rest (tests,
// benchmarks, fuzz targets).
const QLoggingCategory &hvxLogCategory(const char *file);

void hvxLog(const QLoggingCategory &category, const char *file, int line, HVXLogLevel level, const QString &message,
            HVXLogSound sound = HVXLogSound::None);

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

#define HVXLogError(message) hvxLog(hvxLogCategory(__FILE__), __FILE__, __LINE__, HVXLogLevel::Error, (message))
#define HVXLogWarning(message) hvxLog(hvxLogCategory(__FILE__), __FILE__, __LINE__, HVXLogLevel::Warning, (message))
#define HVXLogAssertion(message) hvxLog(hvxLogCategory(__FILE__), __FILE__, __LINE__, HVXLogLevel::Assertion, (message))
#define HVXLogErrorAndBeep(message) \
    hvxLog(hvxLogCategory(__FILE__), __FILE__, __LINE__, HVXLogLevel::Error, (message), HVXLogSound::Beep)
#define HVXLogWarningAndBeep(message) \
    hvxLog(hvxLogCategory(__FILE__), __FILE__, __LINE__, HVXLogLevel::Warning, (message), HVXLogSound::Beep)
// A debug line in the given category; the message is only made when the category's debug lines are on.
#define HVXLogDebugIn(category, message)                                                                       \
    do {                                                                                                       \
        if ((category).isDebugEnabled())                                                                       \
            hvxLog((category), __FILE__, __LINE__, HVXLogLevel::Debug, (message));                             \
    } while (false)
#define HVXLogDebug(message) HVXLogDebugIn(hvxLogCategory(__FILE__), message)
