// The link between the statistics and the shared block they mirror into.
#ifndef KVBASICS_STATISTICS_MIRROR_H
#define KVBASICS_STATISTICS_MIRROR_H

namespace tq {

// Stops mirroring (the block is about to be unmapped at exit).
void DetachStatisticsMirror();

}  // namespace tq

#endif  // KVBASICS_STATISTICS_MIRROR_H
