#pragma once
// Readable gtest output for variants: their type and value.

#include "common/Variant.h"
#include "support/QtPrinters.h"

#include <ostream>

namespace calvoro {

inline void PrintTo(const Variant& v, std::ostream* os) {
    *os << VarTypeName(v.Type()).toStdString();
    if (v.IsNullOrEmpty()) return;
    *os << ' ';
    if (v.Type() == VarType::Bytes) ::PrintTo(v.AsBytes(), os);
    else ::PrintTo(v.AsString(), os);
}

}  // namespace calvoro
