// The container differ: merges two ordered sequences, parking elements that
// do not match positionally in the client's diff list until the other side
// cancels them.
#include <cstdint>
#include <initializer_list>

#include "kvcontainer.h"

namespace {

// Mismatches tried before the differ stops comparing positionally: the
// larger count times ratio, cut to 32 bits; a small positive product gives
// 10, a product beyond 32 bits (or not a number) no limit at all.
uint32_t MismatchLimit(uint32_t count1, uint32_t count2, double ratio) {
    const double product = static_cast<double>(count1 > count2 ? count1 : count2) * ratio;
    if (!(product < 4294967295.0)) return 0xFFFFFFFF;
    // The low 32 bits of the truncated product; a product below the 64-bit
    // range has none left.
    const int64_t whole = product > -9.2e18 ? static_cast<int64_t>(product) : 0;
    uint32_t limit = static_cast<uint32_t>(static_cast<uint64_t>(whole));
    if (limit == 0 && product > 0.0) limit = 10;
    return limit;
}

// The state of one run of Diff.
class DiffRun {
public:
    DiffRun(KvVIterator* first, KvVIterator* second, KvVContainer* onlyFirst,
            KvVContainer* onlySecond, KvDiffListIteratorInterface* diffList)
        : first_(first),
          second_(second),
          onlyFirst_(onlyFirst),
          onlySecond_(onlySecond),
          diffList_(diffList) {}

    int Run(uint32_t limit);

private:
    // Side 0 is the first sequence, side 1 the second.
    KvVIterator* Input(int side) const { return side == 0 ? first_ : second_; }
    KvVContainer* Output(int side) const { return side == 0 ? onlyFirst_ : onlySecond_; }
    static bool Left(const KvVIterator* input) { return input->status == 0; }

    int Deliver(const KvVIterator* source, int side);
    int Advance(KvVIterator* input);
    int Settle(int side, int& state);
    int FinalPhase();

