// The replaceable reporter and the stderr reporter; the platform's default lives in
// error_report_<platform>.cpp.
#include "error_report.h"

#include <cstdio>

void reportErrorByDefault(void* owner, const char* message);  // per platform

namespace {
ErrorReporter currentReporter = nullptr;
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
