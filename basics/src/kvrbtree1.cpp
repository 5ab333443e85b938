// The compact red-black tree: one descent finds a key or the place to add it,
// and the nodes are threaded in key order.
#include "kvcontainer.h"
#include "rbtree_core.h"

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
    KvRBTree1Node* parent = stack.TopNode();
    // The path must end at a free place of this tree, not at an equal key.
    if (parent == nullptr ? root != nullptr
                          : result == 0 || (result > 0 ? Right(parent) : Left(parent)) != nullptr) {
        return nullptr;
    }
    if (count >= kMaxCount) return nullptr;
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
