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

} // namespace

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
