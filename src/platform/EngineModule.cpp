#include "EngineModule.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace EngineModule {
namespace {

const char ModuleName[] = "nepirika-engine.so";

// The folder of the running executable (symbolic links resolved).
std::string executableFolder() {
    std::vector<char> path(4096);
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0)
        return {};
    std::string file(path.data(), static_cast<size_t>(length));
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

} // namespace

int run(int argc, char** argv) {
    const std::string folder = executableFolder();
    const std::string candidates[] = {
        folder + "/" + ModuleName,
        folder + "/../" NEPIRIKA_LIBDIR "/nepirika/" + ModuleName,
    };
    std::string errors;
    for (const std::string& path : candidates) {
        if (::access(path.c_str(), F_OK) != 0)
            continue;
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            errors += std::string("\n  ") + ::dlerror();
            continue;
        }
        using Version = const char* (*)();
        using Main = int (*)(int, char**);
        const auto version = reinterpret_cast<Version>(::dlsym(module, "nepirika_engine_version"));
        const auto main = reinterpret_cast<Main>(::dlsym(module, "nepirika_engine_main"));
        if (!version || !main || std::strcmp(version(), NEPIRIKA_VERSION) != 0) {
            errors += "\n  " + path + ": not the module of nepirika " NEPIRIKA_VERSION;
            continue;
        }
        // The module stays loaded until the process ends: the engine's threads run its code.
        return main(argc, argv);
    }
    std::fprintf(stderr, "nepirika: cannot load the browser part of the program (%s)%s\n", ModuleName,
                 errors.empty() ? " : not found beside the program nor in its library folder"
                                : errors.c_str());
    return 1;
}

} // namespace EngineModule
