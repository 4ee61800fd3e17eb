#pragma once
// A server-side prepared statement: prepared once, executed with parameter values in the
// binary encoding, its rows read as binary rows, closed on the server when it is freed.
// No cursors, long data, statement reset or more than one iteration per execution.
//
// Cycle: Prepare → Execute → (result columns) BindResult and Fetch until 100, or FreeResult
// → Execute again … → Close (or destroy). While rows of an execution are unread the
// session accepts no other command (2014).

#include "MySqlResultSet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace calvoro::protocol {

class TMySqlSession;

// Parameter data types: the record store's data-type codes, so that the data-access layer
// passes its codes through unchanged.
namespace datatypes {
inline constexpr uint16_t dtUnknown = 0, dtString = 1, dtInt8 = 2, dtSmallint = 3, dtInteger = 4,
                          dtFloat = 5, dtDate = 6, dtTime = 7, dtDateTime = 8, dtWord = 9, dtBoolean = 10,
                          dtLargeint = 11, dtBlob = 13, dtMemo = 14, dtExtString = 20, dtBytes = 21,
                          dtVarBytes = 22, dtExtVarBytes = 23, dtUInt32 = 24, dtWideString = 25,
                          dtExtWideString = 26, dtBCD = 27, dtFMTBCD = 28, dtWideMemo = 30;
}

enum TParamDirection { pdUnknown, pdInput, pdOutput, pdInputOutput, pdResult };

// A date, a time of day or both; for dtTime only the time of day counts.
struct TMySqlParamTime {
    int Year = 0, Month = 0, Day = 0;
    int Hour = 0, Minute = 0, Second = 0, MSec = 0;
};

// The contents of a BLOB parameter, handed out piece by piece (a compressed BLOB already
// decompressed by its owner).
class TParamBlob {
public:
    virtual ~TParamBlob() = default;
    virtual uint64_t Size() const = 0;
    virtual void ReadPieces(const std::function<void(std::span<const uint8_t>)>& piece) const = 0;
};
struct TParamBlobRef {
    const TParamBlob* Blob = nullptr;  // nil: internal error when the value is written
};

// A parameter value as it goes on the wire. Integer types take an integer (a Boolean or a
// float is converted), dtFloat a float, dates and times TMySqlParamTime. The string, binary,
// BLOB and decimal types take the exact bytes to send — text already in the connection's
// encoding (UTF-8 in Unicode mode, the 8-bit code page otherwise) and decimals as text with
// "." — or a BLOB reference. An unassigned value (monostate) goes out as 0 or as length 0.
using TParamValue = std::variant<std::monostate, int64_t, double, bool, std::string, TMySqlParamTime, TParamBlobRef>;

struct TParamDesc {
    uint16_t DataType = datatypes::dtUnknown;
    TParamDirection Direction = pdInput;
    bool IsNull = false;
    TParamValue Value;
};
using TParamDescs = std::vector<TParamDesc>;

enum TPrepStmtState { psUnknown, psPrepare, psExecute };

class TMySqlStmt {
public:
    explicit TMySqlStmt(TMySqlSession* session);
    // Frees the result binds and the result set, then closes; errors are ignored.
    ~TMySqlStmt();
    TMySqlStmt(const TMySqlStmt&) = delete;
    TMySqlStmt& operator=(const TMySqlStmt&) = delete;

    // Prepares the statement text (the bytes as given) with the session's command time-out.
    // A server error (syntax …) raises it. Result columns are described by Fields() and a
    // result set (Result()) created for them.
    void Prepare(std::string_view query);
    // Executes with params: one descriptor per parameter marker, a first descriptor of
    // direction pdResult not counted. When the count does not match, the packet carries no
    // parameters and the server's answer decides. unicode is informational (the values
    // carry their bytes). An unsupported data type or a BLOB reference without BLOB raises
    // EInternalError before anything is sent. Afterwards AffectedRows() holds the OK
    // packet's count; a result set's rows follow and must be fetched or freed.
    void Execute(const TParamDescs& params, bool unicode);
    // Installs binds (one per result column) for the binary rows. Not prepared: 2029
    // "Statement not prepared"; no result columns: 2000 "Unknown MySQL error".
    void BindResult(std::unique_ptr<TMySqlBinds> binds);
    // Reads the next binary row: 0 with row describing it (its Buffer points into the
    // session's packet buffer, valid until the next read), or 100 at the end with row nil.
    int Fetch(TMySqlBinds*& row);
    // Drains the rest of the current result and frees the result set.
    void FreeResult();
    // Drains, closes the statement on the server (no answer comes) and forgets columns,
    // parameters and the result set.
    void Close();

    TMySqlSession* Session() const { return fsession; }
    uint32_t StmtId() const { return fstmtId; }
    TPrepStmtState State() const { return fstate; }
    int ParamCount() const { return fparamCount; }
    int FieldCount() const { return ffieldCount; }
    const TMySqlFieldInfos& Fields() const { return ffields; }
    TMySqlResultSet* Result() const { return fresult.get(); }
    int64_t AffectedRows() const { return faffectedRows; }

    uint32_t Ferrno = 0;  // the last error, kept by the client API
    std::string Ferror;
    std::string FSqlState;

private:
    void ReadDefinitions(int count, bool keep);
    std::vector<uint8_t> EncodeParams(std::span<const TParamDesc> params, std::vector<uint16_t>& types) const;

    TMySqlSession* fsession;
    std::unique_ptr<TMySqlResultSet> fresult;
    uint32_t fstmtId = 0;
    TPrepStmtState fstate = psUnknown;
    int fparamCount = 0;
    int ffieldCount = 0;
    TMySqlFieldInfos ffields;
    int64_t faffectedRows = 0;
    // Parameter types sent with the last execution: the type code in the low byte and the
    // unsigned flag (0x80) in the high byte.
    std::vector<uint16_t> FSendedTypes;
};

// Parameter encoding, apart from I/O (used by Execute; exposed for tests):
// the wire type of a data type (type code, and 0x8000 for unsigned), or EInternalError
// "Invalid internal field type $%X (%d)".
uint16_t ParamWireType(uint16_t dataType);
// Appends the binary value of a non-NULL parameter.
void EncodeParamValue(const TParamDesc& param, std::vector<uint8_t>& out);

}  // namespace calvoro::protocol
