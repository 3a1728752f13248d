// One libFuzzer program per reader; TAVLO_FUZZ_TARGET names which.

#include "support/TVLFuzzTargets.h"

#include <QGuiApplication>
#include <cstdint>

namespace {
const TVLFuzzTargets::Target *g_target = nullptr;

// Thousands of inputs a second each log their complaint; only crashes are of interest.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // The outline markup makes fonts and colours: a GUI application, on no screen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    qInstallMessageHandler(quiet);
    TVLFuzzTargets::setUp();
    g_target = TVLFuzzTargets::named(QStringLiteral(TAVLO_FUZZ_TARGET));
    return g_target ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_target->run(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
