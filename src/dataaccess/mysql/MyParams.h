#pragma once
// Parameter markers in MySQL statement text: ":name" (also ":@name" and ":`quoted name`")
// becomes "?" and a parameter description; colons in strings, comments and backquoted names,
// ":=", "::" and a colon before a blank stay as they are.

#include "dataaccess/common/CRAccess.h"

#include <QString>

#include <vector>

namespace calvoro::dac {

struct TParsedSQL {
    QString Text;                        // with "?" where markers stood
    std::vector<TParamDesc> Params;      // one per marker, in order
    std::vector<int> Positions;          // 1-based position of each "?" in Text
};

TParsedSQL ParseParamMarkers(const QString& sql);

// Cuts text at every "?" outside strings and comments: n placeholders give n + 1 fragments.
QStringList CutAtPlaceholders(const QString& text);

}  // namespace calvoro::dac
