#include "oiio_module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <string>

namespace {
constexpr const char* kModule = "liborbilune_oiio_reader.so";
}

void* openImageIOSymbol(const char* name)
{
    // The module lives beside the executable; failing that, wherever the loader looks.
    static void* const module = [] {
        char executable[4096];
        const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
        void* found = nullptr;
        if (length > 0) {
            std::string path(executable, static_cast<std::size_t>(length));
            path = path.substr(0, path.rfind('/') + 1) + kModule;
            found = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        }
        return found != nullptr ? found : dlopen(kModule, RTLD_NOW | RTLD_LOCAL);
    }();
    return module != nullptr ? dlsym(module, name) : nullptr;
}
