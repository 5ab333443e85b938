// The red-black tree container: searching and removal.
#include <typeinfo>

#include "containers/rbtree_core.h"
#include "kvcontainer.h"

using namespace tq::rb;

namespace {

// Deletion looks for the entry itself: no neighbour, no continuation.
constexpr unsigned short kDeleteModeMask = 0xFE9F;

// The tree iterator that result really is, or null: only one has room for a
// path, whatever type code another class answers. The class itself costs one
// compare; a class derived from it takes the cast.
KvRBTreeIterator* AsTreeIterator(KvVIterator* result) {
    if (&typeid(*result) == &typeid(KvRBTreeIterator)) {
        return static_cast<KvRBTreeIterator*>(result);
    }
    return dynamic_cast<KvRBTreeIterator*>(result);  // GCOVR_EXCL_BR_LINE: the cast's null test
}

}  // namespace

// Descends for compare's key. On a hit the result is the first (last with
// KvCONT_LAST_EQUAL) of the run of equal entries, matchSlot its path slot;
// the path ends there, or at its in-order neighbour with KvCONT_KEEP_PATH.
// A continuation returns the entry behind the run. On a miss the result is
// the neighbour asked for by KvCONT_OR_HIGHER/KvCONT_OR_LOWER with status
// KvCONT_MISSING. A failing compare returns the node at hand with its status.
Node* KvRBTree::Search(Compare& compare, unsigned short mode, KvVParameter* parameter,
                       KvRBTreeNodeStack& path, Node**& matchSlot, int& status) {
    status = 0;
    path.Reset();
    matchSlot = nullptr;
    int lastOrder = 1;
    Node* hit = root;
    // The top is kept in a register: the compare function is opaque to the
    // compiler, which would otherwise reload it at every level.
    Node** top = path.top;
    while (hit != nullptr) {
        *++top = hit;
        // Both children start loading while the compare reads the key: in a
        // tree larger than the caches each level is otherwise a miss after
        // the compare.
        __builtin_prefetch(Left(hit));
        __builtin_prefetch(Right(hit));
        status = compare(hit);
        lastOrder = compare.orderResult;
        if (status < 0) break;
        if (lastOrder < 0) {
            hit = Left(hit);
        } else if (lastOrder > 0) {
            hit = Right(hit);
        } else {
            break;
        }
    }
    path.top = top;
    if (status < 0) return hit;

    if (hit == nullptr) {
        Node* neighbour = nullptr;
        if ((mode & KvCONT_OR_HIGHER) != 0) {
            if (lastOrder <= 0) {
                neighbour = path.Top();
            } else {
                for (;;) {  // up to the first ancestor we went left from
                    Node* child = path.Pop();
                    neighbour = path.Top();
                    if (neighbour == nullptr || Left(neighbour) == child) break;
                }
            }
        } else if ((mode & KvCONT_OR_LOWER) != 0) {
            if (lastOrder >= 0) {
                neighbour = path.Top();
            } else {
                for (;;) {
                    Node* child = path.Pop();
                    neighbour = path.Top();
                    if (neighbour == nullptr || Right(neighbour) == child) break;
                }
            }
        } else {
            path.Reset();
        }
        status = KvCONT_MISSING;
        return neighbour;
    }

    matchSlot = path.top;
    bool lastEqual = (mode & KvCONT_LAST_EQUAL) != 0;
    bool continuation = false;
    if ((mode & KvCONT_CONTINUE) != 0 && parameter != nullptr && parameter->entry != nullptr) {
        const Node* after = static_cast<const Node*>(parameter->entry);
        if (after == hit) {
            continuation = true;
        } else {
            Compare same(this, nullptr, nullptr, compare.args.iterator, compare.args.parameter);
            status = ReadNode(after, parameter, same.args.key, same.args.dat);
            if (status < 0) return hit;
            status = same(hit);
            if (status < 0) return hit;
            continuation = same.orderResult == 0;
        }
        if (continuation) lastEqual = true;
    }

    Node* best = hit;
    if (hasEqualKeys != 0 || (mode & KvCONT_KEEP_PATH) != 0) {
        // Scan below the hit: one step towards the end of the run, then back
        // in the other direction. With equal keys every node is compared and
        // an equal one becomes the best match; without, the walk only records
        // the path to the hit's in-order neighbour.
        Node* n = lastEqual ? Right(hit) : Left(hit);
        while (n != nullptr) {
            path.Push(n);
            bool equal = false;
            if (hasEqualKeys != 0) {
                status = compare(n);
                if (status < 0) return n;
                equal = compare.orderResult == 0;
            }
            if (equal) {
                best = n;
                matchSlot = path.top;
            }
            n = equal == lastEqual ? Right(n) : Left(n);
        }
    }

    if (continuation) {
        if (path.top == matchSlot) StepForward(path);
        return path.Top();  // null with status 0: nothing behind the run
    }
    if ((mode & KvCONT_KEEP_PATH) == 0) path.top = matchSlot;
    return best;
}

