#pragma once
// Runs a script in a session page and waits for its answer, for the benchmarks that time pages.

#include "Tavlo/Viewer/TVLPageController.h"
#include "TVLBenchFigures.h"

#include <QVariant>
#include <memory>

namespace TVLBenchFigures {
// An answer that comes after the wait gave up lands in state of its own, never in the caller's frame.
inline QVariant evaluate(TVLPageController &page, const QString &script, int timeoutMilliseconds = 300000)
{
    struct Answer
    {
        QVariant value;
        bool arrived = false;
    };
    const auto answer = std::make_shared<Answer>();
    page.runScript(script, [answer](const QVariant &value) {
        answer->value = value;
        answer->arrived = true;
    });
    if (!waitUntil([&] { return answer->arrived; }, timeoutMilliseconds))
        line(QStringLiteral("warning: no answer to %1").arg(script.left(80)));
    return answer->value;
}
} // namespace TVLBenchFigures
