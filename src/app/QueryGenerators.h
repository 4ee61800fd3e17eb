#pragma once
// The query generator's texts for one table or view: its name, SELECT, INSERT, UPDATE and
// DELETE with named parameters, CREATE, the head of an ALTER, DROP, and its field lists. The
// generators are plain functions over what DESCRIBE and SHOW CREATE TABLE delivered; the
// reading functions at the end fetch that through the tools session.
//
// Names are raw: the object's and its columns' as the server lists them, the alias as parsed
// from what the user typed. Q is the quoting flag (identifiers through QuoteName: always
// backquoted, or only where a name needs it), E the flag of one field per row (off: the lists
// are packed with PackLines). Multi-line results end every line with CR LF.

#include <QString>

#include <optional>
#include <vector>

namespace calvoro::app {

class TData;

// The columns of a DESCRIBE row the generators read.
struct TDescribeRow {
    QString Field;  // column name
    QString Type;   // type as the server prints it, e.g. "int(11) unsigned"
    QString Key;    // "PRI" marks a primary-key column
};
using TDescribeRows = std::vector<TDescribeRow>;

// What the generators know of the object: the DESCRIBE rows and the second field of SHOW
// CREATE TABLE (none when reading it failed).
struct TDBObjectInfo {
    TDescribeRows Fields;
    std::optional<QString> CreateText;
};

// The actions, in the order of the window's list.
enum TGeneratorAction {
    gaName, gaSelect, gaInsert, gaUpdate, gaDelete, gaCreate, gaAlter, gaDrop, gaFieldList, gaFieldTypeList
};
// Whether an action reads the DESCRIBE rows, or the SHOW CREATE text.
bool ActionReadsFields(int action);
bool ActionReadsCreate(int action);

// The text for action (0 to 9, TGeneratorAction); any other index gives the empty text.
QString GenerateStatement(const TDBObjectInfo& info, const QString& name, bool isView, int action,
                          const QString& alias, bool quote, bool eachFieldOnNewRow);

QString GenerateSelect(const TDescribeRows& fields, const QString& name, const QString& alias, bool quote,
                       bool eachFieldOnNewRow);
QString GenerateInsert(const TDescribeRows& fields, const QString& name, bool quote, bool eachFieldOnNewRow);
// With an alias the table carries it too ("UPDATE `t` `a` SET `a`.`x` = :x ..."), so that the
// qualified columns name something the server knows.
QString GenerateUpdate(const TDescribeRows& fields, const QString& name, const QString& alias, bool quote,
                       bool eachFieldOnNewRow);
QString GenerateDelete(const TDescribeRows& fields, const QString& name, bool quote, bool eachFieldOnNewRow);
// The CREATE statement as delivered (a view's through FormatViewDefinition); with quote off
// its identifiers lose the backticks they do not need. "Invalid database object!" when there
// is none.
QString GenerateCreate(const std::optional<QString>& createText, bool isView, bool quote);
QString GenerateAlter(const QString& name, bool isView, bool quote);
QString GenerateDrop(const QString& name, bool isView, bool quote);
QString GenerateFieldList(const TDescribeRows& fields, const QString& alias, bool quote, bool eachFieldOnNewRow);
QString GenerateFieldTypeList(const TDescribeRows& fields, const QString& alias, bool quote,
                              bool eachFieldOnNewRow);

// Joins the lines of text with single blanks into lines of at most 79 characters (a longer
// line stands alone); blank lines and indentation vanish. Every line ends with CR LF.
QString PackLines(const QString& text);

// A view's CREATE statement laid out: "AS" and "SELECT" on lines of their own, one select
// expression per line, "FROM" on its own line and the rest indented below it. Unchanged when
// it has no " AS SELECT " with a " FROM " after it.
QString FormatViewDefinition(const QString& s);

// The text of the error CREATE gives.
extern const QString InvalidDBObjectText;

// Reading through the tools session's CustomQuery, holding the session busy meanwhile; both
// refuse with a silent abort while the session is busy already.
// The DESCRIBE rows of the object, reusing CustomQuery's result when it holds this object's
// DESCRIBE already. Raises the server's error.
TDescribeRows ReadDescribe(TData& data, const QString& name);
// The second field of SHOW CREATE TABLE's row, reusing CustomQuery's result when it holds
// this SHOW CREATE already; none when anything fails, since CREATE shows the same text for
// every failure.
std::optional<QString> ReadShowCreate(TData& data, const QString& name);
// What the action needs of the two.
TDBObjectInfo ReadDBObjectInfo(TData& data, const QString& name, int action);

}  // namespace calvoro::app
