#include "HVXLog.h"

#include "Categories/HVXString.h"

#include <QMessageLogger>
#include <atomic>

namespace {
constexpr qsizetype kMaxQuotedLength = 1000;

// Debug lines are off unless a rule turns them on; the other levels are on unless one turns them off.
Q_LOGGING_CATEGORY(foundationLog, "halvex.foundation", QtInfoMsg)
Q_LOGGING_CATEGORY(cmarkLog, "halvex.cmark", QtInfoMsg)
Q_LOGGING_CATEGORY(appKitLog, "halvex.appkit", QtInfoMsg)
Q_LOGGING_CATEGORY(modelLog, "tavlo.model", QtInfoMsg)
Q_LOGGING_CATEGORY(indexLog, "tavlo.index", QtInfoMsg)
Q_LOGGING_CATEGORY(viewerLog, "tavlo.viewer", QtInfoMsg)
Q_LOGGING_CATEGORY(applicationLog, "tavlo.app", QtInfoMsg)
Q_LOGGING_CATEGORY(otherLog, "tavlo", QtInfoMsg)

struct Library
{
    QLatin1StringView folder;
    const QLoggingCategory &(*category)();
};

bool isEnabled(const QLoggingCategory &category, HVXLogLevel level)
{
    switch (level) {
    case HVXLogLevel::Error: return category.isCriticalEnabled();
    case HVXLogLevel::Warning:
    case HVXLogLevel::Assertion: return category.isWarningEnabled();
    case HVXLogLevel::Debug: return category.isDebugEnabled();
    }
    return true;
}

std::function<void()> &beepHandler()
{
    static std::function<void()> handler;
    return handler;
}

std::atomic<int> beepCounter{0};

const char *levelWord(HVXLogLevel level)
{
    switch (level) {
    case HVXLogLevel::Error: return "ERROR";
    case HVXLogLevel::Warning: return "WARNING";
    case HVXLogLevel::Assertion: return "ASSERTION";
    case HVXLogLevel::Debug: return "DEBUG";
    }
    return "ERROR";
}

// Lines go out in Qt's default category, which prints nothing before them, so they read exactly as
// formatted whatever the category that let them through.
void writeLine(const char *file, int line, HVXLogLevel level, const QString &message)
{
    // One arg() call: chained calls would read a "%1" inside the message as a place marker.
    // Messages quote transcripts: their escape sequences must not reach the terminal.
    const QString text = QStringLiteral("%1:%2: %3: %4")
                             .arg(hvxLogSourcePath(file), QString::number(line), QLatin1String(levelWord(level)),
                                  hvxEscapingControlCharacters(message, u"\n"));
    QMessageLogger logger(file, line, nullptr);
    switch (level) {
    case HVXLogLevel::Error: logger.critical("%s", qUtf8Printable(text)); break;
    case HVXLogLevel::Warning:
    case HVXLogLevel::Assertion: logger.warning("%s", qUtf8Printable(text)); break;
    case HVXLogLevel::Debug: logger.debug("%s", qUtf8Printable(text)); break;
    }
}
} // namespace

const QLoggingCategory &hvxLogCategory(const char *file)
{
    // A library is a folder of the repository, and log lines name their source from its root.
    static const Library libraries[] = {
        {QLatin1StringView("Halvex/Foundation/"), foundationLog}, {QLatin1StringView("Halvex/cmark/"), cmarkLog},
        {QLatin1StringView("Halvex/AppKit/"), appKitLog},         {QLatin1StringView("Tavlo/DataObjects/"), modelLog},
        {QLatin1StringView("Tavlo/Index/"), indexLog},            {QLatin1StringView("Tavlo/Viewer/"), viewerLog},
        {QLatin1StringView("Tavlo/Application/"), applicationLog},
    };
    const QLatin1StringView path(file);
    for (const Library &library : libraries)
        if (path.startsWith(library.folder))
            return library.category();
    return otherLog();
}

QString hvxLogSourcePath(const char *file)
{
    // The compiler writes __FILE__ relative to the repository root already (-fmacro-prefix-map).
    return QString::fromUtf8(file);
}

void hvxLog(const QLoggingCategory &category, const char *file, int line, HVXLogLevel level, const QString &message,
            HVXLogSound sound)
{
    if (isEnabled(category, level))
        writeLine(file, line, level, sound == HVXLogSound::Beep ? QString(QStringLiteral("Beep: ") + message) : message);
    if (sound == HVXLogSound::Beep)
        hvxBeep();
}

QString hvxLogValue(const QString &value)
{
    if (value.size() <= kMaxQuotedLength)
        return value;
    return QStringLiteral("%1… (%2 characters)")
        .arg(hvxLeftWithoutSplittingPairs(value, kMaxQuotedLength), QString::number(value.size()));
}

QString hvxLogValue(QByteArrayView utf8)
{
    if (utf8.size() <= kMaxQuotedLength * 4)
        return hvxLogValue(QString::fromUtf8(utf8));
    // Decode only what can be printed, so quoting a huge buffer stays cheap.
    const QString decoded = QString::fromUtf8(utf8.first(kMaxQuotedLength * 4));
    return QStringLiteral("%1… (%2 bytes)").arg(hvxLeftWithoutSplittingPairs(decoded, kMaxQuotedLength),
                                                QString::number(utf8.size()));
}

void hvxSetBeepHandler(std::function<void()> handler) { beepHandler() = std::move(handler); }

void hvxBeep()
{
    ++beepCounter;
    if (beepHandler())
        beepHandler()();
}

int hvxBeepCount() { return beepCounter.load(); }
