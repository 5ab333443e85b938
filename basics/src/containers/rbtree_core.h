// Node primitives of the red-black trees: the colour lives in the low bit of
// the left word, parents come from a recorded path. Any node type that starts
// with a KvRBTreeNode can use them.
#ifndef KVBASICS_RBTREE_CORE_H
#define KVBASICS_RBTREE_CORE_H

#include <climits>
#include <cstdint>

#include "kvcontainer.h"

namespace tq::rb {

using Node = KvRBTreeNode;

constexpr uintptr_t kRed = 1;

inline Node* Left(const Node* n) {
    return reinterpret_cast<Node*>(n->left & ~kRed);
}
inline Node* Right(const Node* n) {
    return n->right;
}
inline void SetLeft(Node* n, Node* child) {
    n->left = reinterpret_cast<uintptr_t>(child) | (n->left & kRed);
}
inline bool IsRed(const Node* n) {
    return n != nullptr && (n->left & kRed) != 0;
}
inline bool IsBlack(const Node* n) {
    return !IsRed(n);
}
inline void SetRed(Node* n) {
    n->left |= kRed;
}
inline void SetBlack(Node* n) {
    n->left &= ~kRed;
}
inline void CopyColour(Node* to, const Node* from) {
    to->left = (to->left & ~kRed) | (from->left & kRed);
}
inline void* ElementOf(Node* n) {
    return reinterpret_cast<char*>(n) + sizeof(Node);
}
inline const void* ElementOf(const Node* n) {
    return reinterpret_cast<const char*>(n) + sizeof(Node);
}

// Puts child where old was below parent (at the root when parent is null).
inline void Replace(Node*& root, Node* parent, const Node* old, Node* child) {
    if (parent == nullptr) {
        root = child;
    } else if (Left(parent) == old) {
        SetLeft(parent, child);
    } else {
        parent->right = child;
    }
}

// Descends to the leftmost (rightmost) node below n, pushing every node.
inline void PushLeftmost(KvRBTreeNodeStack& path, Node* n) {
    for (; n != nullptr; n = Left(n))
        path.Push(n);
}
inline void PushRightmost(KvRBTreeNodeStack& path, Node* n) {
    for (; n != nullptr; n = Right(n))
        path.Push(n);
}

// One in-order step on a path whose top is the current node; the top is the
// sentinel (null) afterwards when there is no further node.
inline void StepForward(KvRBTreeNodeStack& path) {
    Node* n = path.Top();
    if (n == nullptr) return;
    if (Right(n) != nullptr) {
        PushLeftmost(path, Right(n));
        return;
    }
    for (;;) {
        Node* child = path.Pop();
        Node* parent = path.Top();
        if (parent == nullptr || Left(parent) == child) return;
    }
}
inline void StepBackward(KvRBTreeNodeStack& path) {
    Node* n = path.Top();
    if (n == nullptr) return;
    if (Left(n) != nullptr) {
        PushRightmost(path, Left(n));
        return;
    }
    for (;;) {
        Node* child = path.Pop();
        Node* parent = path.Top();
        if (parent == nullptr || Right(parent) == child) return;
    }
}

// Restores the red-black rules after x (red) was linked below the node on top
// of path; path holds the root down to x's parent and is consumed.
inline void InsertFixup(Node*& root, KvRBTreeNodeStack& path, Node* x) {
    Node* p = path.Pop();
    while (IsRed(p)) {
        Node* g = path.Pop();  // p is red, so it is not the root
        if (Left(g) == p) {
            Node* u = Right(g);
            if (IsRed(u)) {
                SetBlack(p);
                SetBlack(u);
                SetRed(g);
                x = g;
                p = path.Pop();
                continue;
            }
            if (Right(p) == x) {  // inner grandchild: rotate it into p's place
                p->right = Left(x);
                SetLeft(x, p);
                SetLeft(g, x);
                p = x;
            }
            SetLeft(g, Right(p));
            p->right = g;
        } else {
            Node* u = Left(g);
            if (IsRed(u)) {
                SetBlack(p);
                SetBlack(u);
                SetRed(g);
                x = g;
                p = path.Pop();
                continue;
            }
            if (Left(p) == x) {
                SetLeft(p, Right(x));
                x->right = p;
                g->right = x;
                p = x;
            }
            g->right = Left(p);
            SetLeft(p, g);
        }
        SetBlack(p);
        SetRed(g);
        Replace(root, path.Pop(), g, p);
        break;
    }
    SetBlack(root);
}

// Negates a compare result without overflowing.
inline int Negate(int value) {
    return value == INT_MIN ? INT_MAX : -value;
}

}  // namespace tq::rb

// The compare of one tree operation: the argument block is filled once, only
// the element changes from node to node.
struct KvRBTree::Compare {
    Compare(KvRBTree* tree, const void* key, const void* dat, const KvVIterator* source,
            KvVParameter* parameter)
        : function(tree->CompareFunction), args{tree, &keyResult, &orderResult, source,
                                                key,  dat,        nullptr,      parameter} {}
    Compare(const Compare&) = delete;
    Compare& operator=(const Compare&) = delete;

    int operator()(const KvRBTreeNode* node) {
        args.element = tq::rb::ElementOf(node);
        return function(&args);
    }

    KvCompareFunction function;
    int keyResult = 0;
    int orderResult = 0;
    KvCompareArgs args;
};

#endif  // KVBASICS_RBTREE_CORE_H
