#pragma once
// Appending bytes to a buffer whose capacity is kept: cheaper than QByteArray::append for the
// many short pieces of a backup's rows.

#include <QByteArray>
#include <QByteArrayView>

#include <cstring>

namespace calvoro::dump {

inline void AppendBytes(QByteArray& out, const char* data, qsizetype size) {
    const qsizetype start = out.size();
    out.resize(start + size);
    std::memcpy(out.data() + start, data, size_t(size));
}
inline void AppendBytes(QByteArray& out, QByteArrayView bytes) { AppendBytes(out, bytes.data(), bytes.size()); }

}  // namespace calvoro::dump
