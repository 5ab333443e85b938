// The compact red-black tree: one descent finds a key or the place to add it,
// and the nodes are threaded in key order.
#include "containers/rbtree_core.h"
#include "kvcontainer.h"

using namespace tq::rb;

static_assert(sizeof(KvRBTree1Node) == KvRBTree1Node::kElementOffset);
static_assert(sizeof(KvRBTree1NodeStack) == sizeof(KvRBTreeNodeStack));

namespace {

// Keeps every path within its 63 usable slots, as for KvRBTree.
constexpr uint32_t kMaxCount = 0x7FFFFFFF;

uint32_t NodeSize(unsigned int elementSize) {
    const uint64_t size = uint64_t{elementSize} + KvRBTree1Node::kElementOffset;
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

KvRBTree1Node* Tree1(Node* node) {
    return static_cast<KvRBTree1Node*>(node);
}

// Whether stack still leads from root to a free child slot on the side of
// result. An insertion since the search may have rotated nodes off the path;
// the fix-up would then climb through wrong parents. The nodes were just
// visited, so the walk costs a few cached loads per level; it stops at the
// first broken link, before reading a node that may have left the tree.
bool LeadsToFreePlace(const Node* root, const KvRBTreeNodeStack& stack, int result) {
    const uintptr_t offset =
        reinterpret_cast<uintptr_t>(stack.top) - reinterpret_cast<uintptr_t>(stack.path);
    if (offset % sizeof(Node*) != 0 || offset / sizeof(Node*) >= KvRBTreeNodeStack::kSlots) {
        return false;
    }
    const size_t depth = offset / sizeof(Node*);
    if (stack.path[0] != nullptr) return false;  // the sentinel the fix-up stops at
    if (depth == 0) return root == nullptr;
    if (result == 0 || root == nullptr || stack.path[1] != root) return false;
    for (size_t i = 1; i < depth; ++i) {
        const Node* parent = stack.path[i];
        const Node* child = stack.path[i + 1];
        if (child == nullptr || (Left(parent) != child && Right(parent) != child)) return false;
    }
    const Node* parent = stack.path[depth];
    return (result > 0 ? Right(parent) : Left(parent)) == nullptr;
}

}  // namespace

KvRBTree1::KvRBTree1() : KvRBTree1(0, 0) {}

KvRBTree1::KvRBTree1(unsigned int elementSize, unsigned int entriesPerBlock)
    : count(0),
      elementSize(elementSize),
      root(nullptr),
      first(nullptr),
      last(nullptr),
      cache(NodeSize(elementSize), entriesPerBlock, 8) {}

KvRBTree1::~KvRBTree1() = default;

KvRBTree1Node* KvRBTree1::AddNode(const void* key, KvRBTree1NodeStack& stack, int result) {
    // The path must lead to a free place of this tree, not to an equal key.
    if (!LeadsToFreePlace(root, stack, result) || count >= kMaxCount) return nullptr;
    KvRBTree1Node* parent = stack.TopNode();
    auto* node = static_cast<KvRBTree1Node*>(cache.GetEntry());
    if (node == nullptr) return nullptr;
    node->left = kRed;
    node->right = nullptr;
    node->prev = nullptr;
    node->next = nullptr;
    InitElement(key, node->Element());

    if (parent == nullptr) {
        SetBlack(node);
        root = first = last = node;
    } else {
        if (result > 0) {  // right child: the parent's successor
            parent->right = node;
            node->prev = parent;
            node->next = parent->next;
            if (parent->next != nullptr) {
                parent->next->prev = node;
            } else {
                last = node;
            }
            parent->next = node;
        } else {  // left child: the parent's predecessor
            SetLeft(parent, node);
            node->next = parent;
            node->prev = parent->prev;
            if (parent->prev != nullptr) {
                parent->prev->next = node;
            } else {
                first = node;
            }
            parent->prev = node;
        }
        Node* top = root;
        InsertFixup(top, stack, node);
        root = Tree1(top);
    }
    ++count;
    return node;
}

void KvRBTree1::Clear() {
    count = 0;
    root = first = last = nullptr;
    cache.UngetAllEntries();
}
