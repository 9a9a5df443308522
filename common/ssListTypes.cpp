#include "common/ssListTypes.h"

#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

EListError::EListError(int Index) : Exception(QString::asprintf("List index out of bounds (%d)", Index)) {}

// ---- TList

void TList::SetCapacity(int Value)
{
    const size_t wanted = static_cast<size_t>(std::max(Value, Count()));
    if (wanted > FList.capacity())
        FList.reserve(wanted);
    else if (wanted < FList.capacity()) {
        std::vector<void *> smaller;
        smaller.reserve(wanted);
        smaller.assign(FList.begin(), FList.end());
        FList.swap(smaller);
    }
}

int TList::Add(void *Item)
{
    FList.push_back(Item);
    return Count() - 1;
}

void TList::CheckIndex(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError(Index);
}

void *TList::Get(int Index) const
{
    CheckIndex(Index);
    return FList[static_cast<size_t>(Index)];
}

void TList::Delete(int Index)
{
    CheckIndex(Index);
    FList.erase(FList.begin() + Index);
}

int TList::IndexOf(const void *Item) const
{
    const auto it = std::find(FList.begin(), FList.end(), Item);
    return it == FList.end() ? -1 : static_cast<int>(it - FList.begin());
}

void TList::Clear()
{
    std::vector<void *>().swap(FList);
}

// ---- TRecordList

TRecordList::TRecordList(int RecordSize) : FRecordSize(RecordSize)
{
    if (RecordSize < 0)
        throw Exception(QStringLiteral("Invalid record size %1").arg(RecordSize));
}

TRecordList::~TRecordList()
{
    TRecordList::Clear();
}

void *TRecordList::AllocRecord()
{
    // calloc(1, 0) may give null, which would read as an allocation failure.
    void *rec = std::calloc(1, static_cast<size_t>(std::max(FRecordSize, 1)));
    if (!rec)
        throw std::bad_alloc();
    return rec;
}

void TRecordList::FreeRecord(void *Rec)
{
    std::free(Rec);
}

int TRecordList::AddRecord(const void *Src)
{
    void *rec = AllocRecord();
    std::memcpy(rec, Src, static_cast<size_t>(FRecordSize));
    try {
        return Add(rec);
    } catch (...) {
        FreeRecord(rec);
        throw;
    }
}

void TRecordList::Clear()
{
    for (int i = 0; i < Count(); ++i)
        FreeRecord(Get(i));
    TList::Clear();
}

void TRecordList::SaveToStream(QIODevice &Stream) const
{
    const auto write = [&Stream](const void *data, qint64 size) {
        if (Stream.write(static_cast<const char *>(data), size) != size)
            throw Exception(QStringLiteral("Stream write error"));
    };
    const qint32 count = qToLittleEndian(static_cast<qint32>(Count()));
    write(&count, sizeof count);
    for (int i = 0; i < Count(); ++i)
        write(Get(i), FRecordSize);
}

void TRecordList::LoadFromStream(QIODevice &Stream)
{
    Clear();
    qint32 count = 0;
    if (Stream.read(reinterpret_cast<char *>(&count), sizeof count) != sizeof count)
        throw Exception(QStringLiteral("Unexpected end of stream"));
    count = qFromLittleEndian(count);
    try {
        for (qint32 i = 0; i < count; ++i) {
            void *rec = AllocRecord();
            // A short read leaves the rest of the block 0.
            Stream.read(static_cast<char *>(rec), FRecordSize);
            try {
                Add(rec);
            } catch (...) {
                FreeRecord(rec);
                throw;
            }
        }
    } catch (...) {
        // A count too large for memory: leave the list empty rather than half-loaded.
        Clear();
        throw;
    }
}

// ---- TInt64List

int64_t TInt64List::GetItem(int Index) const
{
    int64_t value;
    std::memcpy(&value, Get(Index), sizeof value);
    return value;
}

// ---- TObjectList

TObjectList::~TObjectList()
{
    // Go on past a failing free so that the remaining objects are still freed.
    while (Count() > 0) {
        try {
            TObjectList::Clear();
        } catch (...) {
        }
    }
}

void TObjectList::SetKeepObjects(bool Keep, TFreeObject FreeObject)
{
    FKeepObjects = Keep;
    FFreeObject = std::move(FreeObject);
}

void TObjectList::Clear()
{
    if (!FKeepObjects && FFreeObject) {
        for (int i = 0; i < Count(); ++i) {
            QString msg;
            try {
                FFreeObject(Get(i));
                continue;
            } catch (const Exception &e) {
                msg = e.Message();
            } catch (const std::exception &e) {
                msg = QString::fromLocal8Bit(e.what());
            } catch (...) {
            }
            // The failed one counts as gone too: freeing it again could free it twice.
            for (int j = i; j >= 0; --j)
                Delete(j);
            throw Exception(QString::asprintf("%d %s", i, qUtf8Printable(msg)));
        }
    }
    TList::Clear();
}
