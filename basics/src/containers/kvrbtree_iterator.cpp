// The cursor of the red-black tree: it walks its own path from the root.
#include <algorithm>
#include <new>
#include <typeinfo>

#include "containers/rbtree_core.h"
#include "kvcontainer.h"

using namespace tq::rb;

namespace {

// The tree the iterator walks, or null when it is bound to none or to another
// class of container (the base class lets anybody rebind it). The tree class
// itself costs one compare; a class derived from it takes the cast.
KvRBTree* TreeOf(KvVContainer* container) {
    if (container == nullptr) return nullptr;
    if (&typeid(*container) == &typeid(KvRBTree)) return static_cast<KvRBTree*>(container);
    return dynamic_cast<KvRBTree*>(container);  // GCOVR_EXCL_BR_LINE: the cast's null test
}

// What a move answers without a tree: unbound it stands at -520; bound to
// another container it answers -2999 and changes nothing.
int WithoutTree(KvVIterator& iterator) {
    if (iterator.container != nullptr) return KvCONT_NOT_IMPLEMENTED;
    return iterator.status = KvCONT_NO_CONTAINER;
}

}  // namespace

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
    KvRBTree* const tree = TreeOf(container);
    if (tree == nullptr) return WithoutTree(*this);
    if (status == KvCONT_NO_CONTAINER) return status;  // GCOVR_EXCL_BR_LINE: -520 only unbound
    Reset();
    if (last) {
        PushRightmost(*this, tree->root);
    } else {
        PushLeftmost(*this, tree->root);
    }
    if (Top() == nullptr) {
        status = last ? KvCONT_AFTER_LAST : KvCONT_BEFORE_FIRST;
        return status;
    }
    changeSnapshot = tree->changeCount;
    status = 0;
    return 0;
}

int KvRBTreeIterator::Next() {
    const KvRBTree* const tree = TreeOf(container);
    if (tree == nullptr) return WithoutTree(*this);
    if (status == KvCONT_BEFORE_FIRST) {
        const int result = KvRBTreeIterator::First();
        if (result != KvCONT_BEFORE_FIRST) return result;
        status = KvCONT_AFTER_LAST;  // empty: from before the first to behind the last
        return status;
    }
    if (status < 0) return status;
    if (changeSnapshot != tree->changeCount) {
        status = KvCONT_NO_POSITION;
        return KvCONT_CHANGED;
    }
    StepForward(*this);
    if (Top() == nullptr) status = KvCONT_AFTER_LAST;
    return status;
}

int KvRBTreeIterator::Prior() {
    const KvRBTree* const tree = TreeOf(container);
    if (tree == nullptr) return WithoutTree(*this);
    if (status == KvCONT_AFTER_LAST) {
        const int result = KvRBTreeIterator::Last();
        if (result != KvCONT_AFTER_LAST) return result;
        status = KvCONT_BEFORE_FIRST;
        return status;
    }
    if (status < 0) return status;
    if (changeSnapshot != tree->changeCount) {
        status = KvCONT_NO_POSITION;
        return KvCONT_CHANGED;
    }
    StepBackward(*this);
    if (Top() == nullptr) status = KvCONT_BEFORE_FIRST;
    return status;
}

const void* KvRBTreeIterator::GetEntry(int& result, KvVParameter*) const {
    const KvRBTree* const tree = TreeOf(container);
    if (tree == nullptr) {
        result = container != nullptr ? KvCONT_NOT_IMPLEMENTED : KvCONT_NO_CONTAINER;
        return nullptr;
    }
    if (status < 0) {
        result = status;
        return nullptr;
    }
    if (changeSnapshot != tree->changeCount) {
        result = KvCONT_CHANGED;
        return nullptr;
    }
    result = status;
    return Top();
}

int KvRBTreeIterator::DeleteElement(unsigned short mode, KvVParameter* parameter) {
    KvRBTree* const tree = TreeOf(container);
    if (tree == nullptr) return WithoutTree(*this);
    if (status < 0) return status;
    if (changeSnapshot != tree->changeCount) return KvCONT_CHANGED;
    if (Top() == nullptr) return status;  // GCOVR_EXCL_BR_LINE: status 0 stands on an entry

    const bool backward = (mode & KvCONT_BACKWARD) != 0;
    KvRBTreeNode** const slot = top;
    const int moved = backward ? KvRBTreeIterator::Prior() : KvRBTreeIterator::Next();
    // GCOVR_EXCL_START: positioned on an unchanged tree, a step only moves or runs off an end
    if (moved < 0 && moved != KvCONT_BEFORE_FIRST && moved != KvCONT_AFTER_LAST) {
        status = moved;
        return moved;
    }
    // GCOVR_EXCL_STOP
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
    // GCOVR_EXCL_BR_START: the neighbour found before the removal is still in the tree
    status = found == KvCONT_MISSING ? KvCONT_INTERNAL_ERROR : found;
    // GCOVR_EXCL_BR_STOP
    return status;
}