    KvVIterator* first_;
    KvVIterator* second_;
    KvVContainer* onlyFirst_;
    KvVContainer* onlySecond_;
    KvDiffListIteratorInterface* diffList_;
    KvVParameter parameter_;
    // Diff-list entries waiting for an element of side 0 (balance > 0) and of
    // side 1 (balance < 0).
    uint32_t parked_[2] = {0, 0};
    bool delivered_ = false;
};

void SetSide(KvVParameter& parameter, int side) {
    parameter.flags = (parameter.flags & ~uint64_t{1}) | static_cast<uint64_t>(side);
}

int DiffRun::Deliver(const KvVIterator* source, int side) {
    SetSide(parameter_, side);
    delivered_ = true;
    const int status = Output(side)->InsertElement(source, nullptr, 0, &parameter_);
    return status < 0 ? status : 0;
}

int DiffRun::Advance(KvVIterator* input) {
    const int status = input->Next();
    return status < 0 && status != KvCONT_AFTER_LAST ? status : 0;
}

// Takes the current element of one side through the diff list: an entry of
// the other side cancels it, else it is parked (the other side still has
// elements; the state turns to the other side) or delivered. Then the side
// moves on.
int DiffRun::Settle(int side, int& state) {
    KvVIterator* input = Input(side);
    const int other = 1 - side;
    int status = diffList_->SearchElement(input, nullptr, 0, nullptr);
    if (status >= 0) {
        int32_t* balance = diffList_->GetBalance();
        if (balance == nullptr) return KvCONT_NO_POSITION;
        int32_t updated;
        if (__builtin_add_overflow(*balance, side == 0 ? -1 : 1, &updated)) {
            return KvCONT_INTERNAL_ERROR;  // more equal elements than a balance counts
        }
        *balance = updated;
        if (*balance == 0) {
            // A deletion that leaves the iterator off the end (as a tree
            // iterator's does with the last entry) has still removed it.
            status = diffList_->DeleteElement(0, nullptr);
            if (status < 0 && status != KvCONT_BEFORE_FIRST && status != KvCONT_AFTER_LAST) {
                return status;
            }
            --parked_[side];
        }
    } else if (status != KvCONT_MISSING && status != KvCONT_MISSING_2) {
        return status;
    } else if (Left(Input(other))) {
        SetSide(parameter_, side);
        status = diffList_->InsertElement(input, nullptr, 0, &parameter_);
        if (status < 0) return status;
        ++parked_[other];
        state = other + 1;
    } else {
        status = Deliver(input, side);
        if (status < 0) return status;
    }
    return Advance(input);
}

int DiffRun::FinalPhase() {
    int status = diffList_->First();
    while (status == 0) {
        const int32_t* balance = diffList_->GetBalance();
        if (balance == nullptr) return KvCONT_NO_POSITION;
        // The stored balance stays as it is.
        for (int32_t b = *balance; b != 0; b += b < 0 ? 1 : -1) {
            status = Deliver(diffList_, b < 0 ? 0 : 1);
            if (status < 0) return status;
        }
        status = diffList_->Next();
    }
    return status == KvCONT_BEFORE_FIRST || status == KvCONT_AFTER_LAST ? 0 : status;
}

int DiffRun::Run(uint32_t limit) {
    for (KvVIterator* input : {first_, second_}) {
        const int status = input->First();
        if (status < 0 && status != KvCONT_BEFORE_FIRST) return status;
    }
    // State 1: the first sequence's element goes to the diff list, state 2:
    // the second's (after the first's in the same pass), state 0: neither.
    int state = 1;
    uint32_t mismatches = 0;
    int status = 0;
    while (Left(first_) || Left(second_)) {
        if (!Left(first_)) {
            if (parked_[1] > 0) {
                state = 2;
            } else {
                if ((status = Deliver(second_, 1)) < 0) return status;
                if ((status = Advance(second_)) < 0) return status;
                state = 0;
            }
        } else if (!Left(second_)) {
            if (parked_[0] > 0) {
                state = 1;
            } else {
                if ((status = Deliver(first_, 0)) < 0) return status;
                if ((status = Advance(first_)) < 0) return status;
                state = 0;
            }
        } else if (mismatches < limit) {
            int keyResult = 0, orderResult = 0;
            status = first_->CompareElement(second_, nullptr, keyResult, orderResult, nullptr);
            if (status < 0) return status;
            if (keyResult == 0 && orderResult == 0) {
                if ((status = Advance(first_)) < 0) return status;
                if ((status = Advance(second_)) < 0) return status;
                state = 0;
            } else {
                ++mismatches;
                if (state == 0) state = 1;
            }
        }
        if (state == 1 && (status = Settle(0, state)) < 0) return status;
        if (state == 2 && (status = Settle(1, state)) < 0) return status;
    }
    if ((status = FinalPhase()) < 0) return status;
    return delivered_ ? 1 : 0;
}

}  // namespace

KvDiffListIteratorInterface::KvDiffListIteratorInterface(KvVContainer* container)
    : KvVIterator(nullptr, container) {}

KvDiffListIteratorInterface::~KvDiffListIteratorInterface() = default;

KvVContainerDiffer::KvVContainerDiffer() : diffList(nullptr) {}

int KvVContainerDiffer::Diff(KvVIterator* first, KvVIterator* second, KvVContainer* onlyFirst,
                             KvVContainer* onlySecond, double ratio) {
    if (first == nullptr || second == nullptr || first->container == nullptr ||
        second->container == nullptr || onlyFirst == nullptr || onlySecond == nullptr ||
        diffList == nullptr) {
        return KvCONT_NO_CONTAINER;
    }
    DiffRun run(first, second, onlyFirst, onlySecond, diffList);
    return run.Run(MismatchLimit(first->container->count, second->container->count, ratio));
}
