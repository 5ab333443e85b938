// Start-up of the library: when it is loaded, the shared objects are built in
// a fixed order, before any caller can use them.
#include "kvlog.h"
#include "system/variant_table.h"

namespace {

struct Startup {
    Startup() {
        tq::KvRuntimeVariantTable::Instance();  // variant table and descriptions
        KvSystemLog();                          // the system log
        KvMessage();                            // and the message sink
    }
};

const Startup g_startup;

}  // namespace
