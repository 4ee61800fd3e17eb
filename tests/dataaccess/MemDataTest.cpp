// The record store without a server: layout, heap, blocks, BLOBs, values, editing, sort,
// filter, bookmarks, record numbers and cached updates.

#include "dataaccess/common/CRAccess.h"
#include "dataaccess/common/MemData.h"
#include "support/VariantPrinter.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QStringList>

#include <cstring>
#include <optional>
#include <random>

using namespace calvoro;
using namespace calvoro::dac;

namespace {

struct FieldDef {
    const char* name;
    TDataType type;
    uint16_t length = 0;
    bool binary = false;
    bool fixed = false;
};

// A store with the given fields, open and empty.
std::unique_ptr<TMemData> MakeStore(std::initializer_list<FieldDef> fields) {
    auto store = std::make_unique<TMemData>();
    for (const FieldDef& def : fields) {
        auto f = std::make_unique<TFieldDesc>();
        f->FName = f->FActualName = QString::fromLatin1(def.name);
        f->FDataType = def.type;
        f->FLength = def.length;
        f->FBinaryData = def.binary;
        f->FFixed = def.fixed;
        store->Fields().Add(std::move(f));
    }
    store->SetAutoInitFields(false);
    store->Open();
    return store;
}

// A buffer that releases itself; Owned() when it holds references of its own.
class RecBuf {
public:
    explicit RecBuf(TData& store) : FStore(store), FBuf(store.AllocRecBuf()) {}
    operator TRecBuf() const { return FBuf.get(); }

private:
    TData& FStore;
    TRecBufOwner FBuf;
};

void AppendRow(TMemData& store, const std::vector<Variant>& values) {
    RecBuf buf(store);
    store.InitRecord(buf);
    store.CreateComplexFields(buf, true);
    for (size_t i = 0; i < values.size(); ++i) store.PutField(int(i + 1), buf, &values[i]);
    store.AppendRecord(buf);
}

std::vector<Variant> CurrentRow(TMemData& store) {
    RecBuf buf(store);
    store.GetRecord(buf);
    std::vector<Variant> row;
    for (int i = 1; i <= store.FieldCount(); ++i) row.push_back(store.GetFieldAsVariant(i, buf));
    return row;
}

// The value of one field in every visible row, in order.
std::vector<Variant> Column(TMemData& store, int fieldNo) {
    std::vector<Variant> values;
    RecBuf buf(store);
    store.SetToBegin();
    for (store.GetNextRecord(buf); !store.Eof(); store.GetNextRecord(buf))
        values.push_back(store.GetFieldAsVariant(fieldNo, buf));
    return values;
}

std::vector<int> Ints(const std::vector<Variant>& values) {
    std::vector<int> ints;
    for (const Variant& v : values) ints.push_back(v.IsNull() ? -999 : v.AsInteger());
    return ints;
}

void GoTo(TMemData& store, int recNo) {
    store.SetRecordNo(recNo);
    ASSERT_EQ(store.RecordNo(), recNo);
}

}  // namespace

