// The LOCAL INFILE file-name scanner on arbitrary statement text: it ends, reads nothing past
// the text, and what a statement names does not depend on the statements around it. The scan
// restarts after every ";" outside quotes and comments, so a statement put in front of any text
// contributes its name first and leaves the names of the text after it unchanged.
#include "FuzzCheck.h"
#include "protocol/LocalInfile.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace calvoro::protocol;
using calvoro::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string sql(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> names = LocalInfileNames(sql);
    for (const std::string& name : names) Check(name.size() <= sql.size());

    const std::vector<std::string> after = LocalInfileNames("LOAD DATA LOCAL INFILE 'x\\ty' INTO TABLE t;\n" + sql);
    Check(after.size() == names.size() + 2);
    Check(after[0] == "x\ty" && after[1] == "x\\ty");  // decoded, then as written
    for (size_t i = 0; i < names.size(); ++i) Check(after[i + 2] == names[i]);
    return 0;
}
