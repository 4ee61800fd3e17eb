// The data-set base over an in-memory store, without a server: navigation, locating, bookmarks,
// the edit states and their events, field access rules, and what views are told.

#include "dataaccess/common/MemDS.h"
#include "support/Raised.h"
#include "support/VariantPrinter.h"

#include <gtest/gtest.h>

using namespace calvoro;
using namespace calvoro::dac;
using calvoro::test::Raised;

namespace {

// A memory table: id, name, when; rows added through the data set itself.
class Table : public TMemDataSet {
public:
    explicit Table(const std::vector<std::tuple<int, const char*, TDateTime>>& rows = {}) {
        auto add = [&](const char* name, TDataType type, uint16_t length) {
            auto f = std::make_unique<TFieldDesc>();
            f->FName = f->FActualName = QString::fromLatin1(name);
            f->FDataType = type;
            f->FLength = length;
            Data().Fields().Add(std::move(f));
        };
        add("id", dtInteger, 0);
        add("name", dtWideString, 10);
        add("when", dtDateTime, 0);
        Data().SetAutoInitFields(false);
        Data().SetEnableEmptyStrings(true);
        SetLocalUpdate(true);
        Open();
        for (const auto& [id, name, when] : rows) {
            Append();
            FieldByName(QStringLiteral("id")).SetAsInteger(id);
            if (name) FieldByName(QStringLiteral("name")).SetAsString(QString::fromUtf8(name));
            FieldByName(QStringLiteral("when")).SetAsDateTime(when);
            Post();
        }
        First();
    }
    int Id() const { return FieldByName(QStringLiteral("id")).AsInteger(); }
};

const TDateTime Day1 = EncodeDateTime(2024, 1, 1, 0, 0, 0, 0);
const TDateTime Day2 = EncodeDateTime(2024, 1, 2, 12, 30, 0, 0);

Table Three() { return Table({{1, "Ann", Day1}, {2, "bob", Day2}, {3, nullptr, Day1}}); }

TEST(MemDataSet, NavigationEndsAndNumbers) {
    Table t({{1, "Ann", Day1}, {2, "bob", Day2}, {3, nullptr, Day1}});
    EXPECT_TRUE(t.Bof());
    EXPECT_FALSE(t.Eof());
    EXPECT_EQ(t.RecNo(), 1);
    t.Prior();
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.Id(), 1);
    EXPECT_EQ(t.MoveBy(5), 2);
    EXPECT_TRUE(t.Eof());
    EXPECT_EQ(t.Id(), 3);  // the last row stays current past the end
    EXPECT_EQ(t.MoveBy(-1), -1);
    EXPECT_EQ(t.Id(), 2);
    t.SetRecNo(3);
    EXPECT_EQ(t.RecNo(), 3);
    t.Last();
    EXPECT_TRUE(t.Eof());
    int seen = 0;
    for (t.First(); !t.Eof(); t.Next()) ++seen;
    EXPECT_EQ(seen, 3);

    Table empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_TRUE(empty.Bof() && empty.Eof());
    EXPECT_EQ(empty.RecNo(), 0);
    EXPECT_EQ(Raised<EDatabaseError>([&] { empty.Delete(); }).Message(),
              QStringLiteral("Cannot perform this operation on an empty dataset"));
}

TEST(MemDataSet, LocateFindsByValuesAndKeepsThePlaceWhenNot) {
    struct Case {
        const char* fields;
        std::vector<Variant> values;
        int options;
        int found;  // id, 0: not found
    };
    const Case cases[] = {
        {"id", {2}, 0, 2},
        {"name", {QStringLiteral("ann")}, 0, 0},
        {"name", {QStringLiteral("ann")}, loCaseInsensitive, 1},
        {"name", {QStringLiteral("bo")}, loPartialKey, 2},
        {"name", {Variant::Null()}, 0, 3},
        {"id;when", {3, Variant::FromDateTime(Day1)}, 0, 3},
        {"id;when", {2, Variant::FromDateTime(Day1)}, 0, 0},
        {"when", {Variant::FromDateTime(Day2)}, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields);
        Table t = Three();
        t.SetRecNo(2);
        EXPECT_EQ(t.Locate(QString::fromLatin1(c.fields), c.values, c.options), c.found != 0);
        EXPECT_EQ(t.Id(), c.found ? c.found : 2);
    }
    Table t = Three();
    EXPECT_THROW(t.Locate(QStringLiteral("id;name"), {1}), EDatabaseError);
    EXPECT_THROW(t.Locate(QStringLiteral("nope"), {1}), EDatabaseError);
}

TEST(MemDataSet, BookmarksFollowTheirRow) {
    Table t = Three();
    t.SetRecNo(3);
    const TRecBookmark third = t.GetBookmark();
    t.First();
    t.Delete();
    t.Insert();
    t.FieldByName(QStringLiteral("id")).SetAsInteger(9);
    t.Post();
    ASSERT_TRUE(t.BookmarkValid(third));
    t.GotoBookmark(third);
    EXPECT_EQ(t.Id(), 3);
}

