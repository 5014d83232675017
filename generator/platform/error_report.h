// The error report: the one way a failure reaches the user. The default is a warning
// message box with the caption "Error" on Windows, `error: <message>` on standard error
// elsewhere; a front end or a test may install its own reporter.
#pragma once

using ErrorReporter = void (*)(void* owner, const char* message);

// `owner` is the window that owns the message box (an HWND on Windows), or null.
void reportError(void* owner, const char* message);

// Installs `reporter` (null restores the platform's default) and returns the previous one.
ErrorReporter setErrorReporter(ErrorReporter reporter);

// The reporter that writes `error: <message>` to standard error, on every platform.
void reportErrorToStderr(void* owner, const char* message);

// Warnings: what a run does that the user may not expect (data the output drops, a map
// stretched to fit), while it goes on. By default `warning: <message>` on standard error,
// on every platform (the Windows dialog has no console, and shows none).
void reportWarning(const char* message);
ErrorReporter setWarningReporter(ErrorReporter reporter);
