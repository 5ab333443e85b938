// The shared objects of the performance counters: which block a consumer
// reads, and what an operator sees of them and may clean up.
#include "statistics/perf_objects.h"

#include <cstdio>
#include <cstring>

#include "prfdata.h"

namespace tq::perf {

using platform::BlockStatus;
using platform::SharedBlock;

std::string GlobalBlockName(const std::string& app) {
    return "Global\\" + app + "_Performance";
}

std::string LocalBlockName(const std::string& app) {
    return app + "_Performance";
}

std::string GuardName(const std::string& app) {
    return app + "_mt";
}

BlockStatus OpenConsumerBlock(const std::string& app, size_t size, SharedBlock* block,
                              std::string* refusals, std::string* chosen) {
    auto open = [&](const std::string& name, SharedBlock* into) {
        std::string why;
        const BlockStatus status = platform::OpenSharedBlock(name.c_str(), size, into, &why);
        if (status == BlockStatus::kRefused && refusals != nullptr) *refusals += why + "\n";
        if (status == BlockStatus::kOk && chosen != nullptr) *chosen = name;
        return status;
    };
    const std::string global = GlobalBlockName(app);
    const BlockStatus globalStatus = open(global, block);
    if (globalStatus == BlockStatus::kOk && block->own) return globalStatus;
    // Another account's machine-wide block comes after the account's own:
    // whoever claims the machine-wide name first cannot hide this account's
    // provider from its own monitor.
    SharedBlock own;
    const BlockStatus localStatus = open(LocalBlockName(app), &own);
    if (localStatus == BlockStatus::kOk) {
        platform::CloseSharedBlock(block);
        *block = own;
        return localStatus;
    }
    if (globalStatus == BlockStatus::kOk && chosen != nullptr) *chosen = global;
    return globalStatus == BlockStatus::kOk ? globalStatus : localStatus;
}

}  // namespace tq::perf

namespace {

using tq::platform::GuardHolder;

void CopyText(char* to, size_t size, const std::string& text) {
    if (to != nullptr && size != 0) std::snprintf(to, size, "%s", text.c_str());
}

}  // namespace

int KvQueryPerfObjects(const char* appName, KvPerfObjects* objects) {
    if (appName == nullptr || objects == nullptr) return -1;
    *objects = KvPerfObjects{};
    try {
        const std::string app = appName;
        const GuardHolder holder =
            tq::platform::QueryInstanceGuard(tq::perf::GuardName(app).c_str());
        objects->provider = holder.kind == GuardHolder::kHeld   ? 1
                            : holder.kind == GuardHolder::kNone ? 0
                                                                : -1;
        objects->providerPid = static_cast<int32_t>(holder.pid);
        std::string refusals, chosen;
        tq::platform::SharedBlock block;
        if (tq::perf::OpenConsumerBlock(app, PrfData::Instance()->BlockSize(), &block, &refusals,
                                        &chosen) == tq::platform::BlockStatus::kOk) {
            objects->block = chosen == tq::perf::GlobalBlockName(app) ? 1 : 2;
            objects->blockOwn = block.own ? 1 : 0;
            CopyText(objects->blockText, sizeof objects->blockText,
                     tq::platform::DescribeSharedObject(chosen.c_str()));
        }
        tq::platform::CloseSharedBlock(&block);
        CopyText(objects->refused, sizeof objects->refused, refusals);
        return 0;
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses a name
        return -1;
    }  // GCOVR_EXCL_STOP
}

int KvRemoveStalePerfObjects(const char* appName, char* removed, size_t size) {
    if (appName == nullptr) return -1;
    CopyText(removed, size, "");
    try {
        const std::string app = appName;
        const std::string guardName = tq::perf::GuardName(app);
        const bool guardExisted = tq::platform::InstanceGuardExists(guardName.c_str());
        int guard = -1;
        if (tq::platform::AcquireInstanceGuard(guardName.c_str(), &guard, nullptr) !=
            tq::platform::GuardResult::kAcquired) {
            return -1;
        }
        // Holding the guard, no provider of this account can start meanwhile.
        std::string list;
        int count = 0;
        // GCOVR_EXCL_BR_START: the other branches free a half-built list when building a
        // name throws (the heap refused)
        for (const std::string& name :
             {tq::perf::GlobalBlockName(app), tq::perf::LocalBlockName(app)}) {
            // GCOVR_EXCL_BR_STOP
            const std::string path = tq::platform::SharedObjectPath(name.c_str());
            if (tq::platform::RemoveOwnSharedBlock(name.c_str())) list += path + "\n", ++count;
        }
        tq::platform::RemoveInstanceGuard(guardName.c_str(), guard);
        if (guardExisted) {
            list += tq::platform::InstanceGuardPath(guardName.c_str()) + "\n";
            ++count;
        }
        CopyText(removed, size, list);
        return count;
    } catch (...) {  // GCOVR_EXCL_START: only when the heap refuses a name
        return -1;
    }  // GCOVR_EXCL_STOP
}
