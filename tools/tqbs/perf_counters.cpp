// The catalogue of counters: the library's item table, the installed texts and
// the tool's names for each counter.
#include "perf_counters.h"

#include <strings.h>

#include <cstring>

#include "perf_host.h"

namespace tqbs::perf {

namespace {

// The tool's names of a counter, by its identifier. Totals end in _total as
// Prometheus counters do; raw counts are gauges. Counter 119 ("Waiting
// Jobs/sec") is a raw count despite its installed name.
struct Naming {
    uint32_t id;
    const char* base;
    const char* column;
    const char* help;
};

constexpr const char* kRunningTotal = ", a running total since the server enabled its counters.";

constexpr Naming kNamings[] = {
    {101, "transactions", "trans", "Transactions currently registered."},
    {102, "commits", "commit", "Transaction commit requests"},
    {103, "aborts", "abort", "Transaction abort requests"},
    {104, "client_server_requests", "req", "Client/server requests"},
    {105, "client_server_failed_requests", "reqfail",
     "Client/server requests that resulted in an error"},
    {106, "server_notifications", "notify", "Notify() calls issued by the server"},
    {107, "queries", "query", "Query requests"},
    {108, "clients", "client", "Clients currently connected."},
    {109, "object_descriptions", "objdesc",
     "Object descriptions currently used: how many different persistent objects all clients "
     "use together."},
    {110, "extents", "extent", "Extent cursors (C++: KvAllSet objects) currently used."},
    {111, "locks", "lock", "Locks currently used."},
    {112, "watches", "watch", "Watches currently used."},
    {113, "refreshed_objects", "refresh", "Objects re-delivered to all clients"},
    {114, "delivered_objects", "deliver", "Objects delivered to all clients"},
    {115, "internal_transactions", "itrans", "Internal transactions started"},
    {116, "deleted_objects", "delete", "Objects deleted by all clients"},
    {117, "updated_objects", "update", "Objects updated by all clients"},
    {118, "inserted_objects", "insert", "Objects inserted by all clients"},
    {119, "waiting_jobs", "wait", "Jobs of all clients currently waiting."},
    {120, "object_description_retry_loops", "retry",
     "Loops run to enter the critical section of an object description"},
    {121, "object_description_critical_section_uses", "csuse",
     "Uses of the critical sections of all object descriptions currently counted."},
    {122, "object_description_critical_section_waiters", "cswait",
     "Threads currently waiting for the critical section of an object description."},
};

const Naming* NamingOf(uint32_t id) {
    for (const Naming& naming : kNamings) {
        if (naming.id == id) return &naming;
    }
    return nullptr;  // GCOVR_EXCL_LINE: every counter of this library is named above
}

std::string Utf8(const char16_t* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) {
        char32_t c = *text;
        if (c < 0x80) {
            out += static_cast<char>(c);
            continue;
        }
        // GCOVR_EXCL_START: the counter texts this library installs are ASCII
        if (c >= 0xD800 && c < 0xDC00 && text[1] >= 0xDC00 && text[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);  // a surrogate pair
            ++text;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;  // half a pair: the replacement character
        }
        if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        }
        out += static_cast<char>(0x80 | (c & 0x3F));
        // GCOVR_EXCL_STOP
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

void Name(CounterInfo* info) {
    const Naming* naming = NamingOf(info->id);
    const bool total = IsRate(info->type);
    if (naming != nullptr) {
        info->base = naming->base;
        info->column = naming->column;
        info->metricHelp = naming->help;
        if (total) info->metricHelp += kRunningTotal;
    } else {
        // A counter this tool does not know yet: named by its identifier.
        // GCOVR_EXCL_START: every counter of this library is named above
        const std::string id = std::to_string(info->id);
        info->base = std::string("counter_") + id;
        info->column = std::string(1, 'c') + id;
        info->metricHelp = info->help;
        // GCOVR_EXCL_STOP
    }
    info->metric = kMetricPrefix;
    info->metric += info->base;
    if (total) info->metric += "_total";
    info->field = info->base;
    if (total) info->field += "_per_second";
}

}  // namespace

Catalogue::Catalogue(const KvPerfExtension* extension) {
    Refresh(extension);
}

void Catalogue::Refresh(const KvPerfExtension* extension) {
    const uint32_t firstCounter = extension != nullptr ? extension->firstCounter : 0;
    const uint32_t firstHelp = extension != nullptr ? extension->firstHelp : 0;
    if (!counters_.empty() && firstCounter == firstCounter_ && firstHelp == firstHelp_) return;
    firstCounter_ = firstCounter;
    firstHelp_ = firstHelp;
    counters_.clear();
    const PRFITM* items = PrfData::Instance()->m_pPrfItms;
    for (uint32_t i = 0; items[i].Type != PRFITM_END; ++i) {
        const PRFITM& item = items[i];
        if (item.Type != PRFITM_COUNTER) continue;
        CounterInfo info;
        info.id = static_cast<uint32_t>(item.dwId);
        info.type = item.dwCounterType;
        info.scale = item.DefaultScale;
        info.detail = item.dwDetailLevel;
        if (firstCounter_ != 0) {
            // Item i has the name index First Counter + 2i, the help index First Help + 2i.
            info.nameIndex = firstCounter_ + 2 * i;
            info.name = CounterText(info.nameIndex, false);
            info.help = CounterText(firstHelp_ + 2 * i, true);
        } else {
            info.name = Utf8(item.pszName);
            info.help = Utf8(item.pszHelp);
        }
        Name(&info);
        counters_.push_back(std::move(info));
    }
}

const CounterInfo* Catalogue::ByNameIndex(uint32_t nameIndex) const {
    if (nameIndex == 0) return nullptr;
    for (const CounterInfo& info : counters_) {
        if (info.nameIndex == nameIndex) return &info;
    }
    return nullptr;
}

const CounterInfo* Catalogue::ByUserName(const std::string& name) const {
    const char* text = name.c_str();
    for (const CounterInfo& info : counters_) {
        const char* shortMetric = info.metric.c_str() + std::strlen(kMetricPrefix);
        if (strcasecmp(text, info.base.c_str()) == 0 ||
            strcasecmp(text, info.metric.c_str()) == 0 || strcasecmp(text, shortMetric) == 0 ||
            strcasecmp(text, info.name.c_str()) == 0) {
            return &info;
        }
    }
    return nullptr;
}

const char* TypeText(uint32_t type) {
    if (IsRate(type)) return "rate";
    if (type == PERF_COUNTER_RAWCOUNT) return "raw count";
    return "other";  // GCOVR_EXCL_LINE: this library's counters are rates or raw counts
}

std::string DetailText(uint32_t detail) {
    switch (detail) {
        case PERF_DETAIL_NOVICE:
            return "novice";
        // GCOVR_EXCL_START: this library's counters are all for novices
        case PERF_DETAIL_ADVANCED:
            return "advanced";
        case PERF_DETAIL_EXPERT:
            return "expert";
        case PERF_DETAIL_WIZARD:
            return "wizard";
        default:
            return std::to_string(detail);
            // GCOVR_EXCL_STOP
    }
}

}  // namespace tqbs::perf
