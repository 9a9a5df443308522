#include "common/ssListTypes.h"
#include "tests/support/ReportTesting.h"

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

} // namespace

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
        EXPECT_EQ(reporttest::Items(list), c.items);
    }
}
