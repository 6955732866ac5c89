// glibc's allocator keeps a small cache of freed blocks in each thread. With that cache on, the
// main heap of the program under steady use goes on reaching pages it never used before, a page
// every minute or two for as long as it runs; with it off the heap keeps the pages it has. The
// cache can only be turned off as a process starts, through GLIBC_TUNABLES, so the program starts
// itself once more with that variable set.
#pragma once

#include <optional>
#include <string>

namespace dozerin {

// GLIBC_TUNABLES with the thread cache off, given the value now (null when unset); nothing when
// the value already sizes the cache: then whoever set it has the last word.
std::optional<std::string> TunablesWithoutThreadCache(const char* current);

// First thing in main. Replaces the process (same pid, same executable, same arguments) with one
// that runs without the thread cache; in that process, puts GLIBC_TUNABLES back as it was, so
// that a command the program starts sees the environment it was started with. Returns when the
// cache is off, when the environment sized it, or when the new start could not be made.
void StartWithoutThreadCache(char** argv);

}  // namespace dozerin
