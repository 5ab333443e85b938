// The cursor of the red-black tree: it walks its own path from the root.
#include <algorithm>
#include <new>

#include "kvcontainer.h"
#include "rbtree_core.h"

using namespace tq::rb;

KvRBTreeIterator::KvRBTreeIterator(KvRBTree* tree, KvTransactionContext* context)
    : KvVIterator(context, tree), changeSnapshot(tree != nullptr ? tree->changeCount : 0) {
    path[0] = nullptr;
    Reset();
}

KvRBTreeIterator::KvRBTreeIterator(const KvRBTreeIterator& other)
    : KvVIterator(other), changeSnapshot(other.changeSnapshot) {
    top = path + (other.top - other.path);
    std::copy(other.path, other.path + (other.top - other.path) + 1, path);
}

KvRBTreeIterator& KvRBTreeIterator::operator=(const KvRBTreeIterator& other) {
    if (this != &other) {
        KvVIterator::operator=(other);
        top = path + (other.top - other.path);
        std::copy(other.path, other.path + (other.top - other.path) + 1, path);
        changeSnapshot = other.changeSnapshot;
    }
    return *this;
}

KvRBTreeIterator::~KvRBTreeIterator() = default;

unsigned short KvRBTreeIterator::GetType() const {
    return KvCONT_TYPE_RBTREE;
}

KvVIterator* KvRBTreeIterator::Clone(KvVIterator* target) const {
    if (target == nullptr) return new (std::nothrow) KvRBTreeIterator(*this);
    if (target->container == nullptr || target->container->GetType() != KvCONT_TYPE_RBTREE) {
        return nullptr;
    }
    // Only a tree iterator has room for the path.
    auto* iterator = dynamic_cast<KvRBTreeIterator*>(target);
    if (iterator == nullptr) return nullptr;
    *iterator = *this;
    return iterator;
}

int KvRBTreeIterator::First() {
    return StandAtEnd(false);
}

int KvRBTreeIterator::Last() {
    return StandAtEnd(true);
}

int KvRBTreeIterator::StandAtEnd(bool last) {
    if (status == KvCONT_NO_CONTAINER || container == nullptr) {
        status = KvCONT_NO_CONTAINER;
        return status;
    }
    Reset();
    if (last) {
        PushRightmost(*this, Tree()->root);
    } else {
        PushLeftmost(*this, Tree()->root);
    }
    if (Top() == nullptr) {
        status = last ? KvCONT_AFTER_LAST : KvCONT_BEFORE_FIRST;
        return status;
    }
    changeSnapshot = Tree()->changeCount;
    status = 0;
    return 0;
}

int KvRBTreeIterator::Next() {
    if (status == KvCONT_BEFORE_FIRST) {
        const int result = KvRBTreeIterator::First();
        if (result != KvCONT_BEFORE_FIRST) return result;
        status = KvCONT_AFTER_LAST;  // empty: from before the first to behind the last
        return status;
    }
    if (status < 0) return status;
    if (container == nullptr) return status = KvCONT_NO_CONTAINER;
    if (changeSnapshot != Tree()->changeCount) {
        status = KvCONT_NO_POSITION;
        return KvCONT_CHANGED;
    }
    StepForward(*this);
    if (Top() == nullptr) status = KvCONT_AFTER_LAST;
    return status;
}

int KvRBTreeIterator::Prior() {
    if (status == KvCONT_AFTER_LAST) {
        const int result = KvRBTreeIterator::Last();
        if (result != KvCONT_AFTER_LAST) return result;
        status = KvCONT_BEFORE_FIRST;
        return status;
    }
    if (status < 0) return status;
    if (container == nullptr) return status = KvCONT_NO_CONTAINER;
    if (changeSnapshot != Tree()->changeCount) {
        status = KvCONT_NO_POSITION;
        return KvCONT_CHANGED;
    }
    StepBackward(*this);
    if (Top() == nullptr) status = KvCONT_BEFORE_FIRST;
    return status;
}

const void* KvRBTreeIterator::GetEntry(int& result, KvVParameter*) const {
    if (status < 0) {
        result = status;
        return nullptr;
    }
    if (container == nullptr) {
        result = KvCONT_NO_CONTAINER;
        return nullptr;
    }
    if (changeSnapshot != Tree()->changeCount) {
        result = KvCONT_CHANGED;
        return nullptr;
    }
    result = status;
    return Top();
}

int KvRBTreeIterator::DeleteElement(unsigned short mode, KvVParameter* parameter) {
    if (status < 0) return status;
    if (container == nullptr) return status = KvCONT_NO_CONTAINER;
    KvRBTree* tree = Tree();
    if (changeSnapshot != tree->changeCount) return KvCONT_CHANGED;
    if (Top() == nullptr) return status;

    const bool backward = (mode & KvCONT_BACKWARD) != 0;
    KvRBTreeNode** const slot = top;
    const int moved = backward ? KvRBTreeIterator::Prior() : KvRBTreeIterator::Next();
    if (moved < 0 && moved != KvCONT_BEFORE_FIRST && moved != KvCONT_AFTER_LAST) {
        status = moved;
        return moved;
    }
    const KvRBTreeNode* neighbour = moved == 0 ? Top() : nullptr;

    // The move left the path below slot alone: it still leads to the entry.
    top = slot;
    PushRightmost(*this, Left(*slot));
    tree->Remove(*this, slot);
    changeSnapshot = tree->changeCount;
    Reset();

    if (neighbour == nullptr) {
        status = moved;
        return status;
    }
    // Rotations may have moved the neighbour: find it again from the root.
    const int found = tree->Locate(neighbour, backward ? KvCONT_LAST_EQUAL : 0, parameter, *this);
    status = found == KvCONT_MISSING ? KvCONT_INTERNAL_ERROR : found;
    return status;
}
