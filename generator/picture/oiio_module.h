// The OpenImageIO module (liborbilune_oiio_reader.so), which brings in some two hundred
// libraries and so is loaded only when a picture needs it.
#pragma once

// The address of `name` in the module, or null when the module or the name is missing.
void* openImageIOSymbol(const char* name);
