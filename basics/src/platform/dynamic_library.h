// Loading shared libraries (modules) and resolving their symbols.
#ifndef KVBASICS_PLATFORM_DYNAMIC_LIBRARY_H
#define KVBASICS_PLATFORM_DYNAMIC_LIBRARY_H

#include <string>

namespace tq::platform {

// Loads a module by path or file name (dlopen with RTLD_NOW: a bare file name
// uses the standard search). Null on failure; LastLibraryError tells why.
void* LoadLibrary(const char* name);
// Resolves a symbol of a loaded module; null when it is missing.
void* LibrarySymbol(void* library, const char* name);
// Unloads a module; true on success.
bool FreeLibrary(void* library);
// The text of the last failure of this thread's load or resolve.
std::string LastLibraryError();

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_DYNAMIC_LIBRARY_H
