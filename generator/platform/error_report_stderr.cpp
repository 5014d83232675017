// Where there are no message boxes, failures go to standard error.
#include "error_report.h"

void reportErrorByDefault(void* owner, const char* message) { reportErrorToStderr(owner, message); }
