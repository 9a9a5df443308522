#pragma once
// Lists of the common library: TList (a list of untyped pointers), TRecordList (owns heap blocks of
// one fixed size), TInt64List (64-bit ids) and TObjectList (object references, kept by default).
#include "common/ssException.h"

#include <cstdint>
#include <functional>
#include <vector>

class QIODevice;

// Raised for an index outside 0..Count-1: "List index out of bounds (<index>)".
class EListError : public Exception
{
public:
    explicit EListError(int Index);
};

// A list of untyped pointers. It owns nothing; subclasses that own their items free them in Clear.
class TList
{
public:
    TList() = default;
    virtual ~TList() = default;
    TList(const TList &) = delete;
    TList &operator=(const TList &) = delete;

    int Count() const { return static_cast<int>(FList.size()); }
    int Capacity() const { return static_cast<int>(FList.capacity()); }
    // Reserves room for Value items; a value below Count keeps room for the items held.
    void SetCapacity(int Value);

    // Appends Item and returns its index.
    int Add(void *Item);
    // The item at Index; EListError outside the list.
    void *Get(int Index) const;
    // Removes the entry at Index (frees nothing); EListError outside the list.
    void Delete(int Index);
    // The first index holding Item, or -1.
    int IndexOf(const void *Item) const;
    // Empties the list: count and capacity 0.
    virtual void Clear();

private:
    void CheckIndex(int Index) const;

    std::vector<void *> FList;
};

// A list of heap blocks of RecordSize bytes each, which the list owns: Clear and the destructor
// free them (Delete does not). A subclass that overrides FreeRecord calls Clear in its own
// destructor, since this destructor can only reach its own FreeRecord.
class TRecordList : public TList
{
public:
    // RecordSize must not be negative (Exception otherwise).
    explicit TRecordList(int RecordSize);
    ~TRecordList() override;

    int RecordSize() const { return FRecordSize; }

    // A new zero-filled block of RecordSize bytes.
    virtual void *AllocRecord();
    // Frees a block made by AllocRecord.
    virtual void FreeRecord(void *Rec);
    // Copies RecordSize bytes from Src into a new block, appends it and returns its index.
    int AddRecord(const void *Src);
    // Frees every block from index 0 upwards, then empties the list.
    void Clear() override;

    // Writes the count (signed 32-bit, little-endian) and then each record's bytes in index order.
    // Exception "Stream write error" when the stream takes fewer bytes.
    virtual void SaveToStream(QIODevice &Stream) const;
    // Clears, then reads what SaveToStream wrote with the same RecordSize. Fewer than 4 bytes of
    // count raise "Unexpected end of stream" (the list stays empty); bytes of a record that the
    // stream does not deliver stay 0; a count of 0 or below gives an empty list.
    virtual void LoadFromStream(QIODevice &Stream);

private:
    const int FRecordSize;
};

// A TRecordList of signed 64-bit integers.
class TInt64List : public TRecordList
{
public:
    TInt64List() : TRecordList(sizeof(int64_t)) {}

    int Add(int64_t Value) { return AddRecord(&Value); }
    // The value at Index; EListError outside the list.
    int64_t GetItem(int Index) const;
};

// A list of object references. By default it keeps its objects: Clear and the destructor only empty
// the list. A list told to own them frees each through its FreeObject function.
class TObjectList : public TList
{
public:
    using TFreeObject = std::function<void(void *Obj)>;

    TObjectList() = default;
    // Frees the objects of an owning list; a failure there is swallowed.
    ~TObjectList() override;

    int Add(void *Obj) { return TList::Add(Obj); }
    void *GetItem(int Index) const { return Get(Index); }

    bool KeepObjects() const { return FKeepObjects; }
    // Keep False makes the list own its objects and free each with FreeObject.
    void SetKeepObjects(bool Keep, TFreeObject FreeObject = {});

    // Owning: frees the objects from index 0 upwards, then empties the list. When freeing the
    // object at index i throws, the entries 0..i are gone, the rest stay (still owned), and
    // Exception "<i> <message>" is raised. Keeping: only empties the list.
    void Clear() override;

private:
    bool FKeepObjects = true;
    TFreeObject FFreeObject;
};
