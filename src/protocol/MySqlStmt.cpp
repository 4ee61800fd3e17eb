#include "MySqlStmt.h"

#include "MySqlSession.h"

#include <cmath>
#include <cstring>

namespace calvoro::protocol {
namespace {

using namespace datatypes;

constexpr uint16_t UnsignedParam = 0x8000;  // second type byte 0x80

[[noreturn]] void RaiseInvalidType(uint16_t dataType) {
    throw EInternalError(FormatText("Invalid internal field type $%X (%d)", {int(dataType), int(dataType)}));
}

[[noreturn]] void RaiseWrongValue(uint16_t dataType) {
    throw EInternalError(FormatText("MySqlStmt: parameter value of the wrong kind for data type %d", {int(dataType)}));
}

void PutLE(std::vector<uint8_t>& out, uint64_t value, size_t size) {
    for (size_t i = 0; i < size; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

void PutFieldLength(std::vector<uint8_t>& out, uint64_t length) {
    uint8_t bytes[9];
    out.insert(out.end(), bytes, bytes + EncodeFieldLength(int64_t(length), bytes));
}

int64_t IntegerOf(const TParamDesc& p) {
    if (const auto* v = std::get_if<int64_t>(&p.Value)) return *v;
    if (const auto* v = std::get_if<bool>(&p.Value)) return *v ? 1 : 0;
    if (const auto* v = std::get_if<double>(&p.Value)) return std::llround(*v);
    if (std::holds_alternative<std::monostate>(p.Value)) return 0;
    RaiseWrongValue(p.DataType);
}

double FloatOf(const TParamDesc& p) {
    if (const auto* v = std::get_if<double>(&p.Value)) return *v;
    if (std::holds_alternative<int64_t>(p.Value) || std::holds_alternative<bool>(p.Value) ||
        std::holds_alternative<std::monostate>(p.Value))
        return double(IntegerOf(p));
    RaiseWrongValue(p.DataType);
}

TMySqlParamTime TimeOf(const TParamDesc& p) {
    if (const auto* v = std::get_if<TMySqlParamTime>(&p.Value)) return *v;
    if (std::holds_alternative<std::monostate>(p.Value)) return {};
    RaiseWrongValue(p.DataType);
}

// year [2], month, day
void PutDate(std::vector<uint8_t>& out, const TMySqlParamTime& t) {
    PutLE(out, uint64_t(t.Year), 2);
    out.push_back(uint8_t(t.Month));
    out.push_back(uint8_t(t.Day));
}

// hour, minute, second, microseconds [4]
void PutTimeOfDay(std::vector<uint8_t>& out, const TMySqlParamTime& t) {
    out.push_back(uint8_t(t.Hour));
    out.push_back(uint8_t(t.Minute));
    out.push_back(uint8_t(t.Second));
    PutLE(out, uint64_t(t.MSec) * 1000, 4);
}

// A length-coded string: the bytes given, a BLOB's contents, or nothing.
void PutBytes(const TParamDesc& p, std::vector<uint8_t>& out) {
    if (const auto* s = std::get_if<std::string>(&p.Value)) {
        PutFieldLength(out, s->size());
        out.insert(out.end(), s->begin(), s->end());
    } else if (const auto* ref = std::get_if<TParamBlobRef>(&p.Value)) {
        if (!ref->Blob) throw EInternalError("MySqlStmt: BLOB parameter without BLOB object");
        const uint64_t size = ref->Blob->Size();
        PutFieldLength(out, size);
        const size_t start = out.size();
        ref->Blob->ReadPieces([&](std::span<const uint8_t> piece) { out.insert(out.end(), piece.begin(), piece.end()); });
        if (out.size() - start != size) throw EInternalError("MySqlStmt: BLOB contents differ from its size");
    } else if (std::holds_alternative<std::monostate>(p.Value)) {
        PutFieldLength(out, 0);
    } else {
        RaiseWrongValue(p.DataType);
    }
}

bool IsBytesType(uint16_t t) {
    switch (t) {
        case dtString: case dtMemo: case dtWideString: case dtWideMemo:
        case dtBlob: case dtBytes: case dtVarBytes: case dtBCD: case dtFMTBCD:
            return true;
        default:
            return false;
    }
}

}  // namespace

uint16_t ParamWireType(uint16_t dataType) {
    switch (dataType) {
        case dtInt8:
        case dtBoolean: return FIELD_TYPE_TINY;
        case dtSmallint: return FIELD_TYPE_SHORT;
        case dtInteger:
        case dtWord: return FIELD_TYPE_LONG;
        case dtUInt32: return FIELD_TYPE_LONG | UnsignedParam;  // above 2^31 it would turn negative
        case dtFloat: return FIELD_TYPE_DOUBLE;
        case dtLargeint: return FIELD_TYPE_LONGLONG;
        case dtDate: return FIELD_TYPE_DATE;
        case dtTime: return FIELD_TYPE_TIME;
        case dtDateTime: return FIELD_TYPE_DATETIME;
        case dtUnknown:
        case dtExtString:
        case dtExtVarBytes:
        case dtExtWideString: return FIELD_TYPE_VAR_STRING;  // only a NULL can be sent
        default:
            if (IsBytesType(dataType)) return FIELD_TYPE_VAR_STRING;
            RaiseInvalidType(dataType);
    }
}

// Binary parameter values:
//   TINY 1 byte; SHORT 2; LONG 4; DOUBLE 8 (IEEE 754); LONGLONG 8
//   DATE      length 4, year [2], month, day
//   TIME      length 12, sign 0, days 0 [4], hour, minute, second, microseconds [4]
//   DATETIME  length 11, year [2], month, day, hour, minute, second, microseconds [4]
//   strings, bytes, decimals: length-coded length and the bytes
void EncodeParamValue(const TParamDesc& p, std::vector<uint8_t>& out) {
    switch (p.DataType) {
        case dtInt8: PutLE(out, uint64_t(IntegerOf(p)), 1); break;
        case dtBoolean: out.push_back(IntegerOf(p) != 0 ? 1 : 0); break;
        case dtSmallint: PutLE(out, uint64_t(IntegerOf(p)), 2); break;
        case dtInteger:
        case dtUInt32: PutLE(out, uint64_t(IntegerOf(p)), 4); break;
        case dtWord: PutLE(out, uint64_t(IntegerOf(p)) & 0xFFFF, 4); break;
        case dtLargeint: PutLE(out, uint64_t(IntegerOf(p)), 8); break;
        case dtFloat: {
            const double d = FloatOf(p);
            uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            PutLE(out, bits, 8);
            break;
        }
        case dtDate:
            out.push_back(4);
            PutDate(out, TimeOf(p));
            break;
        case dtTime: {
            const TMySqlParamTime t = TimeOf(p);
            out.push_back(12);
            out.push_back(0);     // sign
            PutLE(out, 0, 4);     // days
            PutTimeOfDay(out, t);
            break;
        }
        case dtDateTime: {
            const TMySqlParamTime t = TimeOf(p);
            out.push_back(11);
            PutDate(out, t);
            PutTimeOfDay(out, t);
            break;
        }
        default:
            if (!IsBytesType(p.DataType)) RaiseInvalidType(p.DataType);
            PutBytes(p, out);
    }
}

TMySqlStmt::TMySqlStmt(TMySqlSession* session) : fsession(session) {
    if (!session) throw EInternalError("MySqlStmt: statement without a session");
}

TMySqlStmt::~TMySqlStmt() {
    try {
        fresult.reset();
        Close();
    } catch (...) {
        // A destructor cannot raise; the connection's next command reports a broken stream.
    }
}

// Prepare response:
//   status            [1]  0
//   statement id      [4]
//   column count      [2, signed]
//   parameter count   [2, signed]
//   extra             [length-coded]  when there are columns and bytes remain
// then parameter definitions and column definitions, each up to an end-of-data packet.
void TMySqlStmt::Prepare(std::string_view query) {
    fsession->SimpleCommand(scPrepare, query, true);
    fsession->net.Receive();  // an error packet raises
    TPacketReader r = fsession->net.Reader();
    r.ReadByte();
    const uint32_t id = r.ReadUInt32();
    const int columns = r.ReadInt16();
    const int params = r.ReadInt16();
    if (columns < 0 || params < 0) RaiseMalformedPacket();
    if (columns != 0 && !r.AtEnd()) fsession->extraInfo = r.ReadFieldLength();
    fresult.reset();
    ffields.clear();
    FSendedTypes.clear();  // a new statement on the server has seen no types
    fstmtId = id;
    fparamCount = params;
    ffieldCount = columns;
    if (params > 0) ReadDefinitions(params, false);
    if (columns > 0) {
        ReadDefinitions(columns, true);
        fresult = std::make_unique<TMySqlResultSet>(fsession, ffields, ffieldCount, nullptr);
    }
    fstate = psPrepare;
}

void TMySqlStmt::ReadDefinitions(int count, bool keep) {
    TMySqlResultSet definitions(fsession, {}, fsession->IsProtocol41() ? 7 : 5, nullptr);
    definitions.ReadRows();
    if (keep) ffields = definitions.ReadFieldsInfo(count);
}

// Parameter block of the execute request (n parameters):
//   NULL bitmap     [(n + 7) / 8]  bit i % 8 of byte i / 8 set for a NULL parameter i
//   new-types flag  [1]  1 when the types differ from those sent last
//   types           [2 × n]  only with the flag: type code, then 0x80 for unsigned or 0
//   values          the non-NULL parameters in order
std::vector<uint8_t> TMySqlStmt::EncodeParams(std::span<const TParamDesc> params, std::vector<uint16_t>& types) const {
    const size_t n = params.size();
    types.resize(n);
    for (size_t i = 0; i < n; ++i) types[i] = ParamWireType(params[i].DataType);
    std::vector<uint8_t> block((n + 7) / 8, 0);
    for (size_t i = 0; i < n; ++i)
        if (params[i].IsNull) block[i / 8] |= uint8_t(1u << (i % 8));
    const bool newTypes = types != FSendedTypes;
    block.push_back(newTypes ? 1 : 0);
    if (newTypes)
        for (const uint16_t t : types) PutLE(block, t, 2);
    for (const auto& p : params)
        if (!p.IsNull) EncodeParamValue(p, block);
    return block;
}

// Execute request:
//   23 (scExecute)    [1]
//   statement id      [4]
//   flags             [1]  0, no cursor
//   iteration count   [4]  1
//   parameter block   when the descriptors match the parameter count (EncodeParams)
void TMySqlStmt::Execute(const TParamDescs& params, bool /*unicode*/) {
    const size_t skip = !params.empty() && params[0].Direction == pdResult ? 1 : 0;
    TMySqlNet& net = fsession->net;
    fsession->WriteCommand(scExecute);
    // Whatever this statement read before is over; its result set is no longer current.
    if (fresult && fsession->FResultSet == fresult.get()) fsession->FResultSet = nullptr;
    net.WriteInt32(int32_t(fstmtId));
    net.WriteByte(0);
    net.WriteInt32(1);
    const size_t n = size_t(fparamCount);
    std::vector<uint16_t> types;
    if (n > 0 && params.size() - skip == n) {
        // Assembled whole before anything is written: a large value may sit anywhere.
        const std::vector<uint8_t> block = EncodeParams(std::span(params).subspan(skip), types);
        net.WriteBytes(block);
    }
    net.Send();
    if (!types.empty()) FSendedTypes = std::move(types);

    fsession->ReadQueryResult();
    if (fsession->fieldCount > 0) {
        // A result set: its binary rows follow.
        ffields = std::move(fsession->fields);
        ffieldCount = fsession->fieldCount;
        fsession->fields.clear();
        fsession->fieldCount = 0;
        fresult = std::make_unique<TMySqlResultSet>(fsession, ffields, ffieldCount, nullptr);
        fsession->FResultSet = fresult.get();
        fsession->status = msUseResult;
    }
    faffectedRows = fsession->affectedRows;
}

void TMySqlStmt::BindResult(std::unique_ptr<TMySqlBinds> binds) {
    if (fstate != psPrepare) throw EMySqlException(CR_NO_PREPARE_STMT);
    if (!fresult) throw EMySqlException(CR_UNKNOWN_ERROR);
    fresult->SetResultBind(std::move(binds));
}

int TMySqlStmt::Fetch(TMySqlBinds*& row) {
    row = nullptr;
    if (!fresult) return 100;
    if (fresult->Read(nullptr)) {
        row = fresult->fresultBind.get();
        return 0;
    }
    if (fsession->FSkipPacket && (fsession->serverStatus & SERVER_MORE_RESULTS_EXISTS)) {
        fsession->FSkipPacket = false;
        fsession->SkipTrailingPacket();
    }
    return 100;
}

void TMySqlStmt::FreeResult() {
    fsession->FreeQuery();
    if (fresult) {
        fresult->Clear();
        fresult.reset();
    }
}

void TMySqlStmt::Close() {
    fsession->FreeQuery();
    if (fstate == psPrepare) {
        // Close request: 25 (scCloseStmt) [1], statement id [4]; the server does not answer.
        fsession->WriteCommand(scCloseStmt);
        fsession->net.WriteInt32(int32_t(fstmtId));
        fsession->net.Send();
        fstate = psUnknown;
        fstmtId = 0;
    }
    ffieldCount = 0;
    fparamCount = 0;
    fresult.reset();
    ffields.clear();
    FSendedTypes.clear();
}

}  // namespace calvoro::protocol
