// The red-black tree container: construction, clearing, insertion and the
// consistency check. Searching and removal are in kvrbtree_search.cpp.
#include <new>

#include "containers/rbtree_core.h"
#include "kvcontainer.h"

using namespace tq::rb;

namespace {

// Keeps every path within its 63 usable slots (a red-black tree of fewer
// than 2^31 nodes is at most 62 levels deep).
constexpr uint32_t kMaxCount = 0x7FFFFFFF;

uint32_t NodeSize(unsigned int elementSize) {
    const uint64_t size = uint64_t{elementSize} + sizeof(Node);
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

}  // namespace

KvRBTreeParameter::KvRBTreeParameter() = default;

KvRBTreeParameter::~KvRBTreeParameter() = default;

unsigned short KvRBTreeParameter::GetType() const {
    return KvCONT_TYPE_RBTREE;
}

KvRBTree::KvRBTree() : KvRBTree(0, 0, 0) {}

KvRBTree::KvRBTree(unsigned int elementSize, unsigned short flags, unsigned int entriesPerBlock)
    : KvVContainer(elementSize, flags),
      root(nullptr),
      maxEntry(nullptr),
      cache(NodeSize(elementSize), entriesPerBlock, 8),
      hasEqualKeys(0),
      changeCount(0) {}

KvRBTree::~KvRBTree() {
    if (DestroyFunction != nullptr) DestroyElements(root);
}

unsigned short KvRBTree::GetType() const {
    return KvCONT_TYPE_RBTREE;
}

const void* KvRBTree::GetElementOfEntry(const void* entry) const {
    return entry == nullptr ? nullptr : ElementOf(static_cast<const Node*>(entry));
}

KvVIterator* KvRBTree::CreateIterator(KvTransactionContext* context) {
    return new (std::nothrow) KvRBTreeIterator(this, context);
}

void KvRBTree::DestroyElements(Node* node) {
    if (node == nullptr) return;
    DestroyElements(Left(node));
    DestroyElements(Right(node));
    DestroyFunction(this, ElementOf(node));
}

int KvRBTree::Clear(KvTransactionContext*, unsigned int* removedCount, KvVContainer*) {
    if (removedCount != nullptr) *removedCount = count;
    count = 0;
    if (DestroyFunction != nullptr) DestroyElements(root);
    root = nullptr;
    maxEntry = nullptr;
    hasEqualKeys = 0;
    cache.UngetAllEntries();
    // Iterators still standing on the recycled nodes must see the change.
    ++changeCount;
    return 0;
}

void KvRBTree::FreeNode(Node* node) {
    if (DestroyFunction != nullptr) DestroyFunction(this, ElementOf(node));
    cache.PutEntry(node);
}

int KvRBTree::ReadNode(const Node* node, KvVParameter* parameter, const void*& key,
                       const void*& dat) {
    if (KeyFunction == nullptr || DatFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;
    int status = 0;
    key = KeyFunction(this, ElementOf(node), &status, parameter);
    if (status < 0) return status;
    dat = DatFunction(this, ElementOf(node), &status, parameter);
    if (status == KvCONT_NO_DAT) {
        dat = nullptr;
        status = 0;
    }
    return status < 0 ? status : 0;
}

int KvRBTree::ReadSource(const KvVIterator* source, KvVParameter* p1, const void*& key,
                         const void*& dat) const {
    if (source == nullptr) return KvCONT_NO_CONTAINER;
    int status = 0;
    const void* entry = source->GetEntry(status, p1);
    if (status < 0) return status;
    if (entry == nullptr) return KvCONT_NO_POSITION;
    key = nullptr;
    dat = nullptr;
    status = source->GetEntryParts(entry, nullptr, &key, &dat, nullptr, p1);
    if (status == KvCONT_NO_DAT) {
        dat = nullptr;
        status = 0;
    }
    return status < 0 ? status : 0;
}

void* KvRBTree::CreateEntry(int& status) {
    Node* node = static_cast<Node*>(cache.GetEntry());
    if (node == nullptr) {
        status = KvCONT_NO_MEMORY;
        return nullptr;
    }
    node->left = kRed;
    node->right = nullptr;
    status = 0;
    return node;
}

int KvRBTree::InsertElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                            KvVParameter* p2) {
    const void* key;
    const void* dat;
    int status = ReadSource(source, p1, key, dat);
    if (status < 0) return status;
    if (CopyFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;
    Node* node = static_cast<Node*>(cache.GetEntry());
    if (node == nullptr) return KvCONT_NO_MEMORY;
    status = CopyFunction(this, ElementOf(node), source, key, dat, p2);
    if (status < 0) {
        cache.PutEntry(node);  // no element was built: nothing to destroy
        return status;
    }
    return InsertEntry(node, mode, p2);
}

int KvRBTree::InsertEntry(const void* entry, unsigned short mode, KvVParameter* parameter) {
    if (entry == nullptr) return KvCONT_NO_POSITION;
    Node* node = static_cast<Node*>(const_cast<void*>(entry));
    node->left = kRed;
    node->right = nullptr;

    // Any failure destroys the element and gives the node back; the tree is
    // left as it was.
    auto reject = [this, node](int status) {
        FreeNode(node);
        return status;
    };
    const void* key;
    const void* dat;
    int status = ReadNode(node, parameter, key, dat);
    if (status < 0) return reject(status);
    if (CompareFunction == nullptr) return reject(KvCONT_NOT_IMPLEMENTED);
    if (count >= kMaxCount) return reject(KvCONT_NO_MEMORY);

    if (root == nullptr) {
        SetBlack(node);
        root = maxEntry = node;
        ++count;
        ++changeCount;
        return 0;
    }

    Compare compare(this, key, dat, nullptr, nullptr);
    const bool before = (mode & KvCONT_BEFORE_EQUAL) != 0;
    const bool duplicates = (flags & KvCONT_DUPLICATES) != 0;
    const bool equalKeys = (flags & KvCONT_EQUAL_KEYS) != 0;
    bool metEqualKey = false;
    // The equality rule of the container flags, applied to every compare.
    auto refused = [&]() {
        if (compare.keyResult == 0) metEqualKey = true;
        if (duplicates) return false;
        if (compare.orderResult == 0) return true;
        return compare.keyResult == 0 && !equalKeys;
    };

    KvRBTreeNodeStack path;
    path.Reset();
    status = compare(maxEntry);
    if (status < 0) return reject(status);
    if (compare.orderResult > 0 || (compare.orderResult == 0 && !before)) {
        // Ascending keys: append behind the greatest entry without descending.
        if (refused()) return reject(KvCONT_DUPLICATE);
        for (Node* n = root; n != maxEntry; n = Right(n))
            path.Push(n);
        path.Push(maxEntry);
        maxEntry->right = node;
        maxEntry = node;
    } else {
        Node* n = root;
        Node** top = path.top;  // in a register across the opaque compare calls
        for (;;) {
            *++top = n;
            status = compare(n);
            if (status < 0) return reject(status);
            const int order = compare.orderResult;
            if ((order == 0 || compare.keyResult == 0) && refused()) {
                return reject(KvCONT_DUPLICATE);
            }
            const bool goLeft = order < 0 || (order == 0 && before);
            Node* child = goLeft ? Left(n) : Right(n);
            if (child == nullptr) {
                if (goLeft) {
                    SetLeft(n, node);
                } else {
                    n->right = node;
                }
                break;
            }
            n = child;
        }
        path.top = top;
    }
    InsertFixup(root, path, node);
    if (metEqualKey) hasEqualKeys = 1;
    ++count;
    ++changeCount;
    return 0;
}

int KvRBTree::CheckSubtree(Compare& compare, const Node* node, KvVParameter* parameter,
                           uint32_t& nodes, int& blackHeight) {
    if (node == nullptr) {
        blackHeight = 1;
        return 0;
    }
    ++nodes;
    const Node* children[2] = {Left(node), Right(node)};
    if (IsRed(node) && (IsRed(children[0]) || IsRed(children[1]))) return -2;
    for (int side = 0; side < 2; ++side) {
        const Node* child = children[side];
        if (child == nullptr) continue;
        int status = ReadNode(child, parameter, compare.args.key, compare.args.dat);
        if (status < 0) return status;
        status = compare(node);
        if (status < 0) return status;
        const int order = compare.orderResult;
        if (side == 0 ? order > 0 : order < 0) return -4;
        if (order == 0 && (flags & KvCONT_DUPLICATES) == 0) return -4;
    }
    int heights[2];
    for (int side = 0; side < 2; ++side) {
        const int status = CheckSubtree(compare, children[side], parameter, nodes, heights[side]);
        if (status != 0) return status;
    }
    if (heights[0] != heights[1]) return -3;
    blackHeight = heights[0] + (IsRed(node) ? 0 : 1);
    return 0;
}

int KvRBTree::CheckTree(KvVParameter* parameter) {
    if (IsRed(root)) return -1;
    if (root != nullptr && CompareFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;
    Compare compare(this, nullptr, nullptr, nullptr, nullptr);
    uint32_t nodes = 0;
    int blackHeight = 0;
    const int status = CheckSubtree(compare, root, parameter, nodes, blackHeight);
    if (status != 0) return status;
    return nodes == count ? 0 : -5;
}

void KvRBTree::OutTree(KvVParameter*) {}
