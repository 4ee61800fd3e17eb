// Parameter markers on arbitrary statement text (UTF-8 input): parsing ends, raising at most
// the lexer's own error (a control character outside quotes and comments), and keeps its
// record straight (one position per parameter, each at a "?" of the new text, in order), text
// without a colon comes back unchanged, and cutting the new text at its placeholders cuts at
// every marker and loses nothing (the fragments joined with "?" are the text again).
#include "FuzzCheck.h"
#include "dataaccess/mysql/MyParams.h"
#include "sqltext/CRParser.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <set>

using namespace calvoro::dac;
using calvoro::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString sql = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    TParsedSQL parsed;
    try {
        parsed = ParseParamMarkers(sql);
    } catch (const calvoro::sqltext::EParserError&) {
        return 0;  // refused as the lexer refuses any text with that character
    }
    Check(parsed.Params.size() == parsed.Positions.size());
    int previous = 0;
    for (const int position : parsed.Positions) {
        Check(position > previous && position <= parsed.Text.size());
        Check(parsed.Text[position - 1] == u'?');
        previous = position;
    }
    if (!sql.contains(u':')) Check(parsed.Text == sql && parsed.Params.empty());

    QStringList fragments;
    try {
        fragments = CutAtPlaceholders(parsed.Text);
    } catch (const calvoro::sqltext::EParserError&) {
        Check(!sql.contains(u':'));  // text with a colon was lexed whole above; the "?"s change nothing
        return 0;
    }
    Check(fragments.join(u'?') == parsed.Text);
    std::set<int> cuts;  // 1-based, as the positions
    qsizetype at = 0;
    for (qsizetype i = 0; i + 1 < fragments.size(); ++i) {
        at += fragments[i].size() + 1;
        cuts.insert(int(at));
    }
    for (const int position : parsed.Positions) Check(cuts.count(position) == 1);
    return 0;
}
