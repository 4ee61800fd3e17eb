// The one mapping between record-store data types and field types, both ways, and what field
// objects over the integer kinds of MySQL show and keep.

#include "dataaccess/common/DataSetBase.h"
#include "dataaccess/common/FieldTypes.h"
#include "dataaccess/common/MemDS.h"
#include "support/Raised.h"
#include "support/VariantPrinter.h"

#include <gtest/gtest.h>

#include <set>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::Raised;

namespace {

struct TypeCase {
    TDataType Data;
    TFieldType Field;     // what the data type shows as
    TDataType DataBack;   // what that field type is held as again
};

// Every data type code the store has.
const TypeCase TypeCases[] = {
    {dtString, ftString, dtString},
    {dtExtString, ftString, dtString},  // held out of line: the same text
    {dtInt8, ftSmallint, dtSmallint},   // TINYINT: the field kind that holds its values
    {dtSmallint, ftSmallint, dtSmallint},
    {dtInteger, ftInteger, dtInteger},
    {dtWord, ftWord, dtWord},           // TINYINT and SMALLINT UNSIGNED
    {dtUInt32, ftLargeint, dtLargeint}, // INT UNSIGNED, the same
    {dtLargeint, ftLargeint, dtLargeint},
    {dtBoolean, ftBoolean, dtBoolean},
    {dtFloat, ftFloat, dtFloat},
    {dtCurrency, ftCurrency, dtCurrency},
    {dtBCD, ftBCD, dtBCD},
    {dtFMTBCD, ftFMTBcd, dtFMTBCD},
    {dtDate, ftDate, dtDate},
    {dtTime, ftTime, dtTime},
    {dtDateTime, ftDateTime, dtDateTime},
    {dtBytes, ftBytes, dtBytes},
    {dtVarBytes, ftVarBytes, dtVarBytes},
    {dtExtVarBytes, ftVarBytes, dtVarBytes},
    {dtBlob, ftBlob, dtBlob},
    {dtMemo, ftMemo, dtMemo},
    {dtWideString, ftWideString, dtWideString},
    {dtExtWideString, ftWideString, dtWideString},
    {dtWideMemo, ftWideMemo, dtWideMemo},
    {dtGuid, ftGuid, dtGuid},
    {dtVariant, ftVariant, dtVariant},
    {dtCursor, ftCursor, dtCursor},
    {dtObject, ftADT, dtObject},
    {dtArray, ftArray, dtArray},
    {dtReference, ftReference, dtReference},
    {dtTable, ftDataSet, dtTable},
};

TEST(FieldTypes, DataTypeToFieldTypeAndBack) {
    for (const TypeCase& c : TypeCases) {
        SCOPED_TRACE(testing::Message() << "data type " << c.Data);
        EXPECT_EQ(DataTypeToFieldType(c.Data), c.Field);
        EXPECT_EQ(FieldTypeToDataType(c.Field), c.DataBack);
        // Field objects show the same type as parameters.
        EXPECT_EQ(FieldTypeOf(c.Data), c.Field);
        // Back and forth once more changes nothing.
        EXPECT_EQ(DataTypeToFieldType(c.DataBack), c.Field);
    }
    // Codes outside the store's list have no field type.
    for (const TDataType code : {TDataType(dtUnknown), TDataType(31), TDataType(33), TDataType(1000)})
        EXPECT_EQ(DataTypeToFieldType(code), ftUnknown) << code;
}

TEST(FieldTypes, FieldTypeToDataTypeAndBack) {
    struct Case {
        TFieldType Field;
        TDataType Data;
        TFieldType FieldBack;  // the field type that data type shows as
    };
    const Case cases[] = {
        {ftFixedChar, dtString, ftString},
        {ftFixedWideChar, dtWideString, ftWideString},
        {ftByte, dtSmallint, ftSmallint},
        {ftAutoInc, dtInteger, ftInteger},
        {ftExtended, dtFloat, ftFloat},
        {ftSingle, dtFloat, ftFloat},
        {ftShortint, dtInt8, ftSmallint},
        {ftLongWord, dtUInt32, ftLargeint},
        // Kinds the store cannot hold.
        {ftUnknown, dtUnknown, ftUnknown},
        {ftGraphic, dtUnknown, ftUnknown},
        {ftTimeStamp, dtUnknown, ftUnknown},
        {ftOraClob, dtUnknown, ftUnknown},
        {ftObject, dtUnknown, ftUnknown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "field type " << c.Field);
        EXPECT_EQ(FieldTypeToDataType(c.Field), c.Data);
        EXPECT_EQ(DataTypeToFieldType(c.Data), c.FieldBack);
    }
    // Every field type with a data type shows again as one, and every data type of the store
    // is reached.
    std::set<TDataType> reached;
    for (int f = ftUnknown; f <= ftSingle; ++f) {
        const TDataType d = FieldTypeToDataType(TFieldType(f));
        if (d == dtUnknown) continue;
        reached.insert(d);
        EXPECT_NE(DataTypeToFieldType(d), ftUnknown) << "field type " << f;
    }
    for (const TypeCase& c : TypeCases) EXPECT_TRUE(reached.count(c.DataBack)) << "data type " << c.DataBack;
}

TEST(FieldTypes, FieldObjectsRefuseTypesTheStoreLacks) {
    EXPECT_EQ(Raised<EDatabaseError>([] { FieldTypeOf(dtUnknown); }).Message(),
              QStringLiteral("Data type is not supported"));
    EXPECT_TRUE(Raised<EAssertionFailed>([] { FieldTypeOf(TDataType(31)); }).Message().contains(u"Unknown data type"));
}

// A memory table with the columns MySQL's TINYINT and INT UNSIGNED become: their fields show
// as the wider kinds and keep every value of the narrower ones.
class IntegerKinds : public TMemDataSet {
public:
    IntegerKinds() {
        auto add = [&](const char* name, TDataType type) {
            auto f = std::make_unique<TFieldDesc>();
            f->FName = f->FActualName = QString::fromLatin1(name);
            f->FDataType = type;
            Data().Fields().Add(std::move(f));
        };
        add("tiny", dtInt8);
        add("unsigned_int", dtUInt32);
        Data().SetAutoInitFields(false);
        SetLocalUpdate(true);
        Open();
    }
};

TEST(FieldTypes, FieldObjectsKeepTheWholeRangeOfTheirKind) {
    IntegerKinds t;
    TField& tiny = t.FieldByName(QStringLiteral("tiny"));
    TField& wide = t.FieldByName(QStringLiteral("unsigned_int"));
    EXPECT_EQ(tiny.DataType(), ftSmallint);
    EXPECT_EQ(wide.DataType(), ftLargeint);
    struct Case {
        const char* tiny;
        const char* wide;
    };
    for (const Case& c : {Case{"-128", "0"}, Case{"127", "4294967295"}, Case{"0", "2147483648"}}) {
        t.Append();
        tiny.SetAsString(QString::fromLatin1(c.tiny));
        wide.SetAsString(QString::fromLatin1(c.wide));
        t.Post();
        EXPECT_EQ(tiny.AsString(), QString::fromLatin1(c.tiny));
        EXPECT_EQ(wide.AsString(), QString::fromLatin1(c.wide));
        EXPECT_EQ(wide.AsLargeInt(), QByteArray(c.wide).toLongLong());
    }
}

}  // namespace
