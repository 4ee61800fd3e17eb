#include "CliAdmin.h"

#include "CliConnection.h"
#include "CliQuery.h"
#include "CliReport.h"
#include "common/Exceptions.h"
#include "dataaccess/mysql/MyAdminReaders.h"
#include "dataaccess/mysql/MyAdminStatements.h"

#include <string>

namespace calvoro::cli {

namespace {

// SHOW PROCESSLIST without FULL shows this much of each statement.
constexpr qsizetype ShortInfoLength = 100;

void AppendText(std::string& out, const std::optional<QString>& value) {
    if (!value) {
        out += "NULL";
        return;
    }
    const QByteArray bytes = value->toUtf8();
    AppendBatchEscaped(out, std::string_view(bytes.constData(), size_t(bytes.size())));
}

}  // namespace

void RunProcessList(const TCliOptions& o, FILE* out, FILE* err) {
    auto connection = NewConnection(o);
    connection->Connect();
    const std::vector<dac::TProcessInfo> list = dac::ReadProcessList(*connection);
    std::string buffer = "Id\tUser\tHost\tdb\tCommand\tTime\tState\tInfo\n";
    for (const dac::TProcessInfo& p : list) {
        buffer += std::to_string(p.Id);
        for (const std::optional<QString>& value :
             {std::optional<QString>(p.User), std::optional<QString>(p.Host), p.Database,
              std::optional<QString>(p.Command), std::optional<QString>(QString::number(p.Time)),
              std::optional<QString>(p.State),
              o.Full || !p.Info ? p.Info : std::optional<QString>(p.Info->left(ShortInfoLength))}) {
            buffer += '\t';
            AppendText(buffer, value);
        }
        buffer += '\n';
    }
    if (std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size())
        throw Exception(QStringLiteral("calvoro-cli: cannot write the output"));
    std::fflush(out);
    std::fprintf(err, "%zu %s\n", list.size(), list.size() == 1 ? "row" : "rows");
}

int RunKill(const TCliOptions& o, FILE* err) {
    auto connection = NewConnection(o);
    connection->Connect();
    int status = 0;
    for (const qint64 id : o.ProcessIds) {
        try {
            connection->ExecSQL(dac::KillStatement(id, o.KillQuery ? dac::kkQuery : dac::kkConnection));
        } catch (const dac::EMyError& e) {
            // The server refused this one (no such id, not ours to end): say so, go on.
            if (e.IsFatalError()) throw;
            const QByteArray text = (ErrorText(e) + u'\n').toUtf8();
            std::fwrite(text.constData(), 1, size_t(text.size()), err);
            status = 1;
        }
    }
    return status;
}

}  // namespace calvoro::cli
