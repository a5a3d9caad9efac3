#include "harness.h"

#include <QGuiApplication>
#include <QLoggingCategory>

void zq_fuzz_init_qt()
{
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Parsers log every malformed input; thousands of lines a second only slow the fuzzer down.
    if (qEnvironmentVariableIsEmpty("ZQ_FUZZ_LOG"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
    static int argc = 1;
    static char name[] = "zq_fuzz";
    static char* argv[] = {name, nullptr};
    // Kept for the whole process: the fuzzer never returns to a point where it could be deleted.
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    zq_fuzz_init_qt();
    return 0;
}
