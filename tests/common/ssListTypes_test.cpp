#include "common/ssListTypes.h"

#include <QBuffer>
#include <QByteArray>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

QString ErrorText(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const Exception &e) {
        return e.Message();
    }
    return QStringLiteral("<nothing raised>");
}

QByteArray Saved(const TRecordList &list)
{
    QBuffer buf;
    buf.open(QIODevice::WriteOnly);
    list.SaveToStream(buf);
    return buf.data();
}

void Load(TRecordList &list, const QByteArray &bytes)
{
    QBuffer buf;
    buf.setData(bytes);
    buf.open(QIODevice::ReadOnly);
    list.LoadFromStream(buf);
}

// Counts the blocks it hands out and takes back.
class TCountingList : public TRecordList
{
public:
    explicit TCountingList(int size, std::vector<void *> *freed) : TRecordList(size), FFreed(freed) {}
    ~TCountingList() override { Clear(); }
    void FreeRecord(void *Rec) override
    {
        FFreed->push_back(Rec);
        TRecordList::FreeRecord(Rec);
    }

private:
    std::vector<void *> *FFreed;
};

} // namespace

TEST(TInt64List, HoldsTheFull64BitRange)
{
    TInt64List list;
    const int64_t values[] = {-1, 0x00000000FFFFEFFFLL, INT64_MIN, INT64_MAX, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(list.Add(values[i]), i);
    ASSERT_EQ(list.Count(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(list.GetItem(i), values[i]);
}

TEST(TInt64List, IndexOutsideTheListRaisesTheListError)
{
    TInt64List list;
    EXPECT_EQ(ErrorText([&] { list.GetItem(0); }), QStringLiteral("List index out of bounds (0)"));
    list.Add(7);
    EXPECT_EQ(ErrorText([&] { list.GetItem(1); }), QStringLiteral("List index out of bounds (1)"));
    EXPECT_EQ(ErrorText([&] { list.GetItem(-1); }), QStringLiteral("List index out of bounds (-1)"));
    EXPECT_THROW(list.Delete(5), EListError);
    EXPECT_EQ(list.GetItem(0), 7);
}

TEST(TInt64List, ClearEmptiesCountAndCapacityAndTheListIsReusable)
{
    TInt64List list;
    list.SetCapacity(100);
    EXPECT_GE(list.Capacity(), 100);
    for (int i = 0; i < 10; ++i)
        list.Add(i);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.Add(42), 0);
    EXPECT_EQ(list.GetItem(0), 42);
}

TEST(TRecordList, AllocRecordIsZeroFilledAndAddRecordCopiesExactlyRecordSize)
{
    TRecordList list(8);
    void *fresh = list.AllocRecord();
    const unsigned char zeros[8] = {};
    EXPECT_EQ(std::memcmp(fresh, zeros, 8), 0);
    list.FreeRecord(fresh);

    // The source carries bytes past the record; only the first 8 may be taken.
    unsigned char src[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9};
    ASSERT_EQ(list.AddRecord(src), 0);
    auto *rec = static_cast<unsigned char *>(list.Get(0));
    EXPECT_NE(static_cast<void *>(rec), static_cast<void *>(src)); // a copy, not the caller's bytes
    EXPECT_EQ(std::memcmp(rec, src, 8), 0);
    src[0] = 77;
    EXPECT_EQ(rec[0], 1);
}

TEST(TRecordList, ClearFreesInIndexOrderAndDeleteFreesNothing)
{
    std::vector<void *> freed;
    {
        TCountingList list(4, &freed);
        const int32_t a = 1, b = 2, c = 3;
        list.AddRecord(&a);
        list.AddRecord(&b);
        list.AddRecord(&c);
        void *first = list.Get(0), *second = list.Get(1), *third = list.Get(2);
        list.Delete(1);
        EXPECT_TRUE(freed.empty());
        list.Clear();
        EXPECT_EQ(freed, (std::vector<void *>{first, third}));
        list.TRecordList::FreeRecord(second); // Delete left it to its taker
        freed.clear();
        list.AddRecord(&a);
    }
    EXPECT_EQ(freed.size(), 1u); // the destructor freed the last record
}

TEST(TRecordList, EmptyListStreamsAsFourZeroBytes)
{
    TInt64List empty;
    EXPECT_EQ(Saved(empty), QByteArray(4, '\0'));

    TInt64List loaded;
    loaded.Add(5);
    Load(loaded, QByteArray(4, '\0'));
    EXPECT_EQ(loaded.Count(), 0);
}

TEST(TRecordList, StreamIsLittleEndianCountThenRecordBytes)
{
    TInt64List list;
    list.Add(0x0102030405060708LL);
    list.Add(-1);
    const QByteArray bytes = Saved(list);
    ASSERT_EQ(bytes.size(), 4 + 16);
    EXPECT_EQ(bytes.left(4), QByteArray("\x02\x00\x00\x00", 4));
    EXPECT_EQ(bytes.mid(4, 8), QByteArray("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
    EXPECT_EQ(bytes.mid(12, 8), QByteArray(8, '\xff'));

    TInt64List back;
    back.Add(99);
    Load(back, bytes);
    ASSERT_EQ(back.Count(), 2);
    EXPECT_EQ(back.GetItem(0), 0x0102030405060708LL);
    EXPECT_EQ(back.GetItem(1), -1);
}

TEST(TRecordList, ShortCountRaisesAndLeavesTheListEmpty)
{
    TInt64List list;
    list.Add(1);
    list.Add(2);
    EXPECT_EQ(ErrorText([&] { Load(list, QByteArray("\x01\x00\x00", 3)); }),
              QStringLiteral("Unexpected end of stream"));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(ErrorText([&] { Load(list, QByteArray()); }), QStringLiteral("Unexpected end of stream"));
}

TEST(TRecordList, ShortRecordsAreFilledWithZeros)
{
    // Count 3, one whole record, then 3 bytes of the second.
    QByteArray bytes("\x03\x00\x00\x00", 4);
    bytes += QByteArray("\x11\x11\x11\x11\x11\x11\x11\x11", 8);
    bytes += QByteArray("\x22\x22\x22", 3);
    TInt64List list;
    Load(list, bytes);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.GetItem(0), 0x1111111111111111LL);
    EXPECT_EQ(list.GetItem(1), 0x222222LL);
    EXPECT_EQ(list.GetItem(2), 0);
}

TEST(TRecordList, NegativeCountGivesAnEmptyList)
{
    TInt64List list;
    list.Add(1);
    Load(list, QByteArray("\xff\xff\xff\xff", 4));
    EXPECT_EQ(list.Count(), 0);
}

TEST(TRecordList, SaveToAFullStreamRaises)
{
    TInt64List list;
    list.Add(1);
    QBuffer closed; // not open: every write fails
    EXPECT_THROW(list.SaveToStream(closed), Exception);
}

TEST(TObjectList, KeepsItsObjectsByDefault)
{
    auto a = std::make_unique<int>(1), b = std::make_unique<int>(2);
    {
        TObjectList list;
        EXPECT_TRUE(list.KeepObjects());
        EXPECT_EQ(list.Add(a.get()), 0);
        EXPECT_EQ(list.Add(b.get()), 1);
        EXPECT_EQ(list.IndexOf(b.get()), 1);
        EXPECT_EQ(list.GetItem(0), a.get());
        list.Clear();
        EXPECT_EQ(list.Count(), 0);
        list.Add(a.get());
        list.Add(b.get());
        list.Delete(0);
        EXPECT_EQ(list.GetItem(0), b.get());
        EXPECT_EQ(ErrorText([&] { list.GetItem(1); }), QStringLiteral("List index out of bounds (1)"));
    }
    // Cleared and freed lists left both objects alone (ASan would see a stray free).
    EXPECT_EQ(*a, 1);
    EXPECT_EQ(*b, 2);
}

TEST(TObjectList, OwningListFreesFromIndexZeroUpwards)
{
    std::vector<int> freed;
    TObjectList list;
    list.SetKeepObjects(false, [&](void *obj) {
        freed.push_back(*static_cast<int *>(obj));
        delete static_cast<int *>(obj);
    });
    for (int i = 0; i < 3; ++i)
        list.Add(new int(i));
    list.Clear();
    EXPECT_EQ(freed, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(list.Count(), 0);
}

TEST(TObjectList, FailedFreeRaisesIndexAndMessageAndFreesNothingTwice)
{
    std::vector<int> freed;
    {
        TObjectList list;
        list.SetKeepObjects(false, [&](void *obj) {
            const int v = *static_cast<int *>(obj);
            delete static_cast<int *>(obj);
            freed.push_back(v);
            if (v == 1)
                throw Exception(QStringLiteral("cannot free"));
        });
        for (int i = 0; i < 4; ++i)
            list.Add(new int(i));
        EXPECT_EQ(ErrorText([&] { list.Clear(); }), QStringLiteral("1 cannot free"));
        // Entries 0 and 1 are gone; 2 and 3 are still the list's to free.
        ASSERT_EQ(list.Count(), 2);
        EXPECT_EQ(*static_cast<int *>(list.GetItem(0)), 2);
    }
    EXPECT_EQ(freed, (std::vector<int>{0, 1, 2, 3}));
}
