#include "HVXLog.h"

#include "Categories/HVXString.h"

#include <QMessageLogger>
#include <atomic>

namespace {
constexpr qsizetype kMaxQuotedLength = 1000;

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
    }
    return "ERROR";
}
} // namespace

QString hvxLogSourcePath(const char *file)
{
    // The compiler writes __FILE__ relative to the repository root already (-fmacro-prefix-map).
    return QString::fromUtf8(file);
}

void hvxLog(const char *file, int line, HVXLogLevel level, const QString &message)
{
    // One arg() call: chained calls would read a "%1" inside the message as a place marker.
    // Messages quote transcripts: their escape sequences must not reach the terminal.
    const QString text = QStringLiteral("%1:%2: %3: %4")
                             .arg(hvxLogSourcePath(file), QString::number(line), QLatin1String(levelWord(level)),
                                  hvxEscapingControlCharacters(message, u"\n"));
    // Qt's default category prints nothing before the line, so it reads exactly as formatted.
    QMessageLogger logger(file, line, nullptr);
    if (level == HVXLogLevel::Error)
        logger.critical("%s", qUtf8Printable(text));
    else
        logger.warning("%s", qUtf8Printable(text));
    if (message.startsWith(QLatin1String("Beep:")))
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
