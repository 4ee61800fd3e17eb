#pragma once
// Our side of the benchmarks: a TMyConnection set up from the shared options and connected,
// exchanging text as utf8mb4 with --unicode and as latin1 otherwise (as the peer does), and
// without TLS (the peer's default), so that both sides do the same work.

#include "BenchOptions.h"
#include "dataaccess/mysql/MyAccess.h"

inline void ConnectOurs(const TBenchOptions& o, calvoro::dac::TMyConnection& c) {
    c.SetLoginPrompt(false);
    c.SSLOptions().Mode = calvoro::protocol::smDisabled;
    c.SetServer(QString::fromStdString(o.Host));
    c.SetPort(int(o.Port));
    c.SetUsername(QString::fromStdString(o.User));
    c.SetPassword(QString::fromStdString(o.Password));
    if (o.Unicode) c.MyOptions().SetUseUnicode(true);
    else c.MyOptions().SetCharset(QStringLiteral("latin1"));
    c.Connect();
}
