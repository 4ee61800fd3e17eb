#pragma once
// Which local files a statement text asks the server to read from this client.
//
// A server answers LOAD DATA LOCAL INFILE with a request naming a file, and the client
// uploads it. A hostile or compromised server can send such a request at any time, for any
// file the user can read; the session therefore uploads only files that the statement it
// has just sent names itself, and refuses every other request.

#include <string>
#include <string_view>
#include <vector>

namespace calvoro::protocol {

// The file names of every LOAD DATA [LOW_PRIORITY | CONCURRENT] LOCAL INFILE 'name' and
// LOAD XML ... LOCAL INFILE 'name' statement in sql (statements separated by ";"; quoted
// text and comments skipped). A literal is returned in two readings when they differ: with
// backslash escapes decoded, and as written (the NO_BACKSLASH_ESCAPES mode), so that the
// server's request matches whichever mode it runs in.
std::vector<std::string> LocalInfileNames(std::string_view sql);

}  // namespace calvoro::protocol
