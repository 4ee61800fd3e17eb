#pragma once
// calvoro-cli --session NAME: a session saved in the program fills the connection options the
// command line leaves out.

#include "CliOptions.h"

namespace calvoro::sessions {
class TSessionStore;
}

namespace calvoro::cli {

// Fills o from the saved session o.Session (nothing without --session): server, port, socket,
// user, database, TLS mode and CA file where no option gave them; read-only when the session
// is; the kept password when neither -p nor MYSQL_PWD gives one. Raises calvoro::Exception for
// a session that does not exist, one whose password cannot be read, and one that needs an SSH
// tunnel (this program makes none).
void ApplySavedSession(TCliOptions& o, const sessions::TSessionStore& store);

}  // namespace calvoro::cli
