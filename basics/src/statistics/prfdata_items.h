// The item table of the statistics and the identifiers of its counters.
#ifndef KVBASICS_PRFDATA_ITEMS_H
#define KVBASICS_PRFDATA_ITEMS_H

#include "prfdata.h"

namespace tq {

inline constexpr int kStatisticsItemCount = 23;  // the object and 22 counters
inline constexpr OBJID kStatisticsObjectId = 100;
inline constexpr CTRID kFirstCounterId = 101;
inline constexpr int kCounterCount = 22;

// Mutable: start-up and activation fill in the computed fields.
extern PRFITM g_statisticsItems[kStatisticsItemCount + 1];

inline constexpr const char16_t* kApplicationName = u"Tessaloquin";

// Test only: called at each step of a provider's activation (0 once it holds
// the role, 1 once the block is mapped, then once per record field that it
// lays out), so that a test can end the process at any of them. Null otherwise.
extern void (*g_providerStepHook)(int step);

}  // namespace tq

#endif  // KVBASICS_PRFDATA_ITEMS_H
