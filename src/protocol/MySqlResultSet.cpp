#include "MySqlResultSet.h"

#include "MySqlSession.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

namespace calvoro::protocol {
namespace {

constexpr size_t SkipPieceSize = 65536;   // rows are skipped in pieces of this size
constexpr size_t UploadPacketSize = 8192;  // a local file goes out in packets of this size

TMySqlSession* RequireSession(TMySqlSession* session) {
    if (!session) throw EInternalError("MySqlResultSet: result set without a session");
    return session;
}

bool IsServerError(const EMySqlException& e) { return e.ErrorCode() < 2000 || e.ErrorCode() >= 3000; }

// A local file opened for reading; closed with the object.
class TLocalFile {
public:
    explicit TLocalFile(const std::string& name) : FName(name) {
        do FFd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
        while (FFd < 0 && errno == EINTR);
        if (FFd < 0) Raise("Cannot open file");
    }
    ~TLocalFile() { ::close(FFd); }
    TLocalFile(const TLocalFile&) = delete;
    TLocalFile& operator=(const TLocalFile&) = delete;

    // Up to count bytes; 0 at the end of the file.
    size_t Read(uint8_t* bytes, size_t count) {
        ssize_t n;
        do n = ::read(FFd, bytes, count);
        while (n < 0 && errno == EINTR);
        if (n < 0) Raise("Cannot read file");
        return size_t(n);
    }

private:
    [[noreturn]] void Raise(const char* what) {
        throw EProtocolError(std::string(what) + " \"" + FName + "\". " + std::strerror(errno));
    }
    std::string FName;
    int FFd = -1;
};

}  // namespace

// --- The session's side: the answer to a query ------------------------------------------

void TMySqlSession::ReadQueryResult() {
    serverStatus = SERVER_STATUS_AUTOCOMMIT;
    net.Receive();  // an error packet raises
    for (;;) {
        TPacketReader r = net.Reader();
        const int64_t first = r.ReadFieldLength();
        if (first == NullLength) {
            // Local file request: 0xFB, then the file name up to a NUL or the end.
            SendLocalFile(r.ReadString());
            continue;  // the answer to the upload is in the packet buffer
        }
        if (first < 0 || first > INT32_MAX) RaiseMalformedPacket();
        fieldCount = int(first);
        fields.clear();
        if (fieldCount == 0)
            ReadOkPacket(r);
        else
            ReadResultSetHeader(r);
        return;
    }
}

// OK packet:
//   0                [1]
//   affected rows    [length-coded]
//   last insert id   [length-coded]
//   server status    [2, signed]  with protocol 4.1 or CLIENT_TRANSACTIONS
//   warning count    [2, signed]  with protocol 4.1
//   information      [length-coded string]  when bytes remain
// Servers store the information text with its length in front ("2" and 50 characters for
// "Records: 2000  Deleted: 0 …"); taken as the rest of the packet, its length would show.
void TMySqlSession::ReadOkPacket(TPacketReader& r) {
    affectedRows = r.ReadFieldLength();
    insertId = r.ReadFieldLength();
    if (IsProtocol41() || (serverCapabilities & CLIENT_TRANSACTIONS)) serverStatus = r.ReadInt16();
    if (IsProtocol41()) warningCount = r.ReadInt16();
    info.clear();
    if (!r.AtEnd()) {
        const int64_t length = r.ReadFieldLength();
        if (length > 0) info = r.ReadString(size_t(length));
    }
}

// Result-set header:
//   column count  [length-coded]
//   extra         [length-coded]  when bytes remain
// then the column definitions up to an end-of-data packet.
void TMySqlSession::ReadResultSetHeader(TPacketReader& r) {
    if (!r.AtEnd()) extraInfo = r.ReadFieldLength();
    TMySqlResultSet metadata(this, {}, IsProtocol41() ? 7 : 5, nullptr);
    metadata.ReadRows();
    fields = metadata.ReadFieldsInfo(fieldCount);
    status = msGetResult;
    warningCount = 0;
}

// The upload continues the sequence of the server's request: the file's contents in
// packets of at most 8192 bytes, then an empty packet, then the server's answer. Only a file
// the query names is read; for any other the empty packet goes out alone.
void TMySqlSession::SendLocalFile(const std::string& name) {
    net.Clear();
    const bool named = std::find(FLocalInfileNames.begin(), FLocalInfileNames.end(), name) != FLocalInfileNames.end();
    std::exception_ptr fileError;
    if (named) {
        try {
            TLocalFile file(name);
            std::vector<uint8_t> piece(UploadPacketSize);
            while (const size_t n = file.Read(piece.data(), piece.size())) {
                net.WriteBytes(piece.data(), 0, n);
                net.Send();
            }
        } catch (const EMySqlException&) {
            throw;  // the connection failed: nothing more can be sent
        } catch (const EProtocolError&) {
            fileError = std::current_exception();
            net.Clear();
        }
    }
    net.SendEmpty();
    const auto refusal = [&] {
        return EMySqlException(CR_LOAD_DATA_LOCAL_INFILE_REJECTED,
                               "The server asked for the local file '" + name +
                                   "', which the statement sent does not name; the file was not sent.");
    };
    try {
        net.Receive();
    } catch (const EMySqlException& e) {
        // The server's complaint about the missing data says less than the refusal.
        if (!named && IsServerError(e)) throw refusal();
        throw;
    }
    if (!named) throw refusal();
    if (fileError) std::rethrow_exception(fileError);
}

void TMySqlSession::FreeQuery() {
    if (status == msReady) return;
    fields.clear();
    if (FResultSet) {
        // The rows it would read next are gone.
        FResultSet->feof = true;
        FResultSet->frowBuffer = nullptr;
    }
    std::exception_ptr failure;
    try {
        if (net.Vio()) SkipRows();
    } catch (...) {
        failure = std::current_exception();
    }
    status = msReady;
    if (FSkipPacket) {
        FSkipPacket = false;
        try {
            SkipTrailingPacket();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

void TMySqlSession::SkipTrailingPacket() {
    net.Receive();
    TPacketReader r = net.Reader();
    if (r.Remaining() == 0 || r.ReadByte() != 0) return;
    r.ReadFieldLength();  // affected rows
    r.ReadFieldLength();  // last insert id
    if (IsProtocol41() || (serverCapabilities & CLIENT_TRANSACTIONS)) serverStatus = r.ReadInt16();
}

// Reads packets up to the end-of-data packet without keeping them and takes its warning
// count and status. A packet that follows one of the maximum length continues a row; it is
// never taken for an end-of-data or an error packet.
void TMySqlSession::SkipRows() {
    TEndOfData eod;
    if (net.Compress()) {
        std::vector<uint8_t> packet;
        for (;;) {
            net.ReceiveBuffer(packet);
            if (IsEndOfData(packet.data(), packet.size())) {
                eod = DecodeEndOfData(packet.data(), packet.size());
                break;
            }
        }
    } else {
        bool continuation = false;
        for (;;) {
            const size_t length = net.SkipBuffer(FSkipBuffer, SkipPieceSize, !continuation);
            if (!continuation && IsEndOfData(FSkipBuffer.data(), length)) {
                eod = DecodeEndOfData(FSkipBuffer.data(), length);
                break;
            }
            continuation = length == net.MaxPacket();
        }
    }
    if (eod.HasStatus) {
        warningCount = eod.WarningCount;
        serverStatus = eod.ServerStatus;
    }
}

// --- The result set -------------------------------------------------------------------------

TMySqlResultSet::TMySqlResultSet(TMySqlSession* session)
    : TMySqlResultSet(session, RequireSession(session)->fields, RequireSession(session)->fieldCount, nullptr) {}

TMySqlResultSet::TMySqlResultSet(TMySqlSession* session, TMySqlFieldInfos fields, int fieldCount,
                                 std::unique_ptr<TMySqlBinds> resultBind)
    : ffieldCount(fieldCount),
      fresultBind(std::move(resultBind)),
      ffields(std::move(fields)),
      fsession(RequireSession(session)),
      FBind(size_t(std::max(fieldCount, 0))) {
    for (size_t i = 0; i < FBind.Binds.size() && i < ffields.size(); ++i) FBind.Binds[i]._Type = ffields[i]._Type;
}

TMySqlResultSet::~TMySqlResultSet() {
    try {
        Clear();
    } catch (...) {
        // A destructor cannot raise; mysql_free_result drains first and stores its error.
    }
}

void TMySqlResultSet::SetResultBind(std::unique_ptr<TMySqlBinds> binds) { fresultBind = std::move(binds); }

void TMySqlResultSet::ReadRows(bool /*readStatus*/) {
    frows = std::make_unique<TRows>();
    frowIndex = 0;
    for (;;) {
        std::vector<uint8_t> packet;
        fsession->net.ReceiveBuffer(packet);
        if (IsEndOfData(packet.data(), packet.size())) {
            const TEndOfData eod = DecodeEndOfData(packet.data(), packet.size());
            if (eod.HasStatus) {
                fsession->warningCount = eod.WarningCount;
                fsession->serverStatus = eod.ServerStatus;
            }
            break;
        }
        frows->Add(std::move(packet));
    }
    feof = frows->Count() == 0;
}

TMySqlFieldInfos TMySqlResultSet::ReadFieldsInfo(int fieldCount) {
    if (!frows || fieldCount < 0 || size_t(fieldCount) != frows->Count()) RaiseMalformedPacket();
    const bool protocol41 = fsession->IsProtocol41();
    const bool longFlag = fsession->serverCapabilities & CLIENT_LONG_FLAG;
    TMySqlFieldInfos infos;
    infos.reserve(size_t(fieldCount));
    for (const auto& packet : frows->FList)
        infos.push_back(DecodeFieldInfo(packet.data(), packet.size(), protocol41, longFlag));
    return infos;
}

void TMySqlResultSet::Decode(const uint8_t* row, size_t length, TMySqlBinds* binds) {
    const size_t n = size_t(ffieldCount);
    if (binds->Binds.size() < n || (fresultBind && ffields.size() < n))
        throw EInternalError("MySqlResultSet: fewer binds or fields than columns");
    if (fresultBind)
        DecodeBinaryRow(row, length, ffields.data(), binds->Binds.data(), n);
    else
        DecodeTextRow(row, length, binds->Binds.data(), n);
}

bool TMySqlResultSet::Read(TMySqlBinds* binds) {
    if (feof) return false;
    TMySqlBinds* target = fresultBind ? fresultBind.get() : binds;
    if (!target) throw EMySqlException(CR_NULL_POINTER);
    if (frows) {
        const std::vector<uint8_t>& packet = (*frows)[frowIndex++];
        feof = frowIndex >= frows->Count();
        frowBuffer = packet.data();
        Decode(packet.data(), packet.size(), target);
    } else {
        if (fsession->status == msReady) {
            // Drained (FreeQuery) or never started: nothing of this result is left to read.
            feof = true;
            return false;
        }
        TByteStream& b = fsession->net.Buffer();
        try {
            fsession->net.Receive();  // joins a row of any size; an error packet raises
        } catch (const EMySqlException&) {
            feof = true;  // an error packet ends the result; a lost connection too
            frowBuffer = nullptr;
            throw;
        }
        if (IsEndOfData(b.Data(), b.Length())) {
            const TEndOfData eod = DecodeEndOfData(b.Data(), b.Length());
            if (eod.HasStatus) {
                fsession->warningCount = eod.WarningCount;
                fsession->serverStatus = eod.ServerStatus;
            }
            fsession->status = msReady;
            frowBuffer = nullptr;
            FGCHandleData = nullptr;
            feof = true;
            return false;
        }
        frowBuffer = b.Data();
        ++frowCount;
        Decode(frowBuffer, b.Length(), target);
    }
    target->Buffer = frowBuffer;
    if (binds && binds != target) binds->Buffer = frowBuffer;
    FGCHandleData = frowBuffer;
    return true;
}

void TMySqlResultSet::Clear() {
    TMySqlSession* session = fsession;
    const bool current = session && session->FResultSet == this;
    frowBuffer = nullptr;
    FGCHandleData = nullptr;
    fresultBind.reset();
    FBind.Binds.clear();
    FBind.Buffer = nullptr;
    ffields.clear();
    frows.reset();
    fsession = nullptr;
    if (current) {
        session->FResultSet = nullptr;
        // An unbuffered result still on the wire: skip what is left of its rows.
        if (!feof) {
            feof = true;
            session->FreeQuery();
        }
    }
    feof = true;
}

}  // namespace calvoro::protocol
