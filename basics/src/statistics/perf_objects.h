// The shared objects of an application's performance counters: the names of
// its block and provider guard, and the block a consumer reads.
#ifndef KVBASICS_PERF_OBJECTS_H
#define KVBASICS_PERF_OBJECTS_H

#include <cstddef>
#include <string>

#include "platform/shared_memory.h"

namespace tq::perf {

// "Global\<app>_Performance": the machine-wide block.
std::string GlobalBlockName(const std::string& app);
// "<app>_Performance": the block of this account.
std::string LocalBlockName(const std::string& app);
// "<app>_mt": the guard that marks the one provider of an account.
std::string GuardName(const std::string& app);

// Opens the block a consumer of this account reads, size bytes at least: the
// machine-wide block when this account owns it, else the account's own block,
// else the machine-wide block of another account. A block that others may
// write is never read; *refusals (may be null) lists them, one per line.
// *chosen (may be null) receives the name of the block opened.
platform::BlockStatus OpenConsumerBlock(const std::string& app, size_t size,
                                        platform::SharedBlock* block, std::string* refusals,
                                        std::string* chosen = nullptr);

}  // namespace tq::perf

#endif  // KVBASICS_PERF_OBJECTS_H
