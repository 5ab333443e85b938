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
// The error code (an errno value) of this thread's last failed load; 0 when
// none failed.
int LastLibraryErrorCode();

// The absolute path of the file a loaded module came from; empty when it
// cannot be told.
std::string LibraryPath(void* library);

// The first directory of the search list in the environment variable
// (entries separated by ':'; empty entries are skipped) that holds a file
// named file: that directory, '/' and file. Empty when none does.
std::string FindInSearchPath(const char* file, const char* variable);

}  // namespace tq::platform

#endif  // KVBASICS_PLATFORM_DYNAMIC_LIBRARY_H
