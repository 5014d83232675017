// Where there are no message boxes, failures go to standard error.
#include "texture_job.h"

void reportErrorByDefault(void* owner, const char* message) { reportErrorToStderr(owner, message); }
