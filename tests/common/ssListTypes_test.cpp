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

void Load(TRecordList &list, const QByteArray &bytes)
{
    QBuffer buf;
    buf.setData(bytes);
    buf.open(QIODevice::ReadOnly);
    list.LoadFromStream(buf);
}

std::vector<int64_t> Items(const TInt64List &list)
{
    std::vector<int64_t> items;
    for (int i = 0; i < list.Count(); ++i)
        items.push_back(list.GetItem(i));
    return items;
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

TEST(TInt64List, HoldsTheFull64BitRangeAndChecksItsIndexes)
{
    TInt64List list;
    EXPECT_EQ(ErrorText([&] { list.GetItem(0); }), QStringLiteral("List index out of bounds (0)"));
    const std::vector<int64_t> values = {-1, 0x00000000FFFFEFFFLL, INT64_MIN, INT64_MAX, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(list.Add(values[static_cast<size_t>(i)]), i);
    EXPECT_EQ(Items(list), values);
    EXPECT_EQ(ErrorText([&] { list.GetItem(5); }), QStringLiteral("List index out of bounds (5)"));
    EXPECT_EQ(ErrorText([&] { list.GetItem(-1); }), QStringLiteral("List index out of bounds (-1)"));
    EXPECT_THROW(list.Delete(5), EListError);

    list.Clear();
    EXPECT_EQ(list.Add(42), 0);
    EXPECT_EQ(Items(list), std::vector<int64_t>{42});
}

TEST(TRecordList, RecordsAreZeroFilledCopiesFreedByClearNotByDelete)
{
    std::vector<void *> freed;
    {
        TCountingList list(8, &freed);
        void *fresh = list.AllocRecord();
        EXPECT_EQ(std::memcmp(fresh, "\0\0\0\0\0\0\0\0", 8), 0);
        list.FreeRecord(fresh);
        freed.clear();

        // The source carries bytes past the record; only the first 8 may be taken.
        unsigned char src[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9};
        for (int i = 0; i < 3; ++i)
            list.AddRecord(src);
        auto *rec = static_cast<unsigned char *>(list.Get(0));
        EXPECT_EQ(std::memcmp(rec, src, 8), 0);
        src[0] = 77; // a copy, not the caller's bytes
        EXPECT_EQ(rec[0], 1);

        void *first = list.Get(0), *second = list.Get(1), *third = list.Get(2);
        list.Delete(1);
        EXPECT_TRUE(freed.empty());
        list.Clear();
        EXPECT_EQ(freed, (std::vector<void *>{first, third}));
        list.TRecordList::FreeRecord(second); // Delete left it to its taker
        freed.clear();
        list.AddRecord(src);
    }
    EXPECT_EQ(freed.size(), 1u); // the destructor freed the last record
}

TEST(TRecordList, StreamIsLittleEndianCountThenRecordBytes)
{
    TInt64List list;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    list.SaveToStream(out); // an empty list is its count alone
    list.Add(0x0102030405060708LL);
    list.Add(-1);
    list.SaveToStream(out);
    const QByteArray bytes("\x02\x00\x00\x00"
                           "\x08\x07\x06\x05\x04\x03\x02\x01"
                           "\xff\xff\xff\xff\xff\xff\xff\xff",
                           20);
    EXPECT_EQ(out.data(), QByteArray(4, '\0') + bytes);
    Load(list, bytes);
    EXPECT_EQ(Items(list), (std::vector<int64_t>{0x0102030405060708LL, -1}));

    QBuffer closed; // not open: every write fails
    EXPECT_THROW(list.SaveToStream(closed), Exception);
}

TEST(TRecordList, LoadingClearsFirstAndCopesWithShortOrOddStreams)
{
    const struct
    {
        const char *what;
        QByteArray bytes;
        std::vector<int64_t> items; // what the list holds after the load
        const char *error;
    } cases[] = {
        {"empty list", QByteArray(4, '\0'), {}, nullptr},
        {"negative count", QByteArray("\xff\xff\xff\xff", 4), {}, nullptr},
        {"short count", QByteArray("\x01\x00\x00", 3), {}, "Unexpected end of stream"},
        {"no count", QByteArray(), {}, "Unexpected end of stream"},
        // count 3, one whole record, then 3 bytes of the second: the rest stays zero
        {"short records",
         QByteArray("\x03\x00\x00\x00\x11\x11\x11\x11\x11\x11\x11\x11\x22\x22\x22", 15),
         {0x1111111111111111LL, 0x222222LL, 0},
         nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TInt64List list;
        list.Add(99);
        EXPECT_EQ(ErrorText([&] { Load(list, c.bytes); }),
                  c.error ? QString::fromLatin1(c.error) : QStringLiteral("<nothing raised>"));
        EXPECT_EQ(Items(list), c.items);
    }
}

TEST(TObjectList, KeepsItsObjectsByDefault)
{
    auto a = std::make_unique<int>(1), b = std::make_unique<int>(2);
    {
        TObjectList list;
        list.Add(a.get());
        list.Add(b.get());
        list.Delete(0);
        EXPECT_EQ(list.IndexOf(b.get()), 0);
        EXPECT_EQ(ErrorText([&] { list.GetItem(1); }), QStringLiteral("List index out of bounds (1)"));
        list.Clear();
        list.Add(a.get());
    }
    // Cleared and freed lists left both objects alone (ASan would see a stray free).
    EXPECT_EQ(*a, 1);
    EXPECT_EQ(*b, 2);
}

TEST(TObjectList, OwningListFreesFromIndexZeroAndAFailedFreeRaisesItsIndex)
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
        list.Add(new int(4));
    }
    EXPECT_EQ(freed, (std::vector<int>{0, 1, 2, 3, 4}));
}
