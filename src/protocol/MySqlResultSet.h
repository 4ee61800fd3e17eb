#pragma once
// Reading the rows of a result: TMySqlResultSet hands out one row at a time, described by
// binds (offset and length of each value inside the packet that holds the row) without
// copying values. Query rows are read unbuffered, one packet per row, straight from the
// session's packet buffer, so a row stays valid only until the next read from the
// connection. Buffered reading (every packet kept) serves only column definitions.
//
// The session's side — TMySqlSession::ReadQueryResult, FreeQuery and the local-file upload —
// is defined in MySqlResultSet.cpp, next to the reader it feeds.

#include "MySqlRowFormat.h"

#include <memory>
#include <vector>

namespace calvoro::protocol {

class TMySqlSession;

// Buffered packets, one byte array each.
class TRows {
public:
    void Add(std::vector<uint8_t> packet) { FList.push_back(std::move(packet)); }
    void Clear() { FList.clear(); }
    size_t Count() const { return FList.size(); }
    const std::vector<uint8_t>& operator[](size_t i) const { return FList[i]; }

    std::vector<std::vector<uint8_t>> FList;
};

class TMySqlResultSet {
public:
    // The rows of session's current result: its fieldCount and fields (taken over); text rows.
    explicit TMySqlResultSet(TMySqlSession* session);
    // General form: resultBind (taken over) makes the rows binary rows of a prepared
    // statement; nil for text rows. The session must not be nil (internal error).
    TMySqlResultSet(TMySqlSession* session, TMySqlFieldInfos fields, int fieldCount,
                    std::unique_ptr<TMySqlBinds> resultBind);
    // Clears, ignoring errors of the protocol layer.
    ~TMySqlResultSet();
    TMySqlResultSet(const TMySqlResultSet&) = delete;
    TMySqlResultSet& operator=(const TMySqlResultSet&) = delete;

    // Buffered reading: every packet up to the end-of-data packet goes into frows; the
    // end-of-data packet's warning count and status go to the session. A packet of the
    // maximum length raises "Cannot retrieve huge data in FetchAll mode".
    void ReadRows(bool readStatus = false);
    // Decodes fieldCount buffered column definitions (7 items with protocol 4.1, 5 before).
    // A count other than the number of packets buffered is a malformed answer (2027).
    TMySqlFieldInfos ReadFieldsInfo(int fieldCount);
    // Moves to the next row and describes it: binary rows into fresultBind, text rows into
    // binds (nil: 2028 "Invalid use of null pointer"). False at the end of the rows; an
    // unbuffered result then takes the end-of-data packet's warning count and status into
    // the session and puts it back to msReady. An error packet instead of a row raises it.
    bool Read(TMySqlBinds* binds);
    // Releases the row, the binds and the fields; an unbuffered result drains what is left of
    // its rows (FreeQuery). Afterwards the result no longer refers to the session.
    void Clear();

    // Installs binds for binary rows (one per column), freeing the previous ones.
    void SetResultBind(std::unique_ptr<TMySqlBinds> binds);

    int FieldCount() const { return ffieldCount; }
    const TMySqlFieldInfos& Fields() const { return ffields; }
    bool Eof() const { return feof; }
    TMySqlSession* Session() const { return fsession; }

    std::unique_ptr<TRows> frows;  // buffered packets; nil for an unbuffered result
    size_t frowIndex = 0;          // next buffered row
    int64_t frowCount = 0;         // unbuffered rows read so far
    int ffieldCount = 0;
    const uint8_t* frowBuffer = nullptr;  // bytes of the current row
    std::unique_ptr<TMySqlBinds> fresultBind;  // binary rows; nil for text rows
    TMySqlFieldInfos ffields;
    TMySqlSession* fsession;
    bool feof = false;
    TMySqlBinds FBind;  // one bind per column; the client API's row handle for text rows
    const uint8_t* FGCHandleData = nullptr;  // the row handed to callers (frowBuffer)

private:
    void Decode(const uint8_t* row, size_t length, TMySqlBinds* binds);
};

}  // namespace calvoro::protocol
