// The replaceable reporter and the stderr reporter; the platform's default lives in
// error_report_<platform>.cpp.
#include "error_report.h"

#include <cstdio>

void reportErrorByDefault(void* owner, const char* message);  // per platform

namespace {
ErrorReporter currentReporter = nullptr;
ErrorReporter currentWarningReporter = nullptr;
}

void reportError(void* owner, const char* message)
{
    (currentReporter != nullptr ? currentReporter : reportErrorByDefault)(owner, message);
}

ErrorReporter setErrorReporter(ErrorReporter reporter)
{
    const ErrorReporter previous = currentReporter;
    currentReporter = reporter;
    return previous;
}

void reportErrorToStderr(void*, const char* message)
{
    std::fprintf(stderr, "error: %s\n", message);
    std::fflush(stderr);
}

void reportWarning(const char* message)
{
    if (currentWarningReporter != nullptr) {
        currentWarningReporter(nullptr, message);
        return;
    }
    std::fprintf(stderr, "warning: %s\n", message);
    std::fflush(stderr);
}

ErrorReporter setWarningReporter(ErrorReporter reporter)
{
    const ErrorReporter previous = currentWarningReporter;
    currentWarningReporter = reporter;
    return previous;
}