TEST(MemDataSet, EditStatesEventsAndFieldRules) {
    Table t = Three();
    std::vector<std::string> events;
    auto log = [&](const char* name) { return [&events, name](TDataSet*) { events.push_back(name); }; };
    t.BeforeEdit = log("BeforeEdit");
    t.AfterEdit = log("AfterEdit");
    t.BeforePost = log("BeforePost");
    t.AfterPost = log("AfterPost");
    t.BeforeCancel = log("BeforeCancel");
    t.AfterCancel = log("AfterCancel");
    t.AfterScroll = log("AfterScroll");

    TField& name = t.FieldByName(QStringLiteral("name"));
    EXPECT_EQ(Raised<EDatabaseError>([&] { name.SetAsString(QStringLiteral("x")); }).Message(),
              QStringLiteral("Dataset not in edit or insert mode"));
    t.Edit();
    name.SetAsString(QString());
    EXPECT_TRUE(t.Modified());
    EXPECT_FALSE(name.IsNull());  // '' is a value
    t.Post();
    EXPECT_EQ(name.AsString(), QString());
    EXPECT_FALSE(name.IsNull());
    t.Edit();
    name.SetAsString(QStringLiteral("changed"));
    t.Cancel();
    EXPECT_EQ(name.AsString(), QString());
    EXPECT_EQ(events, (std::vector<std::string>{"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost", "BeforeEdit",
                                                "AfterEdit", "BeforeCancel", "AfterCancel"}));

    // Leaving an unchanged edit cancels it; a changed one is posted.
    t.Edit();
    t.Next();
    EXPECT_EQ(t.State(), dsBrowse);
    t.Edit();
    t.FieldByName(QStringLiteral("id")).SetAsInteger(20);
    t.First();
    t.SetRecNo(2);
    EXPECT_EQ(t.Id(), 20);

    name.SetReadOnly(true);
    t.Edit();
    EXPECT_EQ(Raised<EDatabaseError>([&] { name.Clear(); }).Message(), QStringLiteral("Field 'name' cannot be modified"));
    t.Cancel();
    name.SetReadOnly(false);
    name.SetRequired(true);
    t.Append();
    EXPECT_EQ(Raised<EDatabaseError>([&] { t.Post(); }).Message(), QStringLiteral("Field 'name' must have a value"));
    EXPECT_EQ(t.State(), dsInsert);
    t.Cancel();
    EXPECT_EQ(t.RecordCount(), 3);
}

TEST(MemDataSet, ViewsSeeTheRowBeingInsertedOrEdited) {
    Table t = Three();
    t.SetRecNo(2);
    t.Insert();  // before the current row
    EXPECT_EQ(t.ViewRowCount(), 4);
    EXPECT_EQ(t.InsertPosition(), 2);
    t.FieldByName(QStringLiteral("id")).SetAsInteger(7);
    auto idOf = [&](int row) { return t.Data().GetFieldAsVariant(1, t.ViewRecord(row)).AsInteger(); };
    EXPECT_EQ(idOf(1), 1);
    EXPECT_EQ(idOf(2), 7);
    EXPECT_EQ(idOf(3), 2);
    t.Post();
    EXPECT_EQ(t.ViewRowCount(), 4);
    EXPECT_EQ(idOf(2), 7);
    t.SetRecNo(4);
    t.Edit();
    t.FieldByName(QStringLiteral("id")).SetAsInteger(8);
    EXPECT_EQ(idOf(4), 8);  // the edit buffer stands in for the row
    t.Cancel();
    EXPECT_EQ(idOf(4), 3);
}

TEST(MemDataSet, ViewsAreToldOnceWhileControlsAreDisabled) {
    Table t = Three();
    std::vector<TDataEvent> seen;
    const int id = t.AddDataListener([&](TDataEvent e) { seen.push_back(e); });
    t.DisableControls();
    for (t.First(); !t.Eof(); t.Next()) {
        t.Edit();
        t.FieldByName(QStringLiteral("id")).SetAsInteger(t.Id() * 10);
        t.Post();
    }
    EXPECT_TRUE(seen.empty());
    t.EnableControls();
    EXPECT_EQ(seen, std::vector<TDataEvent>{deDataSetChange});
    seen.clear();
    t.Next();
    t.Prior();
    EXPECT_EQ(seen, (std::vector<TDataEvent>{deDataSetScroll}));
    t.RemoveDataListener(id);
    t.First();
    EXPECT_EQ(seen.size(), 1u);
}

TEST(MemDataSet, IndexFieldNamesOrderTheRows) {
    Table t = Three();
    t.SetIndexFieldNames(QStringLiteral("when DESC;id"));
    std::vector<int> ids;
    for (t.First(); !t.Eof(); t.Next()) ids.push_back(t.Id());
    EXPECT_EQ(ids, (std::vector<int>{2, 1, 3}));
}

}  // namespace
