#pragma once
// Runs a script in a session page and waits for its answer, for the benchmarks that time pages.

#include "TVLBenchFigures.h"
#include "tests/support/PageProbe.h"

#include <QVariant>
#include <memory>

namespace TVLBenchFigures {
inline QVariant evaluate(TVLPageController &page, const QString &script, int timeoutMilliseconds = 300000)
{
    struct Answer
    {
        QVariant value;
        bool arrived = false;
    };
    const auto answer = std::make_shared<Answer>();
    PageProbe::runScript(page, script, [answer](const QVariant &value) {
        answer->value = value;
        answer->arrived = true;
    });
    waitOrFail([&] { return answer->arrived; }, timeoutMilliseconds, QStringLiteral("the page's answer to ") + script.left(80));
    return answer->value;
}
} // namespace TVLBenchFigures