TEST(MemDataLayout, ValuesFollowEachOtherAndTheRecordSizeIsOdd) {
    struct Case {
        const char* name;
        std::initializer_list<FieldDef> fields;
        std::vector<uint32_t> offsets;
        uint32_t dataSize, recordSize;
    } cases[] = {
        // 4 + (2 + 10 + 1) = 17, pad to 18 for the UTF-16 value, + 2 + 12 = 32; one byte of
        // NULL bits for the three fields.
        {"integer, string(10), wide string(5)",
         {{"a", dtInteger}, {"b", dtString, 10}, {"c", dtWideString, 5}}, {0, 4, 18}, 32, 33},
        // An even sum gets one pad byte: 8 + 1 = 9 stays; 8 + 8 + 1 = 17 stays; 25 + 1 -> 27.
        {"one float", {{"a", dtFloat}}, {0}, 8, 9},
        {"two doubles", {{"a", dtFloat}, {"b", dtDateTime}}, {0, 8}, 16, 17},
        {"references", {{"a", dtMemo}, {"b", dtExtString}, {"c", dtSmallint}},
         {0, sizeof(void*), 2 * sizeof(void*)}, 2 * sizeof(void*) + 2, 2 * sizeof(void*) + 2 + 1},
        {"decimal text", {{"a", dtFMTBCD, 20}, {"b", dtBoolean}}, {0, 23}, 25, 27},
        // Nine fields take two bytes of NULL bits: 9 × 2 + 2 = 20 -> 21.
        {"nine fields", {{"a", dtSmallint}, {"b", dtSmallint}, {"c", dtSmallint}, {"d", dtSmallint},
                         {"e", dtSmallint}, {"f", dtSmallint}, {"g", dtSmallint}, {"h", dtSmallint},
                         {"i", dtSmallint}},
         {0, 2, 4}, 18, 21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto store = MakeStore(c.fields);
        for (size_t i = 0; i < c.offsets.size(); ++i) EXPECT_EQ(store->Fields()[int(i)].FOffset, c.offsets[i]);
        EXPECT_EQ(store->DataSize(), c.dataSize);
        EXPECT_EQ(store->RecordSize(), c.recordSize);
        EXPECT_EQ(store->RecordSize() % 2, 1u);
    }
}

namespace {
// A store whose descriptors come from a list of column names, as a driver builds them.
class NamedColumns : public TMemData {
public:
    explicit NamedColumns(QStringList names) : FNames(std::move(names)) {}

protected:
    void CreateFieldDescs() override {
        for (const QString& name : FNames) {
            auto f = std::make_unique<TFieldDesc>();
            f->FName = name;
            f->FDataType = dtInteger;
            Fields().Add(std::move(f));
        }
    }

private:
    QStringList FNames;
};
}  // namespace

TEST(MemDataLayout, DuplicateColumnNamesAreMadeUnique) {
    struct Case {
        QStringList columns, fields;
    } cases[] = {
        {{"id", "name", "id"}, {"id", "name", "id_1"}},
        {{"x", "x", "x"}, {"x", "x_1", "x_2"}},
        {{"ID", "id"}, {"ID", "id_1"}},
        // The renamed second id takes id_1; the column that was called id_1 moves on.
        {{"id", "id", "id_1"}, {"id", "id_1", "id_1_1"}},
        {{"", "a", ""}, {"_0", "a", "_1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.columns.join(u',').toStdString());
        NamedColumns store(c.columns);
        store.Open();
        QStringList names;
        for (const auto& f : store.Fields()) names << f->FName;
        EXPECT_EQ(names, c.fields);
        store.Close();
        EXPECT_EQ(store.FieldCount(), 0) << "closing drops descriptors the driver built";
    }
}

TEST(StringHeap, SmallBuffersComeFromBlocksAndLargeOnesFromGeneralMemory) {
    TStringHeap heap;
    uint8_t* small = heap.NewBuf(2000);
    EXPECT_EQ(heap.AllocatedBytes(), size_t(TStringHeap::BlockSize));
    EXPECT_EQ(TStringHeap::BufSize(small), 2000u);
    EXPECT_EQ(TStringHeap::RefMark(small), TStringHeap::MarkUsed);
    EXPECT_FALSE(heap.SysGetMem());

    uint8_t* large = heap.NewBuf(2001);
    EXPECT_TRUE(heap.SysGetMem());
    EXPECT_GT(heap.AllocatedBytes(), size_t(TStringHeap::BlockSize) + 2001);
    std::memset(large, 0x5A, 2001);  // the whole requested size is writable

    heap.AddRef(large);
    heap.DisposeBuf(large);
    EXPECT_TRUE(heap.SysGetMem()) << "one reference is left";
    heap.DisposeBuf(large);
    EXPECT_FALSE(heap.SysGetMem());
    EXPECT_EQ(heap.AllocatedBytes(), size_t(TStringHeap::BlockSize));

    heap.DisposeBuf(small);
    EXPECT_EQ(TStringHeap::RefMark(small), TStringHeap::MarkFree);
    EXPECT_EQ(heap.NewBuf(1995), small) << "a freed buffer of the same size class is reused";
    EXPECT_EQ(TStringHeap::RefMark(small), TStringHeap::MarkUsed);
}

TEST(StringHeap, MarksCatchDoubleReleaseAndBlockTailsAreRecycled) {
    TStringHeap heap;
    uint8_t* a = heap.NewBuf(16);
    heap.DisposeBuf(a);
    EXPECT_THROW(heap.DisposeBuf(a), EAssertionFailed);
    EXPECT_THROW(heap.AddRef(a), EAssertionFailed);
    heap.DisposeBuf(nullptr);
    EXPECT_EQ(heap.NewBuf(0), nullptr);

    // Eight 2000-byte buffers (with their 6-byte headers) fill a block but for a tail of 328
    // bytes minus the first buffer's block; the ninth starts a new block, and the tail becomes
    // a free buffer of 320 bytes that serves a later request of that size class.
    TStringHeap fresh;
    std::vector<uint8_t*> bufs;
    for (int i = 0; i < 9; ++i) bufs.push_back(fresh.NewBuf(2000));
    EXPECT_EQ(fresh.AllocatedBytes(), 2u * TStringHeap::BlockSize);
    for (int i = 1; i < 8; ++i) EXPECT_EQ(bufs[i], bufs[i - 1] + 2006);
    uint8_t* tail = fresh.NewBuf(320);
    EXPECT_EQ(tail, bufs[7] + 2006) << "served from the first block's tail";
    EXPECT_EQ(fresh.AllocatedBytes(), 2u * TStringHeap::BlockSize);
    heap.Clear();
    EXPECT_TRUE(heap.Empty());
    EXPECT_EQ(heap.AllocatedBytes(), 0u);
}

TEST(MemDataBlocks, DeletingEveryRowOfABlockFreesItAndSomeRowsKeepIt) {
    auto store = MakeStore({{"id", dtInteger}});
    for (int i = 1; i <= 20; ++i) AppendRow(*store, {i});
    // Rows 1-10 fill the first block of ten items, 11-20 the second.
    EXPECT_EQ(store->BlockMan().BlockCount(), 2);
    GoTo(*store, 11);
    for (int i = 0; i < 9; ++i) store->DeleteRecord();
    EXPECT_EQ(store->BlockMan().BlockCount(), 2) << "one row of the second block is left";
    EXPECT_EQ(store->RecordCount(), 11);
    store->DeleteRecord();
    EXPECT_EQ(store->BlockMan().BlockCount(), 1);
    EXPECT_EQ(Ints(Column(*store, 1)), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    // A new row takes a free item of the remaining block before any new block is made.
    AppendRow(*store, {99});
    EXPECT_EQ(store->BlockMan().BlockCount(), 2) << "the first block is full";
    GoTo(*store, 1);
    store->DeleteRecord();
    AppendRow(*store, {100});
    EXPECT_EQ(store->BlockMan().BlockCount(), 2) << "the freed item was reused";
}

TEST(MemBlob, PiecesReadWriteAndTruncate) {
    TCRBlobData data;
    data.SetPieceSize(4);
    data.Write(0, 10, "0123456789");
    EXPECT_EQ(data.PieceCount(), 3);
    EXPECT_EQ(data.Size(), 10);
    data.Write(8, 4, "abcd");  // overwrites the end and grows
    EXPECT_EQ(data.AsBytes(), QByteArray("01234567abcd"));
    data.Write(100, 2, "XY");  // beyond the end: appended
    EXPECT_EQ(data.AsBytes(), QByteArray("01234567abcdXY"));
    data.Write(2, 3, "---");  // across a piece boundary
    EXPECT_EQ(data.AsBytes(), QByteArray("01---567abcdXY"));
    char part[5] = {};
    EXPECT_EQ(data.Read(3, 4, part), 4);
    EXPECT_STREQ(part, "--56");
    EXPECT_EQ(data.Read(14, 4, part), 0);
    data.Truncate(6);
    EXPECT_EQ(data.AsBytes(), QByteArray("01---5"));
    data.Defrag();
    EXPECT_EQ(data.PieceCount(), 1);
    EXPECT_EQ(data.AsBytes(), QByteArray("01---5"));
    data.Truncate(0);
    EXPECT_EQ(data.Size(), 0);
    EXPECT_EQ(data.PieceCount(), 0);
}

TEST(MemBlob, RollbackAndUnicodeRules) {
    auto* blob = new TBlob(false);
    blob->SetAsBytes("before");
    EXPECT_THROW(blob->SaveToRollback(), EDatabaseError);  // rollback is off
    blob->EnableRollback();
    blob->SetAsBytes("after, and longer");
    EXPECT_TRUE(blob->CanRollback());
    EXPECT_EQ(blob->ContentBeforeEdit(), QByteArray("before"));
    blob->Cancel();
    EXPECT_EQ(blob->AsBytes(), QByteArray("before"));
    blob->SetAsBytes("kept");
    blob->Commit();
    EXPECT_FALSE(blob->CanRollback());
    EXPECT_EQ(blob->AsBytes(), QByteArray("kept"));
    EXPECT_THROW(blob->SetIsUnicode(true), EDatabaseError);
    blob->Clear();
    blob->SetIsUnicode(true);
    blob->SetAsString(QStringLiteral("\u00e9\u4e2d\U0001F600"));
    EXPECT_EQ(blob->Size(), 8);
    EXPECT_EQ(blob->AsString(), QStringLiteral("\u00e9\u4e2d\U0001F600"));
    blob->AddRef();
    blob->Release();
    EXPECT_EQ(blob->RefCount(), 1);
    blob->Release();
}

TEST(MemBlob, CompressionKeepsOnlySmallerContent) {
    TCompressedBlobData random;
    QByteArray noise(51, Qt::Uninitialized);
    QRandomGenerator rng(7);
    for (char& c : noise) c = char(rng.bounded(256));
    random.Write(0, noise.size(), noise.constData());
    random.Compress();
    EXPECT_FALSE(random.IsCompressed()) << "51 random bytes do not shrink";
    EXPECT_EQ(random.AsBytes(), noise);

    TCompressedBlobData text;
    const QByteArray repeated = QByteArray("calvoro ").repeated(2000);
    text.Write(0, repeated.size(), repeated.constData());
    text.Compress();
    EXPECT_TRUE(text.IsCompressed());
    EXPECT_LT(text.RawSize(), 200);
    EXPECT_EQ(text.Size(), repeated.size());
    char piece[8];
    EXPECT_EQ(text.Read(8, 7, piece), 7);
    EXPECT_EQ(QByteArray(piece, 7), QByteArray("calvoro"));
    text.Write(text.Size(), 1, "!");  // writing uncompresses first
    EXPECT_FALSE(text.IsCompressed());
    EXPECT_EQ(text.AsBytes(), repeated + "!");

    // A compressed piece whose recorded size is wrong.
    TCompressedBlobData bad;
    bad.Write(0, repeated.size(), repeated.constData());
    bad.Compress();
    QByteArray raw = bad.RawBytes();
    const uint32_t wrong = uint32_t(repeated.size() - 1);
    std::memcpy(raw.data() + 16, &wrong, 4);
    TCompressedBlobData tampered;
    tampered.TCRBlobData::Write(0, raw.size(), raw.constData());
    ASSERT_TRUE(tampered.IsCompressed());
    try {
        tampered.Uncompress();
        FAIL() << "uncompressed a piece with a wrong size";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid uncompressed blob size"));
    }
}

TEST(MemDataValues, EveryTypeKeepsItsValueExactly) {
    const QByteArray nulBytes("a\0b\0", 4);
    const QString nulText = QString::fromUtf16(u"x\u0000y", 3);
    struct Case {
        const char* name;
        FieldDef field;
        Variant in;
        Variant out;  // Empty: the same as in
    } cases[] = {
        {"8-bit string with NUL", {"s", dtString, 10}, QString::fromLatin1("a\0b", 3), {}},
        {"8-bit string cut at its length", {"s", dtString, 3}, QStringLiteral("abcdef"), QStringLiteral("abc")},
        {"8-bit string, code page", {"s", dtString, 10}, QStringLiteral("caf\u00e9 \u20ac"), {}},
        {"binary string as bytes", {"s", dtString, 4, true}, nulBytes, {}},
        {"out-of-line string with NUL", {"s", dtExtString, 40}, QString::fromLatin1("\0\0x", 3), {}},
        {"out-of-line binary", {"s", dtExtString, 40, true}, QByteArray("\xff\0\x01", 3), {}},
        {"wide string with NUL", {"w", dtWideString, 5}, nulText, {}},
        {"wide string, surrogate pair", {"w", dtWideString, 5}, QStringLiteral("\U0001F600!"), {}},
        {"out-of-line wide string", {"w", dtExtWideString, 100}, QStringLiteral("\u4e2d\u0000\u6587"), {}},
        {"fixed bytes padded", {"b", dtBytes, 4}, QByteArray("ab"), QByteArray("ab\0\0", 4)},
        {"fixed bytes", {"b", dtBytes, 4}, nulBytes, {}},
        {"var bytes", {"b", dtVarBytes, 10}, QByteArray("a\0b", 3), {}},
        {"out-of-line var bytes", {"b", dtExtVarBytes, 100}, QByteArray(300, '\0'), {}},
        {"int8", {"i", dtInt8}, -128, {}},
        {"smallint", {"i", dtSmallint}, 32767, {}},
        {"word", {"i", dtWord}, 65535, {}},
        {"integer", {"i", dtInteger}, INT32_MIN, {}},
        {"unsigned 32", {"i", dtUInt32}, 4294967295LL, {}},
        {"largeint", {"i", dtLargeint}, INT64_MIN, {}},
        {"boolean", {"b", dtBoolean}, true, {}},
        {"float", {"f", dtFloat}, 0.30000000000000004, {}},
        {"currency", {"c", dtCurrency}, Variant::FromCurrency(12.3456), {}},
        {"bcd", {"c", dtBCD}, Variant::FromCurrencyScaled(-1234567), {}},
        {"decimal of 38 digits", {"d", dtFMTBCD, 38}, QStringLiteral("-12345678901234567890123456.789012345678"), {}},
        {"decimal from an integer", {"d", dtFMTBCD, 20}, Variant(int64_t(INT64_MAX)),
         QStringLiteral("9223372036854775807")},
        {"unsigned 64 as decimal", {"d", dtFMTBCD, 20}, QStringLiteral("18446744073709551615"), {}},
        {"date time with milliseconds", {"t", dtDateTime}, Variant::FromDateTime(45352.7708680556), {}},
        {"negative time", {"t", dtTime}, Variant::FromDateTime(-0.0625), {}},
        {"blob", {"b", dtBlob}, QByteArray(70000, 'q'), {}},
        {"memo", {"m", dtMemo}, QStringLiteral("caf\u00e9"), {}},
        {"binary memo", {"m", dtMemo, 0, true}, nulBytes, {}},
        {"wide memo", {"m", dtWideMemo}, QStringLiteral("\U0001F600 \u4e2d"), {}},
        {"empty string is NULL", {"s", dtString, 10}, QString(), Variant::Null()},
        {"empty wide string is NULL", {"s", dtExtWideString, 40}, QStringLiteral(""), Variant::Null()},
        {"NULL", {"i", dtInteger}, Variant::Null(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto store = MakeStore({c.field, {"after", dtInteger}});
        AppendRow(*store, {c.in, 7});
        const std::vector<Variant> row = CurrentRow(*store);
        const Variant& expected = c.out.IsEmpty() ? c.in : c.out;
        EXPECT_EQ(row[0].Type(), expected.Type());
        EXPECT_EQ(row[0], expected);
        EXPECT_EQ(row[1].AsInteger(), 7) << "the next field is untouched";
    }
}

TEST(MemDataValues, BadValuesAreRefusedNotCut) {
    auto store = MakeStore({{"i", dtSmallint}, {"d", dtFMTBCD, 4}, {"w", dtWord}});
    RecBuf buf(*store);
    store->InitRecord(buf);
    const Variant big = 40000, text = QStringLiteral("12a"), tooLong = QStringLiteral("123456.5"),
                  negative = -1;
    EXPECT_THROW(store->PutField(1, buf, &big), EConvertError);
    EXPECT_THROW(store->PutField(2, buf, &text), EConvertError);
    EXPECT_THROW(store->PutField(2, buf, &tooLong), EConvertError);
    EXPECT_THROW(store->PutField(3, buf, &negative), EConvertError);
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(store->GetNull(i, buf));
}

TEST(MemDataValues, TrimmingLeavesBinaryDataAlone) {
    auto store = MakeStore({{"fixed", dtString, 8, false, true}, {"var", dtString, 8}, {"bin", dtString, 8, true, true}});
    AppendRow(*store, {QStringLiteral("ab  "), QStringLiteral("cd  "), QByteArray("ef  ")});
    store->SetTrimFixedChar(true);
    std::vector<Variant> row = CurrentRow(*store);
    EXPECT_EQ(row[0], Variant(QStringLiteral("ab")));
    EXPECT_EQ(row[1], Variant(QStringLiteral("cd  ")));
    EXPECT_EQ(row[2], Variant(QByteArray("ef  ")));
    store->SetTrimVarChar(true);
    EXPECT_EQ(CurrentRow(*store)[1], Variant(QStringLiteral("cd")));
}

TEST(MemDataValues, ABlobWrittenToIsNoLongerNull) {
    auto store = MakeStore({{"b", dtBlob}});
    AppendRow(*store, {Variant::Null()});
    RecBuf buf(*store);
    store->GetRecord(buf);
    EXPECT_TRUE(store->GetNull(1, buf));
    store->EditRecord(buf);
    store->WriteBlob(1, buf, 0, 3, "abc");
    EXPECT_FALSE(store->GetNull(1, buf));
    store->PostRecord(buf);
    EXPECT_EQ(CurrentRow(*store)[0], Variant(QByteArray("abc")));
    store->GetRecord(buf);
    store->EditRecord(buf);
    store->SetNull(1, buf, true);
    EXPECT_EQ(store->GetBlobSize(1, buf), 0) << "NULL empties the object";
    store->PostRecord(buf);
    EXPECT_TRUE(CurrentRow(*store)[0].IsNull());
}

TEST(MemDataEditing, CancelRestoresAndPostKeepsEveryKindOfValue) {
    auto store = MakeStore({{"m", dtWideMemo}, {"s", dtExtString, 50}, {"w", dtExtWideString, 50}, {"i", dtInteger}});
    AppendRow(*store, {QStringLiteral("old memo"), QStringLiteral("old string"), QStringLiteral("old wide"), 1});
    AppendRow(*store, {QStringLiteral("second"), QStringLiteral("second"), QStringLiteral("second"), 2});
    const std::vector<Variant> changed = {QStringLiteral("new memo"), QStringLiteral("new string"),
                                          QStringLiteral("new wide"), 10};
    RecBuf buf(*store);
    for (bool post : {false, true}) {
        SCOPED_TRACE(post ? "post" : "cancel");
        GoTo(*store, 1);
        store->GetRecord(buf);
        store->EditRecord(buf);
        for (int i = 0; i < 4; ++i) store->PutField(i + 1, buf, &changed[size_t(i)]);
        if (post) store->PostRecord(buf);
        else store->CancelRecord(buf);
        GoTo(*store, 1);
        const std::vector<Variant> row = CurrentRow(*store);
        if (post) {
            EXPECT_EQ(row, changed);
        } else {
            EXPECT_EQ(row[0], Variant(QStringLiteral("old memo")));
            EXPECT_EQ(row[1], Variant(QStringLiteral("old string")));
            EXPECT_EQ(row[2], Variant(QStringLiteral("old wide")));
            EXPECT_EQ(row[3], Variant(1));
        }
        GoTo(*store, 2);
        EXPECT_EQ(CurrentRow(*store)[1], Variant(QStringLiteral("second")));
    }
    // Nothing is left over: LeakSanitizer reports any heap value or BLOB that edits dropped.
}

TEST(MemDataEditing, AFailingHookLeavesTheStoreAsItWas) {
    auto store = MakeStore({{"id", dtInteger}, {"s", dtExtString, 40}});
    for (int i = 1; i <= 3; ++i) AppendRow(*store, {i, QStringLiteral("row %1").arg(i)});
    auto fail = [](TRecBuf) { throw EDatabaseError(QStringLiteral("server said no")); };
    store->FOnAppend = store->FOnUpdate = store->FOnDelete = fail;

    RecBuf buf(*store);
    store->InitRecord(buf);
    const Variant four = 4;
    store->PutField(1, buf, &four);
    GoTo(*store, 2);
    EXPECT_THROW(store->AppendRecord(buf), EDatabaseError);
    EXPECT_EQ(store->RecordNo(), 2);  // the position too

    GoTo(*store, 2);
    store->GetRecord(buf);
    store->EditRecord(buf);
    const Variant changed = QStringLiteral("changed");
    store->PutField(2, buf, &changed);
    EXPECT_THROW(store->PostRecord(buf), EDatabaseError);
    store->CancelRecord(buf);

    GoTo(*store, 2);
    EXPECT_THROW(store->DeleteRecord(), EDatabaseError);

    EXPECT_EQ(store->RecordCount(), 3);
    EXPECT_EQ(Ints(Column(*store, 1)), (std::vector<int>{1, 2, 3}));
    GoTo(*store, 2);
    EXPECT_EQ(CurrentRow(*store)[1], Variant(QStringLiteral("row 2")));
}

TEST(MemDataOrder, IndexFieldNamesSortStablyWithNullsFirst) {
    const std::vector<std::vector<Variant>> rows = {
        {1, QStringLiteral("b"), QStringLiteral("10")},  {2, QStringLiteral("A"), QStringLiteral("9.5")},
        {3, Variant::Null(), QStringLiteral("-2")},     {4, QStringLiteral("a"), QStringLiteral("100")},
        {5, QStringLiteral("B"), Variant::Null()},       {6, QStringLiteral("b"), QStringLiteral("-10")},
    };
    auto filled = [&] {
        auto store = MakeStore({{"id", dtInteger}, {"name", dtWideString, 10}, {"n", dtFMTBCD, 10}});
        for (const auto& r : rows) AppendRow(*store, r);
        return store;
    };
    struct Case {
        const char* index;
        std::vector<int> ids;
    } cases[] = {
        {"id DESC", {6, 5, 4, 3, 2, 1}},
        // Case-insensitive: a = A and b = B keep their order; NULL first ascending.
        {"name CIS", {3, 2, 4, 1, 5, 6}},
        // Descending: NULL last; ties by id.
        {"name CIS DESC;id", {1, 5, 6, 2, 4, 3}},
        // By code unit: A B a b.
        {"[name] BIN, id DESC", {3, 2, 5, 4, 6, 1}},
        {"n", {5, 6, 3, 2, 1, 4}},
        {"", {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        auto store = filled();
        store->SetIndexFieldNames(QString::fromLatin1(c.index));
        EXPECT_EQ(Ints(Column(*store, 1)), c.ids);
        GoTo(*store, 2);
        EXPECT_EQ(CurrentRow(*store)[0], Variant(c.ids[1])) << "record numbers follow the order";
    }

    auto store = filled();
    store->SetIndexFieldNames(QStringLiteral("id DESC"));
    AppendRow(*store, {7, QStringLiteral("z"), QStringLiteral("0")});
    EXPECT_EQ(Ints(Column(*store, 1)).front(), 7) << "a new row goes to its sorted place";
    EXPECT_EQ(store->RecordCount(), 7);
    GoTo(*store, 1);
    EXPECT_EQ(CurrentRow(*store)[0], Variant(7));

    for (const char* bad : {"id ASC DESC", "id CIS BIN", "id sideways", "id;;name", "[id"}) {
        SCOPED_TRACE(bad);
        try {
            store->SetIndexFieldNames(QString::fromLatin1(bad));
            FAIL();
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("Invalid IndexFieldNames format!"));
        }
    }
    try {
        store->SetIndexFieldNames(QStringLiteral("nope"));
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Field nope not found"));
    }
}

TEST(MemDataFilter, OmittedRowsAreNeitherCountedNorVisited) {
    auto store = MakeStore({{"id", dtInteger}});
    for (int i = 1; i <= 10; ++i) AppendRow(*store, {i});
    store->SetFilterFunc([&](TRecBuf rec) { return store->GetFieldAsVariant(1, rec).AsInteger() % 3 != 0; });
    EXPECT_EQ(store->RecordCount(), 7);
    EXPECT_EQ(Ints(Column(*store, 1)), (std::vector<int>{1, 2, 4, 5, 7, 8, 10}));
    GoTo(*store, 3);
    EXPECT_EQ(CurrentRow(*store)[0], Variant(4));
    // An edit that makes the row fall out of the filter takes it out of the count.
    RecBuf buf(*store);
    store->GetRecord(buf);
    store->EditRecord(buf);
    const Variant nine = 9;
    store->PutField(1, buf, &nine);
    store->PostRecord(buf);
    EXPECT_EQ(store->RecordCount(), 6);
    GoTo(*store, 3);
    EXPECT_EQ(CurrentRow(*store)[0], Variant(5));
    store->SetFilterFunc(nullptr);
    EXPECT_EQ(store->RecordCount(), 10);
    EXPECT_EQ(Ints(Column(*store, 1)), (std::vector<int>{1, 2, 3, 9, 5, 6, 7, 8, 9, 10}));
}

TEST(MemDataPosition, BookmarksFollowTheirRowAcrossDeletesAndTheirNumberAcrossReopen) {
    auto store = MakeStore({{"id", dtInteger}});
    for (int i = 1; i <= 30; ++i) AppendRow(*store, {i});
    TRecBookmark at25, at5, at15;
    GoTo(*store, 25);
    store->GetBookmark(at25);
    GoTo(*store, 15);
    store->GetBookmark(at15);
    GoTo(*store, 5);
    store->GetBookmark(at5);
    EXPECT_LT(store->CompareBookmarks(&at5, &at25), 0);
    // Delete rows 1-3 and 11-20 (a whole block goes with the latter).
    GoTo(*store, 1);
    for (int i = 0; i < 3; ++i) store->DeleteRecord();
    GoTo(*store, 8);
    for (int i = 0; i < 10; ++i) store->DeleteRecord();
    EXPECT_EQ(store->RecordCount(), 17);
    EXPECT_EQ(store->BlockMan().BlockCount(), 2);
    // Row 15 went with its block: its bookmark is not valid, and is never dereferenced
    // (AddressSanitizer would see it).
    EXPECT_FALSE(store->BookmarkValid(&at15));
    ASSERT_TRUE(store->BookmarkValid(&at5));
    store->SetToBookmark(at5);
    EXPECT_EQ(CurrentRow(*store)[0], Variant(5));
    store->SetToBookmark(at25);
    EXPECT_EQ(store->RecordNo(), 12);
    EXPECT_EQ(CurrentRow(*store)[0], Variant(25));

    TRecBookmark deleted;
    GoTo(*store, 1);
    store->GetBookmark(deleted);
    store->DeleteRecord();
    TRecBookmark none;
    EXPECT_FALSE(store->BookmarkValid(&none));
    EXPECT_FALSE(store->BookmarkValid(nullptr));

    TRecBookmark third;
    GoTo(*store, 3);
    store->GetBookmark(third);
    store->Close();
    store->Open();
    for (int i = 100; i < 110; ++i) AppendRow(*store, {i});
    store->SetToBookmark(third);
    EXPECT_EQ(store->RecordNo(), 3);
    EXPECT_EQ(CurrentRow(*store)[0], Variant(102));
}

TEST(MemDataPosition, RecordNumbersStayRightThroughInsertsAndDeletesAnywhere) {
    // A model list beside the store; numbers are repaired on the shorter side of each change.
    auto store = MakeStore({{"id", dtInteger}});
    std::vector<int> model;
    std::mt19937 rng(42);
    int next = 1;
    RecBuf buf(*store);
    for (int step = 0; step < 600; ++step) {
        const bool insert = model.size() < 5 || rng() % 3 != 0;
        const int at = model.empty() ? 0 : int(rng() % model.size());
        if (insert) {
            store->InitRecord(buf);
            const Variant v = next;
            store->PutField(1, buf, &v);
            if (model.empty() || rng() % 4 == 0) {
                store->AppendRecord(buf);
                model.push_back(next);
            } else {
                GoTo(*store, at + 1);
                store->InsertRecord(buf);
                model.insert(model.begin() + at, next);
            }
            ++next;
        } else {
            GoTo(*store, at + 1);
            store->DeleteRecord();
            model.erase(model.begin() + at);
        }
        ASSERT_EQ(store->RecordCount(), int(model.size()));
        if (step % 50 == 0 || step == 599) {
            // Every row's number, walking forwards and by direct positioning.
            store->SetToBegin();
            for (size_t i = 0; i < model.size(); ++i) {
                store->GetNextRecord(buf);
                ASSERT_EQ(store->RecordNo(), int(i + 1));
                ASSERT_EQ(store->GetFieldAsVariant(1, buf).AsInteger(), model[i]);
            }
            const int probe = int(rng() % model.size()) + 1;
            GoTo(*store, probe);
            ASSERT_EQ(CurrentRow(*store)[0].AsInteger(), model[size_t(probe - 1)]);
        }
    }
}

TEST(MemDataCachedUpdates, ChangesWaitForApplyAndCancelRestoresThem) {
    auto store = MakeStore({{"id", dtInteger}, {"s", dtExtString, 40}, {"m", dtMemo}});
    for (int i = 1; i <= 3; ++i) AppendRow(*store, {i, QStringLiteral("s%1").arg(i), QStringLiteral("m%1").arg(i)});
    int hooks = 0;
    store->FOnUpdate = store->FOnAppend = store->FOnDelete = [&](TRecBuf) { ++hooks; };
    store->SetCachedUpdates(true);

    RecBuf buf(*store);
    GoTo(*store, 2);
    store->GetRecord(buf);
    store->EditRecord(buf);
    const Variant s = QStringLiteral("changed"), m = QStringLiteral("new memo");
    store->PutField(2, buf, &s);
    store->PutField(3, buf, &m);
    store->PostRecord(buf);
    EXPECT_EQ(store->GetUpdateStatus(), isUpdated);
    RecBuf old(*store);
    store->GetOldRecord(old);
    EXPECT_EQ(store->GetFieldAsVariant(2, old), Variant(QStringLiteral("s2")));
    EXPECT_EQ(store->GetFieldAsVariant(3, old), Variant(QStringLiteral("m2")));

    AppendRow(*store, {4, QStringLiteral("s4"), QStringLiteral("m4")});
    GoTo(*store, 1);
    store->DeleteRecord();
    EXPECT_EQ(store->RecordCount(), 3) << "the deleted row is hidden";
    EXPECT_EQ(hooks, 0) << "no hook runs before the updates are applied";
    EXPECT_TRUE(store->UpdatesPending());

    std::vector<TItemStatus> applied;
    store->FOnApplyRecord = [&](TItemStatus kind, TUpdateRecAction& action) {
        applied.push_back(kind);
        action = urApplied;
    };
    store->ApplyUpdates();
    EXPECT_EQ(applied, (std::vector<TItemStatus>{isUpdated, isAppended, isDeleted}));

    store->CancelUpdates();
    EXPECT_FALSE(store->UpdatesPending());
    EXPECT_EQ(store->RecordCount(), 3);
    EXPECT_EQ(Ints(Column(*store, 1)), (std::vector<int>{1, 2, 3}));
    GoTo(*store, 2);
    EXPECT_EQ(CurrentRow(*store), (std::vector<Variant>{2, QStringLiteral("s2"), QStringLiteral("m2")}));
}
