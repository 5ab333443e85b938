// The one-entry container and its iterator, alone and as the key source of a
// red-black tree.
#include <cstring>

#include <gtest/gtest.h>

#include "kvbasics.h"

namespace {

int32_t Int(const void* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

TEST(OneEntryTest, SourceOfTreeSearchInsertionAndDeletion) {
    KvRBTree tree(2 * sizeof(int32_t), 0, 0);
    tree.SetCompareFunction([](KvCompareArgs* a) {
        *a->keyResult = *a->orderResult =
            (Int(a->key) > Int(a->element)) - (Int(a->key) < Int(a->element));
        return 0;
    });
    tree.SetCopyFunction([](KvVContainer*, void* element, const KvVIterator*, const void* key,
                            const void* dat, KvVParameter*) {
        const int32_t e[2] = {Int(key), dat != nullptr ? Int(dat) : -1};
        std::memcpy(element, e, sizeof e);
        return 0;
    });
    int32_t key = 0, dat = 0;
    KvOneEntryContainer one(&key, &dat);
    EXPECT_EQ(one.count, 1u);  // the differ's mismatch limit reads it
    KvOneEntryIterator source(&one, nullptr);
    for (int32_t k : {5, 1, 9}) {
        key = k;
        dat = k * 10;
        ASSERT_EQ(tree.InsertElement(&source, nullptr, 0, nullptr), 0);
    }
    one.SetDat(nullptr);  // no data part: still inserted
    key = 3;
    ASSERT_EQ(tree.InsertElement(&source, nullptr, 0, nullptr), 0);
    EXPECT_EQ(tree.InsertElement(&source, nullptr, 0, nullptr), KvCONT_DUPLICATE);
    KvRBTreeIterator at(&tree, nullptr);
    int st;
    for (int32_t k : {1, 3, 5, 9}) {
        key = k;
        ASSERT_EQ(tree.SearchElement(&source, nullptr, 0, nullptr, &at), 0);
        const auto* e = static_cast<const int32_t*>(at.GetElement(st, nullptr));
        EXPECT_EQ(Int(e), k);
        EXPECT_EQ(Int(e + 1), k == 3 ? -1 : k * 10);
    }
    key = 5;
    EXPECT_EQ(tree.DeleteElement(&source, nullptr, 0, nullptr), 0);
    EXPECT_EQ(tree.DeleteElement(&source, nullptr, 0, nullptr), KvCONT_MISSING);
    EXPECT_EQ(tree.count, 3u);

    // Moves: behind and back on the entry; off it a source is refused.
    EXPECT_EQ(source.Next(), KvCONT_AFTER_LAST);
    EXPECT_EQ(tree.InsertElement(&source, nullptr, 0, nullptr), KvCONT_AFTER_LAST);
    EXPECT_EQ(source.Prior(), 0);
    one.SetEntry(&key, &dat, 0x55);
    EXPECT_EQ(source.GetFlags(st, nullptr), 0x55u);
    EXPECT_EQ(source.GetDat(st, nullptr), &dat);
    EXPECT_EQ(one.SearchElement(&source, nullptr, 0, nullptr, &source), KvCONT_MISSING);
    EXPECT_EQ(source.status, KvCONT_AFTER_LAST);
    // Empty: First and Last find nothing, Next and Prior step onto the entry
    // without looking, so a key set afterwards is read.
    one.SetKey(nullptr);
    EXPECT_EQ(one.count, 0u);
    EXPECT_EQ(source.First(), KvCONT_BEFORE_FIRST);
    EXPECT_EQ(source.Next(), 0);
    EXPECT_EQ(source.GetKey(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_NO_POSITION);
    EXPECT_EQ(source.Prior(), KvCONT_BEFORE_FIRST);
    EXPECT_EQ(source.Last(), KvCONT_AFTER_LAST);
    EXPECT_EQ(source.Prior(), 0);
    one.SetKey(&key);
    EXPECT_EQ(one.count, 1u);
    EXPECT_EQ(source.GetKey(st, nullptr), &key);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(source.GetType(), KvCONT_TYPE_ONE_ENTRY);
    one.SetDat(nullptr);
    EXPECT_EQ(source.GetDat(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_NO_DAT);
    // With the key set, both ends stand on it; past either end a step stays.
    EXPECT_EQ(source.First(), 0);
    EXPECT_EQ(source.Prior(), KvCONT_BEFORE_FIRST);
    EXPECT_EQ(source.Prior(), KvCONT_BEFORE_FIRST);
    EXPECT_EQ(source.GetDat(st, nullptr), nullptr);
    EXPECT_EQ(st, KvCONT_BEFORE_FIRST);
    EXPECT_EQ(source.Last(), 0);
    EXPECT_EQ(source.Next(), KvCONT_AFTER_LAST);
    EXPECT_EQ(source.Next(), KvCONT_AFTER_LAST);
    EXPECT_EQ(one.SearchElement(&source, nullptr, 0, nullptr, nullptr), KvCONT_MISSING);

    // Unbound, or rebound to a container of another kind: every move -520.
    KvOneEntryIterator unbound(nullptr, nullptr);
    KvVContainer plain(4, 0);
    KvOneEntryIterator rebound(&one, nullptr);
    static_cast<KvVIterator&>(rebound) = &plain;
    for (KvOneEntryIterator* it : {&unbound, &rebound}) {
        EXPECT_EQ(it->First(), KvCONT_NO_CONTAINER);
        EXPECT_EQ(it->Last(), KvCONT_NO_CONTAINER);
        EXPECT_EQ(it->Next(), KvCONT_NO_CONTAINER);
        EXPECT_EQ(it->Prior(), KvCONT_NO_CONTAINER);
    }
}

}  // namespace
