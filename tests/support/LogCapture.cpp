#include "LogCapture.h"

#include <QMutex>

namespace {
QMutex captureMutex;
QStringList capturedLines;
int activeCaptures = 0;

void captureHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&captureMutex);
    capturedLines.append(message);
}
} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&captureMutex);
    if (activeCaptures++ == 0)
        capturedLines.clear();
    m_previous = qInstallMessageHandler(captureHandler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    QMutexLocker lock(&captureMutex);
    --activeCaptures;
}

QStringList LogCapture::lines() const
{
    QMutexLocker lock(&captureMutex);
    return capturedLines;
}

QStringList LogCapture::matching(const QString &fragment) const
{
    return lines().filter(fragment);
}

void LogCapture::clear()
{
    QMutexLocker lock(&captureMutex);
    capturedLines.clear();
}