int KvRBTree::SearchElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                            KvVParameter* p2, KvVIterator* result) {
    KvRBTreeIterator* iterator = nullptr;
    if (result != nullptr) {
        iterator = AsTreeIterator(result);
        if (iterator == nullptr) return KvCONT_NOT_IMPLEMENTED;
        if (result->container != this) return KvCONT_NO_CONTAINER;
    }
    const void* key;
    const void* dat;
    int status = ReadSource(source, p1, key, dat);
    if (status < 0) return status;
    if (CompareFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;

    Compare compare(this, key, dat, source, p2);
    // A result iterator stands on what is returned, never on a neighbour.
    mode &= static_cast<unsigned short>(~KvCONT_KEEP_PATH);
    KvRBTreeNodeStack local;
    KvRBTreeNodeStack& path = iterator != nullptr ? *iterator : local;
    Node** matchSlot;
    Node* found = Search(compare, mode, p2, path, matchSlot, status);
    if (iterator == nullptr) return status;

    iterator->changeSnapshot = changeCount;
    if (status < 0 && status != KvCONT_MISSING) {
        iterator->status = status;
        iterator->Reset();
    } else if (found != nullptr) {
        iterator->status = 0;
    } else {
        iterator->Reset();
        if (status == 0 || (mode & KvCONT_OR_HIGHER) != 0) {
            // A continuation that ran off the end, or no greater entry: behind
            // the last entry, where Prior finds the greatest one below the key.
            iterator->status = KvCONT_AFTER_LAST;
        } else if ((mode & KvCONT_OR_LOWER) != 0) {
            iterator->status = KvCONT_BEFORE_FIRST;
        } else if ((mode & KvCONT_CONTINUE) != 0) {
            iterator->status = KvCONT_AFTER_LAST;
        } else {
            iterator->status = KvCONT_NO_POSITION;
        }
    }
    return status;
}

int KvRBTree::DeleteElement(const KvVIterator* source, KvVParameter* p1, unsigned short mode,
                            KvVParameter* p2) {
    const void* key;
    const void* dat;
    int status = ReadSource(source, p1, key, dat);
    if (status < 0) return status;
    if (CompareFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;
    Compare compare(this, key, dat, source, p2);
    KvRBTreeNodeStack path;
    Node** matchSlot;
    mode = (mode & kDeleteModeMask) | KvCONT_KEEP_PATH;
    Node* found = Search(compare, mode, p2, path, matchSlot, status);
    if (status < 0) return status;
    if (found == nullptr) return KvCONT_MISSING;
    Remove(path, matchSlot);
    return 0;
}

// Builds the path from the root to node, found by its own key and, among
// equal entries, by walking the run (backwards with KvCONT_LAST_EQUAL).
int KvRBTree::Locate(const Node* node, unsigned short mode, KvVParameter* parameter,
                     KvRBTreeNodeStack& path) {
    path.Reset();
    if (CompareFunction == nullptr) return KvCONT_NOT_IMPLEMENTED;
    Compare compare(this, nullptr, nullptr, nullptr, parameter);
    int status = ReadNode(node, parameter, compare.args.key, compare.args.dat);
    if (status < 0) return status;
    mode &= kDeleteModeMask & static_cast<unsigned short>(~KvCONT_KEEP_PATH);
    Node** matchSlot;
    const Node* hit = Search(compare, mode, parameter, path, matchSlot, status);
    if (status < 0) {
        path.Reset();
        return status;
    }
    if (hit == node) return 0;
    if (hasEqualKeys != 0) {
        const bool backward = (mode & KvCONT_LAST_EQUAL) != 0;
        for (;;) {
            if (backward) {
                StepBackward(path);
            } else {
                StepForward(path);
            }
            const Node* n = path.Top();
            if (n == nullptr) break;
            if (n == node) return 0;
            status = compare(n);
            if (status < 0) {
                path.Reset();
                return status;
            }
            if (compare.orderResult != 0) break;
        }
    }
    path.Reset();
    return KvCONT_MISSING;
}

int KvRBTree::DeleteEntry(const void* entry, unsigned short mode, KvVParameter* parameter) {
    if (entry == nullptr) return KvCONT_MISSING;
    const Node* node = static_cast<const Node*>(entry);
    KvRBTreeNodeStack path;
    const int status = Locate(node, mode, parameter, path);
    if (status < 0) return status;
    Node** matchSlot = path.top;
    if ((mode & KvCONT_LAST_EQUAL) != 0) {
        PushLeftmost(path, Right(node));
    } else {
        PushRightmost(path, Left(node));
    }
    Remove(path, matchSlot);
    return 0;
}

// Removes the node in matchSlot. The top of path is the node R that leaves
// its place: the removed node's in-order neighbour below it, or the node
// itself when it has no child on that side; R has at most one child.
void KvRBTree::Remove(KvRBTreeNodeStack& path, Node** matchSlot) {
    Node* const d = *matchSlot;
    Node* const r = path.Pop();
    Node* p = path.Top();
    Node* c = Left(r) != nullptr ? Left(r) : Right(r);
    const bool removedBlack = IsBlack(r);
    bool cLeft = p != nullptr && Left(p) == r;

    if (maxEntry == d) {
        if (r != d) {
            maxEntry = r;
        } else if (c != nullptr) {
            maxEntry = c;  // a lone child of a black node is a red leaf
        } else {
            maxEntry = matchSlot[-1];  // null: the tree becomes empty
        }
    }

    Replace(root, p, r, c);
    if (r != d) {
        *matchSlot = r;
        r->left = d->left;  // d's left child and colour
        r->right = d->right;
        Replace(root, matchSlot[-1], d, r);
        if (p == d) p = r;
    }

    if (removedBlack) {
        // c carries an extra black; p is its parent and on top of the path.
        while (c != root && IsBlack(c)) {
            if (cLeft) {
                Node* s = Right(p);
                if (IsRed(s)) {
                    SetBlack(s);
                    SetRed(p);
                    p->right = Left(s);
                    SetLeft(s, p);
                    Replace(root, path.top[-1], p, s);
                    *path.top = s;  // s now sits between p and its old parent
                    path.Push(p);
                    s = Right(p);
                }
                if (IsBlack(Left(s)) && IsBlack(Right(s))) {
                    SetRed(s);
                    c = p;
                    path.Pop();
                    p = path.Top();
                    cLeft = p != nullptr && Left(p) == c;
                    continue;
                }
                if (IsBlack(Right(s))) {
                    Node* n = Left(s);
                    SetBlack(n);
                    SetRed(s);
                    SetLeft(s, Right(n));
                    n->right = s;
                    p->right = n;
                    s = n;
                }
                CopyColour(s, p);
                SetBlack(p);
                SetBlack(Right(s));
                p->right = Left(s);
                SetLeft(s, p);
                Replace(root, path.top[-1], p, s);
            } else {
                Node* s = Left(p);
                if (IsRed(s)) {
                    SetBlack(s);
                    SetRed(p);
                    SetLeft(p, Right(s));
                    s->right = p;
                    Replace(root, path.top[-1], p, s);
                    *path.top = s;
                    path.Push(p);
                    s = Left(p);
                }
                if (IsBlack(Left(s)) && IsBlack(Right(s))) {
                    SetRed(s);
                    c = p;
                    path.Pop();
                    p = path.Top();
                    cLeft = p != nullptr && Left(p) == c;
                    continue;
                }
                if (IsBlack(Left(s))) {
                    Node* n = Right(s);
                    SetBlack(n);
                    SetRed(s);
                    s->right = Left(n);
                    SetLeft(n, s);
                    SetLeft(p, n);
                    s = n;
                }
                CopyColour(s, p);
                SetBlack(p);
                SetBlack(Left(s));
                SetLeft(p, Right(s));
                s->right = p;
                Replace(root, path.top[-1], p, s);
            }
            c = root;
            break;
        }
        if (c != nullptr) SetBlack(c);
    }

    ++changeCount;
    --count;
    // Last, so that a destroy function sees a consistent tree.
    FreeNode(d);
}
