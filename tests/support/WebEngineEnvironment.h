#pragma once
// Prepares the web engine for runs without a desktop session: root in CI cannot use the
// engine's sandbox, and Xvfb has no GPU. Call before the application object exists.

#include <QCoreApplication>
#include <QtGlobal>

inline void prepareWebEngineForHeadlessRuns()
{
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
