// Intrusive linked lists: the owning doubly linked list and the simple singly
// linked list.
#include "kvlist.h"

namespace {

constexpr int kNotInList = -502;

}  // namespace

// ---------------------------------------------------------------------------
// KvLinkedListItem

KvLinkedListItem::~KvLinkedListItem() {
    UnLink();
}

void KvLinkedListItem::UnLink() {
    if (next_ != nullptr) next_->previous_ = previous_;
    if (previous_ != nullptr) previous_->next_ = next_;
    previous_ = nullptr;
    next_ = nullptr;
}

// ---------------------------------------------------------------------------
// KvLinkedList

KvLinkedList::~KvLinkedList() {
    Clear();
}

void KvLinkedList::InsertFirst(KvLinkedListItem* item) {
    item->previous_ = nullptr;
    if (first_ == nullptr) {
        item->next_ = nullptr;
        first_ = last_ = item;
        return;
    }
    first_->previous_ = item;
    item->next_ = first_;
    first_ = item;
}

void KvLinkedList::Append(KvLinkedListItem* item) {
    item->next_ = nullptr;
    if (last_ == nullptr) {
        item->previous_ = nullptr;
        first_ = last_ = item;
        return;
    }
    last_->next_ = item;
    item->previous_ = last_;
    last_ = item;
}

void KvLinkedList::RemoveFirst() {
    KvLinkedListItem* item = first_;
    if (item == nullptr) return;
    first_ = item->next_;
    if (first_ == nullptr) last_ = nullptr;
    item->UnLink();
}

void KvLinkedList::RemoveLast() {
    KvLinkedListItem* item = last_;
    if (item == nullptr) return;
    last_ = item->previous_;
    if (last_ == nullptr) first_ = nullptr;
    item->UnLink();
}

void KvLinkedList::DeleteFirst() {
    KvLinkedListItem* item = first_;
    RemoveFirst();
    delete item;
}

void KvLinkedList::DeleteLast() {
    KvLinkedListItem* item = last_;
    RemoveLast();
    delete item;
}

void KvLinkedList::Clear() {
    while (first_ != nullptr)
        DeleteFirst();
}

int KvLinkedList::RemoveItem(KvLinkedListItem* item) {
    KvLinkedListItem* walk = first_;
    while (walk != nullptr && walk != item)
        walk = walk->next_;
    if (walk == nullptr) return kNotInList;
    if (item == first_) {
        RemoveFirst();
    } else if (item == last_) {
        RemoveLast();
    } else {
        item->UnLink();
    }
    return 0;
}

int KvLinkedList::DeleteItem(KvLinkedListItem* item) {
    int result = RemoveItem(item);
    if (result == 0) delete item;
    return result;
}

// ---------------------------------------------------------------------------
// KvSimpleLinkedList

void KvSimpleLinkedList::InsertFirst(KvSimpleLinkedListItem* item) {
    item->next_ = head_;
    head_ = item;
}

void KvSimpleLinkedList::Append(KvSimpleLinkedListItem* item) {
    item->next_ = nullptr;
    if (head_ == nullptr) {
        head_ = item;
        return;
    }
    KvSimpleLinkedListItem* tail = head_;
    while (tail->next_ != nullptr)
        tail = tail->next_;
    tail->next_ = item;
}

KvSimpleLinkedListItem* KvSimpleLinkedList::RemoveFirst() {
    KvSimpleLinkedListItem* item = head_;
    if (item == nullptr) return nullptr;
    head_ = item->next_;
    item->next_ = nullptr;
    return item;
}

KvSimpleLinkedListItem* KvSimpleLinkedList::RemoveLast() {
    if (head_ == nullptr) return nullptr;
    if (head_->next_ == nullptr) return RemoveFirst();
    KvSimpleLinkedListItem* before = head_;
    while (before->next_->next_ != nullptr)
        before = before->next_;
    KvSimpleLinkedListItem* item = before->next_;
    before->next_ = nullptr;
    return item;
}

KvSimpleLinkedListItem* KvSimpleLinkedList::RemoveItem(KvSimpleLinkedListItem* item) {
    if (item == nullptr || head_ == nullptr) return nullptr;
    if (head_ == item) return RemoveFirst();
    KvSimpleLinkedListItem* before = head_;
    while (before->next_ != nullptr && before->next_ != item)
        before = before->next_;
    if (before->next_ == nullptr) return nullptr;
    before->next_ = item->next_;
    item->next_ = nullptr;
    return item;
}
