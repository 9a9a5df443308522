#include "platform/StringTable.h"
#include <algorithm>
#include <iterator>

namespace {

struct TStringEntry
{
    uint32_t Id;
    const char16_t *Text;
};

// Sorted by id. 50009 and 50010 are unused.
constexpr TStringEntry StringTable[] = {
    {50000, u"Warning"}, {50001, u"Error"},      {50002, u"Information"}, {50003, u"Confirm"},
    {50004, u"&Yes"},    {50005, u"&No"},        {50006, u"OK"},          {50007, u"Cancel"},
    {50008, u"&Help"},   {50011, u"&Abort"},     {50012, u"&Retry"},      {50013, u"&Ignore"},
    {50014, u"&All"},    {50015, u"N&o to All"}, {50016, u"Yes to &All"},
};

} // namespace

int LoadStringW(uint32_t Id, char16_t *Buffer, int BufferMax, TOSError *Error)
{
    const auto It = std::lower_bound(std::begin(StringTable), std::end(StringTable), Id,
                                     [](const TStringEntry &E, uint32_t Key) { return E.Id < Key; });
    const auto Fail = [Error](uint32_t Code) {
        if (Error)
            *Error = {Code, SysErrorDescription(Code)};
        return 0;
    };
    if (Buffer == nullptr || BufferMax < 1)
        return Fail(ERROR_INVALID_PARAMETER);
    if (It == std::end(StringTable) || It->Id != Id)
        return Fail(ERROR_RESOURCE_NAME_NOT_FOUND);
    int Len = 0;
    for (; It->Text[Len] != u'\0' && Len < BufferMax - 1; ++Len)
        Buffer[Len] = It->Text[Len];
    Buffer[Len] = u'\0';
    return Len;
}

QString SysErrorDescription(uint32_t Code)
{
    switch (Code) {
    case ERROR_INVALID_PARAMETER:
        return QStringLiteral("The parameter is incorrect");
    case ERROR_RESOURCE_NAME_NOT_FOUND:
        return QStringLiteral("The specified resource name cannot be found in the image file");
    default:
        return QStringLiteral("Unknown error %1").arg(Code);
    }
}
