// The one way the generator tells the user about a failure. On Windows the default is a
// warning message box with the caption "Error"; elsewhere `error: <message>` on stderr.
// A front end or a test may install its own reporter.
#pragma once

using ErrorReporter = void (*)(void* owner, const char* message);

// `owner` is the window that owns the message box (an HWND on Windows), or null.
void reportError(void* owner, const char* message);

// Installs `reporter` (null restores the platform's default) and returns the previous one.
ErrorReporter setErrorReporter(ErrorReporter reporter);

// The reporter that writes `error: <message>` to standard error, on every platform.
void reportErrorToStderr(void* owner, const char* message);
