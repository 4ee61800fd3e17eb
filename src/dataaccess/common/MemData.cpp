#include "MemData.h"

#include "common/CodePage.h"
#include "common/Exceptions.h"
#include "common/ScopeGuard.h"

#include <QCollator>
#include <QRegularExpression>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace calvoro::dac {

namespace {

// Taken by every reset of a store, so that bookmarks of an earlier filling are resolved by
// record number, never by a stale item.
std::atomic<int32_t> RefreshIterationCounter{0};

template <typename T>
T Load(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T>
void Store(uint8_t* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

bool IsStringType(TDataType t) {
    return t == dtString || t == dtExtString || t == dtWideString || t == dtExtWideString;
}
bool IsHeapType(TDataType t) { return t == dtExtString || t == dtExtWideString || t == dtExtVarBytes; }

// A decimal number as text: optional sign, digits, optional point and digits.
bool IsDecimalText(QByteArrayView text) {
    qsizetype i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    qsizetype digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    }
    return digits > 0 && i == text.size();
}

// Compares two decimal texts by value.
int CompareDecimalText(QByteArrayView a, QByteArrayView b) {
    struct Parts {
        bool negative = false;
        QByteArrayView integer, fraction;
    };
    auto split = [](QByteArrayView t) {
        Parts p;
        if (!t.isEmpty() && (t[0] == '-' || t[0] == '+')) {
            p.negative = t[0] == '-';
            t = t.sliced(1);
        }
        const qsizetype dot = t.indexOf('.');
        QByteArrayView integer = dot < 0 ? t : t.first(dot);
        QByteArrayView fraction = dot < 0 ? QByteArrayView() : t.sliced(dot + 1);
        while (!integer.isEmpty() && integer[0] == '0') integer = integer.sliced(1);
        while (!fraction.isEmpty() && fraction.back() == '0') fraction.chop(1);
        p.integer = integer;
        p.fraction = fraction;
        if (integer.isEmpty() && fraction.isEmpty()) p.negative = false;  // -0 is 0
        return p;
    };
    const Parts x = split(a), y = split(b);
    if (x.negative != y.negative) return x.negative ? -1 : 1;
    int magnitude;
    if (x.integer.size() != y.integer.size()) {
        magnitude = x.integer.size() < y.integer.size() ? -1 : 1;
    } else {
        magnitude = std::memcmp(x.integer.data(), y.integer.data(), size_t(x.integer.size()));
        if (magnitude == 0) {
            const qsizetype n = std::min(x.fraction.size(), y.fraction.size());
            magnitude = std::memcmp(x.fraction.data(), y.fraction.data(), size_t(n));
            if (magnitude == 0) magnitude = x.fraction.size() < y.fraction.size() ? -1 : x.fraction.size() > y.fraction.size();
        }
    }
    magnitude = (magnitude > 0) - (magnitude < 0);
    return x.negative ? -magnitude : magnitude;
}

// The exact decimal text of a value for a dtFMTBCD field.
QByteArray DecimalTextOf(const Variant& value) {
    switch (value.Type()) {
        case VarType::Integer: return QByteArray::number(qlonglong(value.AsInt64()));
        case VarType::Boolean: return value.AsBoolean() ? "-1" : "0";
        case VarType::Float: {
            const double v = value.AsFloat();
            if (!std::isfinite(v)) throw EConvertError(QStringLiteral("'%1' is not a valid BCD value").arg(v));
            return QByteArray::number(v, 'f', QLocale::FloatingPointShortest);
        }
        default: {
            const QByteArray text = value.AsString().trimmed().toLatin1();
            if (!IsDecimalText(text))
                throw EConvertError(QStringLiteral("'%1' is not a valid BCD value").arg(value.AsString()));
            return text;
        }
    }
}

int Sign(int64_t v) { return (v > 0) - (v < 0); }
int Sign(double a, double b) { return (a > b) - (a < b); }

}  // namespace

// --- TFieldDescs ---

TFieldDesc& TFieldDescs::Add(std::unique_ptr<TFieldDesc> desc) {
    FItems.push_back(std::move(desc));
    return *FItems.back();
}

TFieldDesc* TFieldDescs::FindField(const QString& name) const {
    for (const auto& f : FItems)
        if (!f->FParentField && f->FName.compare(name, Qt::CaseInsensitive) == 0) return f.get();
    if (name.contains(u'.') || name.contains(u'['))
        for (const auto& f : FItems)
            if (f->FActualName.compare(name, Qt::CaseInsensitive) == 0) return f.get();
    return nullptr;
}

TFieldDesc& TFieldDescs::FieldByName(const QString& name) const {
    if (TFieldDesc* f = FindField(name)) return *f;
    throw EDatabaseError(QStringLiteral("Field %1 not found").arg(name));
}

// --- TData: life ---

TData::TData() = default;

TData::~TData() = default;

void TData::Open() {
    if (FActive) return;
    ClearData();
    ScopeExit undo([&] {
        InternalClose();
        ClearData();
    });
    InternalOpen();
    undo.Dismiss();
    FActive = true;
}

void TData::InternalOpen() { InitFields(); }

void TData::Close() {
    if (!FActive) return;
    InternalClose();
    ClearData();
    FActive = false;
    if (FAutoInitFields && !FPrepared) ClearFields();
}

void TData::Reopen() {
    Close();
    Open();
}

void TData::Prepare() {
    if (FPrepared) return;
    InternalPrepare();
    FPrepared = true;
}

void TData::UnPrepare() {
    if (!FPrepared) return;
    FPrepared = false;
    InternalUnPrepare();
    if (FAutoInitFields && !FActive) ClearFields();
}

void TData::ClearFields() {
    FFields.Clear();
    FRecordSize = FCalcRecordSize = FDataSize = FCalcDataSize = 0;
    FHasComplexFields = false;
}

void TData::InitFields() {
    if (FAutoInitFields) {
        ClearFields();
        CreateFieldDescs();
        if (FOnGetCachedFields) FOnGetCachedFields();
        MakeNamesUnique();
    }
    ComputeLayout();
    if (FOnFieldsChanged) FOnFieldsChanged();
}

void TData::MakeNamesUnique() {
    // Sorted by name (letter case ignored), ties by position: the first of equal names keeps
    // it, the others get "_1", "_2" …; an empty name becomes "_0", "_1" ….
    std::vector<TFieldDesc*> sorted;
    for (const auto& f : FFields)
        if (!f->FParentField) sorted.push_back(f.get());
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(sorted.begin(), sorted.end(), [&](const TFieldDesc* a, const TFieldDesc* b) {
        return collator.compare(a->FName, b->FName) < 0;
    });
    std::map<QString, int> used;  // lower-case name -> last running number given with it
    for (TFieldDesc* f : sorted) {
        const QString base = f->FName;
        QString name = base;
        if (base.isEmpty()) {
            int& n = used[QString()];
            do name = QStringLiteral("_%1").arg(n++); while (used.count(name.toLower()));
        } else {
            while (used.count(name.toLower())) name = base + QStringLiteral("_%1").arg(++used[base.toLower()]);
        }
        f->FName = name;
        used.emplace(name.toLower(), 0);
    }
}

uint32_t TData::ValueSize(TDataType dataType, uint16_t length) {
    switch (dataType) {
        case dtString: return uint32_t(length) + 3;
        case dtWideString: return 2 + 2 * (uint32_t(length) + 1);
        case dtInt8: case dtSmallint: case dtWord: case dtBoolean: return 2;
        case dtInteger: case dtUInt32: return 4;
        case dtFloat: case dtDate: case dtTime: case dtDateTime: case dtCurrency: case dtLargeint: case dtBCD:
            return 8;
        case dtBlob: case dtMemo: case dtWideMemo: case dtVariant: case dtExtString: case dtExtWideString:
        case dtExtVarBytes:
            return sizeof(void*);
        case dtBytes: return uint32_t(length) + 1;
        case dtVarBytes: return uint32_t(length) + 2;
        case dtFMTBCD: return uint32_t(length) + 3;
        case dtGuid: return 39;
        default: return 0;
    }
}

void TData::ComputeLayout() {
    uint32_t offset = 0;
    int dataCount = 0, calcCount = 0;
    for (int i = 0; i < FFields.Count(); ++i) {
        TFieldDesc& f = FFields[i];
        f.FFieldNo = uint16_t(i + 1);
        if (f.FSize == 0) f.FSize = ValueSize(f.FDataType, f.FLength);
        if (f.FFieldDescKind == fdkCalculated) {
            ++calcCount;
            continue;
        }
        ++dataCount;
        if (f.FDataType == dtWideString && offset % 2) ++offset;
        f.FOffset = offset;
        offset += f.FSize;
    }
    FDataSize = offset;
    FRecordSize = FDataSize + uint32_t(dataCount + 7) / 8;
    if (FRecordSize % 2 == 0) ++FRecordSize;

    offset = FRecordSize;
    for (const auto& f : FFields) {
        if (f->FFieldDescKind != fdkCalculated) continue;
        if (f->FDataType == dtWideString && offset % 2) ++offset;
        f->FOffset = offset;
        offset += f->FSize;
    }
    FCalcDataSize = offset - FRecordSize;
    FCalcRecordSize = FCalcDataSize + uint32_t(calcCount + 7) / 8;
    if (FCalcRecordSize && FCalcRecordSize % 2 == 0) ++FCalcRecordSize;

    int dataIndex = 0, calcIndex = 0;
    FHasComplexFields = false;
    for (const auto& f : FFields) {
        if (f->FFieldDescKind == fdkCalculated)
            f->FNullBit = (FRecordSize + FCalcDataSize) * 8 + uint32_t(calcIndex++);
        else
            f->FNullBit = FDataSize * 8 + uint32_t(dataIndex++);
        if (IsComplexFieldType(f->FDataType)) FHasComplexFields = true;
    }
}

// --- TData: records ---

void TRecBufFree::operator()(uint8_t* recBuf) const { std::free(recBuf); }

TRecBufOwner TData::AllocRecBuf() const {
    const size_t size = std::max<size_t>(FRecordSize + FCalcRecordSize, 1);
    TRecBufOwner buf(static_cast<TRecBuf>(std::calloc(1, size)));
    if (!buf) throw std::bad_alloc();
    return buf;
}

void TData::InitRecord(TRecBuf recBuf) const {
    if (FHasComplexFields) std::memset(recBuf, 0, FRecordSize + FCalcRecordSize);
    for (const auto& f : FFields) SetNullFlag(*f, recBuf, true);
}

void TData::AppendBlankRecord() {
    const TRecBufOwner owner = AllocRecBuf();
    const TRecBuf buf = owner.get();
    InitRecord(buf);
    CreateComplexFields(buf, true);
    ScopeExit release([&] { FreeComplexFields(buf, true); });  // the row owns them once appended
    AppendRecord(buf);
    release.Dismiss();
}

// --- TData: field values ---

void* TData::GetRef(const uint8_t* p) { return Load<void*>(p); }
void TData::SetRef(uint8_t* p, const void* ref) { Store<const void*>(p, ref); }

bool TData::IsComplexFieldType(TDataType t) {
    return IsBlobDataType(t) || t == dtVariant || IsHeapType(t);
}

bool TData::HasBlobFields() const {
    return std::any_of(FFields.begin(), FFields.end(), [](const auto& f) { return IsBlobDataType(f->FDataType); });
}

bool TData::GetNull(int fieldNo, const uint8_t* recBuf) const {
    const TFieldDesc& f = Field(fieldNo);
    if (!NullFlag(f, recBuf)) return false;
    if (IsBlobDataType(f.FDataType)) {
        const TBlob* blob = static_cast<const TBlob*>(GetRef(FieldPtr(f, recBuf)));
        return !blob || blob->Size() == 0;
    }
    return true;
}

void TData::ReleaseHeapRef(uint8_t* p) {
    if (uint8_t* buf = static_cast<uint8_t*>(GetRef(p))) {
        SetRef(p, nullptr);
        if (!FStringHeap.Empty()) FStringHeap.DisposeBuf(buf);
    }
}

void TData::SetNull(int fieldNo, TRecBuf recBuf, bool value) {
    const TFieldDesc& f = Field(fieldNo);
    SetNullFlag(f, recBuf, value);
    if (!value) return;
    uint8_t* p = FieldPtr(f, recBuf);
    if (IsBlobDataType(f.FDataType)) {
        if (TBlob* blob = static_cast<TBlob*>(GetRef(p))) blob->Clear();
    } else if (IsHeapType(f.FDataType)) {
        ReleaseHeapRef(p);
    }
}

QByteArrayView TData::GetFieldBytes(const TFieldDesc& f, const uint8_t* recBuf) const {
    if (NullFlag(f, recBuf)) return {};
    const uint8_t* p = FieldPtr(f, recBuf);
    switch (f.FDataType) {
        case dtString:
        case dtVarBytes:
            return {p + 2, Load<uint16_t>(p)};
        case dtExtString:
        case dtExtVarBytes: {
            const auto* buf = static_cast<const uint8_t*>(GetRef(p));
            if (!buf) return {};
            return {buf + 4, Load<uint32_t>(buf)};
        }
        case dtBytes:
            return {p, f.FSize - 1};
        case dtFMTBCD:
        case dtGuid:
            return {p, qsizetype(strnlen(reinterpret_cast<const char*>(p), f.FSize))};
        default:
            InternalError("MemData", QStringLiteral("Field %1 holds no bytes").arg(f.FName));
    }
}

QStringView TData::GetFieldWide(const TFieldDesc& f, const uint8_t* recBuf) const {
    if (NullFlag(f, recBuf)) return {};
    const uint8_t* p = FieldPtr(f, recBuf);
    if (f.FDataType == dtWideString)
        return {reinterpret_cast<const char16_t*>(p + 2), Load<uint16_t>(p)};
    if (f.FDataType == dtExtWideString) {
        const auto* buf = static_cast<const uint8_t*>(GetRef(p));
        if (!buf) return {};
        return {reinterpret_cast<const char16_t*>(buf + 4), Load<uint32_t>(buf)};
    }
    InternalError("MemData", QStringLiteral("Field %1 holds no UTF-16 text").arg(f.FName));
}

int64_t TData::GetFieldInt(const TFieldDesc& f, const uint8_t* recBuf) const {
    const uint8_t* p = FieldPtr(f, recBuf);
    switch (f.FDataType) {
        case dtInt8: case dtSmallint: case dtBoolean: return Load<int16_t>(p);
        case dtWord: return Load<uint16_t>(p);
        case dtInteger: return Load<int32_t>(p);
        case dtUInt32: return Load<uint32_t>(p);
        case dtLargeint: case dtBCD: return Load<int64_t>(p);
        default: InternalError("MemData", QStringLiteral("Field %1 is not an integer").arg(f.FName));
    }
}

double TData::GetFieldFloat(const TFieldDesc& f, const uint8_t* recBuf) const {
    return Load<double>(FieldPtr(f, recBuf));
}

QString TData::TrimmedText(const TFieldDesc& f, QString text) const {
    if (f.FFixed ? FTrimFixedChar : FTrimVarChar) {
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == u' ') --end;
        text.truncate(end);
    }
    return text;
}

QString TData::ReadText(const TFieldDesc& f, const uint8_t* recBuf) const {
    if (f.FDataType == dtWideString || f.FDataType == dtExtWideString) {
        const QStringView units = GetFieldWide(f, recBuf);
        QString text(units.size(), Qt::Uninitialized);
        std::memcpy(text.data(), units.data(), size_t(units.size()) * 2);
        return TrimmedText(f, std::move(text));
    }
    const QByteArrayView bytes = GetFieldBytes(f, recBuf);
    QString text = AnsiToUnicode(std::string_view(bytes.data(), size_t(bytes.size())));
    if (FConvertEOL) {
        // Lone LF becomes CR LF.
        QString converted;
        converted.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n' && (i == 0 || text[i - 1] != u'\r')) converted += u'\r';
            converted += text[i];
        }
        text = converted;
    }
    return TrimmedText(f, std::move(text));
}

Variant TData::ReadValue(const TFieldDesc& f, const uint8_t* recBuf) const {
    const uint8_t* p = FieldPtr(f, recBuf);
    switch (f.FDataType) {
        case dtString:
        case dtExtString:
            if (f.FBinaryData) {
                const QByteArrayView bytes = GetFieldBytes(f, recBuf);
                return QByteArray(bytes.data(), bytes.size());
            }
            return ReadText(f, recBuf);
        case dtWideString:
        case dtExtWideString:
            return ReadText(f, recBuf);
        case dtInt8: case dtSmallint: case dtWord: case dtInteger: case dtUInt32: case dtLargeint:
            return Variant(static_cast<long long>(GetFieldInt(f, recBuf)));
        case dtBoolean: return Load<int16_t>(p) != 0;
        case dtFloat: return Load<double>(p);
        case dtCurrency: return Variant::FromCurrency(Load<double>(p));
        case dtBCD: return Variant::FromCurrencyScaled(Load<int64_t>(p));
        case dtDate: case dtTime: case dtDateTime: return Variant::FromDateTime(Load<double>(p));
        case dtFMTBCD:
        case dtGuid: {
            const QByteArrayView text = GetFieldBytes(f, recBuf);
            return QString::fromLatin1(text.data(), text.size());
        }
        case dtBytes:
        case dtVarBytes:
        case dtExtVarBytes: {
            const QByteArrayView bytes = GetFieldBytes(f, recBuf);
            return QByteArray(bytes.data(), bytes.size());
        }
        case dtBlob:
        case dtMemo:
        case dtWideMemo: {
            const TBlob* blob = static_cast<const TBlob*>(GetRef(p));
            if (!blob) return f.FDataType == dtBlob || f.FBinaryData ? Variant(QByteArray()) : Variant(QString());
            if (f.FDataType == dtBlob || f.FBinaryData) return blob->AsBytes();
            return blob->AsString();
        }
        case dtVariant: {
            const auto* object = static_cast<const TVariantObject*>(GetRef(p));
            return object ? object->Value : Variant();
        }
        default:
            throw EDatabaseError(QStringLiteral("Data type is not supported"));
    }
}

Variant TData::GetField(int fieldNo, const uint8_t* recBuf, bool& isBlank) const {
    const TFieldDesc& f = Field(fieldNo);
    isBlank = GetNull(fieldNo, recBuf);
    if (isBlank) return Variant::Null();
    return ReadValue(f, recBuf);
}

Variant TData::GetFieldAsVariant(int fieldNo, const uint8_t* recBuf) const {
    bool isBlank;
    return GetField(fieldNo, recBuf, isBlank);
}

QString FieldValueText(TDataType dataType, const Variant& v) {
    if (v.IsNullOrEmpty()) return QString();
    switch (dataType) {
        case dtDate: return DateToText(v.AsDateTime());
        case dtTime: return DurationToText(v.AsDateTime());
        default: return v.AsString();
    }
}

QString TData::GetFieldText(int fieldNo, const uint8_t* recBuf) const {
    if (GetNull(fieldNo, recBuf)) return QString();
    const TFieldDesc& f = Field(fieldNo);
    const uint8_t* p = FieldPtr(f, recBuf);
    // Grids and walks ask this for every cell: the common types skip the variant.
    switch (f.FDataType) {
        case dtInt8: case dtSmallint: case dtWord: case dtInteger: case dtUInt32: case dtLargeint:
            return IntToText(GetFieldInt(f, recBuf));
        case dtFloat: return FloatToText(Load<double>(p));
        case dtDate: return DateToText(Load<double>(p));
        case dtTime: return DurationToText(Load<double>(p));
        case dtDateTime: return DateTimeToText(Load<double>(p));
        case dtFMTBCD: {
            const QByteArrayView text = GetFieldBytes(f, recBuf);
            return QString::fromLatin1(text.data(), text.size());
        }
        case dtString: case dtExtString: case dtWideString: case dtExtWideString:
            if (!f.FBinaryData) return ReadText(f, recBuf);
            break;
        case dtMemo: case dtWideMemo:
            if (!f.FBinaryData) {
                const TBlob* blob = static_cast<const TBlob*>(GetRef(p));
                return blob ? blob->AsString() : QString();
            }
            break;
        default: break;
    }
    return FieldValueText(f.FDataType, ReadValue(f, recBuf));
}

void TData::PutStringValue(const TFieldDesc& f, TRecBuf recBuf, const char* data, int64_t len) {
    uint8_t* p = FieldPtr(f, recBuf);
    switch (f.FDataType) {
        case dtString: {
            len = std::min<int64_t>(len, f.FSize - 3);
            Store<uint16_t>(p, uint16_t(len));
            if (len) std::memcpy(p + 2, data, size_t(len));
            p[2 + len] = 0;
            return;
        }
        case dtExtString:
        case dtExtVarBytes: {
            uint8_t* buf = FStringHeap.NewBuf(len + 5);
            Store<uint32_t>(buf, uint32_t(len));
            if (len) std::memcpy(buf + 4, data, size_t(len));
            buf[4 + len] = 0;
            SetRef(p, buf);
            return;
        }
        case dtVarBytes: {
            len = std::min<int64_t>(len, f.FSize - 2);
            Store<uint16_t>(p, uint16_t(len));
            if (len) std::memcpy(p + 2, data, size_t(len));
            return;
        }
        case dtBytes: {
            const int64_t room = f.FSize - 1;
            len = std::min(len, room);
            if (len) std::memcpy(p, data, size_t(len));
            std::memset(p + len, 0, size_t(room - len + 1));
            return;
        }
        case dtFMTBCD:
        case dtGuid: {
            if (len >= int64_t(f.FSize))
                throw EConvertError(QStringLiteral("Value '%1' does not fit field %2")
                                        .arg(QString::fromLatin1(data, qsizetype(len)), f.FName));
            std::memcpy(p, data, size_t(len));
            p[len] = 0;
            return;
        }
        default:
            InternalError("MemData", QStringLiteral("Field %1 takes no bytes").arg(f.FName));
    }
}

void TData::PutWideValue(const TFieldDesc& f, TRecBuf recBuf, const char16_t* data, int64_t len) {
    uint8_t* p = FieldPtr(f, recBuf);
    if (f.FDataType == dtWideString) {
        len = std::min<int64_t>(len, f.FLength);
        Store<uint16_t>(p, uint16_t(len));
        if (len) std::memcpy(p + 2, data, size_t(len) * 2);
        Store<char16_t>(p + 2 + 2 * len, 0);
        return;
    }
    if (f.FDataType != dtExtWideString)
        InternalError("MemData", QStringLiteral("Field %1 takes no UTF-16 text").arg(f.FName));
    uint8_t* buf = FStringHeap.NewBuf(4 + 2 * (len + 1));
    Store<uint32_t>(buf, uint32_t(len));
    if (len) std::memcpy(buf + 4, data, size_t(len) * 2);
    Store<char16_t>(buf + 4 + 2 * len, 0);
    SetRef(p, buf);
}

void TData::PutIntValue(const TFieldDesc& f, TRecBuf recBuf, int64_t v) {
    uint8_t* p = FieldPtr(f, recBuf);
    auto checkRange = [&](int64_t lo, int64_t hi) {
        if (v < lo || v > hi)
            throw EConvertError(QStringLiteral("%1 is not a valid value for field '%2'. The allowed range is %3 to %4")
                                    .arg(v).arg(f.FName).arg(lo).arg(hi));
    };
    switch (f.FDataType) {
        case dtInt8:
        case dtSmallint:
            checkRange(INT16_MIN, INT16_MAX);
            Store<int16_t>(p, int16_t(v));
            return;
        case dtBoolean: Store<int16_t>(p, v ? -1 : 0); return;
        case dtWord:
            checkRange(0, UINT16_MAX);
            Store<uint16_t>(p, uint16_t(v));
            return;
        case dtInteger:
            checkRange(INT32_MIN, INT32_MAX);
            Store<int32_t>(p, int32_t(v));
            return;
        case dtUInt32:
            checkRange(0, UINT32_MAX);
            Store<uint32_t>(p, uint32_t(v));
            return;
        case dtLargeint: Store<int64_t>(p, v); return;
        default: InternalError("MemData", QStringLiteral("Field %1 is not an integer").arg(f.FName));
    }
}

void TData::PutFloatValue(const TFieldDesc& f, TRecBuf recBuf, double v) { Store<double>(FieldPtr(f, recBuf), v); }

void TData::WriteValue(const TFieldDesc& f, TRecBuf recBuf, const Variant& value) {
    uint8_t* p = FieldPtr(f, recBuf);
    switch (f.FDataType) {
        case dtString:
        case dtExtString:
        case dtBytes:
        case dtVarBytes:
        case dtExtVarBytes: {
            const QByteArray bytes = value.AsBytes();  // text through the 8-bit code page
            if (IsHeapType(f.FDataType)) ReleaseHeapRef(p);
            PutStringValue(f, recBuf, bytes.constData(), bytes.size());
            return;
        }
        case dtWideString:
        case dtExtWideString: {
            const QString text = value.AsString();
            if (f.FDataType == dtExtWideString) ReleaseHeapRef(p);
            PutWideValue(f, recBuf, reinterpret_cast<const char16_t*>(text.utf16()), text.size());
            return;
        }
        case dtInt8: case dtSmallint: case dtWord: case dtInteger: case dtUInt32: case dtLargeint: case dtBoolean:
            PutIntValue(f, recBuf, f.FDataType == dtBoolean ? int64_t(value.AsBoolean()) : value.AsInt64());
            return;
        case dtFloat: {
            double v = value.AsFloat();
            if (f.FScale > 0 && f.FScale < 31 && std::isfinite(v)) {
                // Rounded to the field's decimals through its decimal text.
                char text[400];
                std::snprintf(text, sizeof text, "%.*f", int(f.FScale), v);
                v = std::strtod(text, nullptr);
            }
            PutFloatValue(f, recBuf, v);
            return;
        }
        case dtCurrency: PutFloatValue(f, recBuf, value.AsFloat()); return;
        case dtBCD: Store<int64_t>(p, value.AsCurrencyScaled()); return;
        case dtDate: case dtTime: case dtDateTime: PutFloatValue(f, recBuf, value.AsDateTime()); return;
        case dtFMTBCD: {
            const QByteArray text = DecimalTextOf(value);
            PutStringValue(f, recBuf, text.constData(), text.size());
            return;
        }
        case dtGuid: {
            const QByteArray text = value.AsString().toLatin1();
            PutStringValue(f, recBuf, text.constData(), text.size());
            return;
        }
        case dtBlob:
        case dtMemo:
        case dtWideMemo: {
            TBlob* blob = BlobForWrite(f, recBuf);
            if (f.FDataType == dtBlob || f.FBinaryData || value.Type() == VarType::Bytes)
                blob->SetAsBytes(value.AsBytes());
            else
                blob->SetAsString(value.AsString());
            return;
        }
        case dtVariant: {
            auto* object = static_cast<TVariantObject*>(GetRef(p));
            if (!object) InternalError("MemData", QStringLiteral("Shared object for %1=nil").arg(f.FName));
            object->Value = value;
            return;
        }
        default:
            throw EDatabaseError(QStringLiteral("Data type is not supported"));
    }
}

void TData::PutField(int fieldNo, TRecBuf recBuf, const Variant* value) {
    const TFieldDesc& f = Field(fieldNo);
    bool missing = !value || value->IsNullOrEmpty();
    if (!missing && !FEnableEmptyStrings && IsStringType(f.FDataType)) {
        missing = value->Type() == VarType::Bytes ? value->AsBytes().isEmpty() : value->AsString().isEmpty();
    }
    if (missing) {
        SetNull(fieldNo, recBuf, true);
        return;
    }
    WriteValue(f, recBuf, *value);
    SetNullFlag(f, recBuf, false);
}

void TData::PutFieldAsVariant(int fieldNo, TRecBuf recBuf, const Variant& value) { PutField(fieldNo, recBuf, &value); }

// --- TData: objects ---

TSharedObject* TData::GetObject(int fieldNo, const uint8_t* recBuf) const {
    const TFieldDesc& f = Field(fieldNo);
    if (!IsBlobDataType(f.FDataType) && f.FDataType != dtVariant)
        throw EDatabaseError(QStringLiteral("Field is not BLOB"));
    return static_cast<TSharedObject*>(GetRef(FieldPtr(f, recBuf)));
}

void TData::SetObject(int fieldNo, TRecBuf recBuf, TSharedObject* object) {
    const TFieldDesc& f = Field(fieldNo);
    if (!IsBlobDataType(f.FDataType) && f.FDataType != dtVariant)
        throw EDatabaseError(QStringLiteral("Field is not BLOB"));
    SetRef(FieldPtr(f, recBuf), object);
}

TBlob* TData::GetBlob(const TFieldDesc& f, const uint8_t* recBuf) const {
    if (!IsBlobDataType(f.FDataType)) throw EDatabaseError(QStringLiteral("Field is not BLOB"));
    return static_cast<TBlob*>(GetRef(FieldPtr(f, recBuf)));
}

TBlob* TData::BlobForWrite(const TFieldDesc& f, TRecBuf recBuf) {
    TBlob* blob = GetBlob(f, recBuf);
    if (!blob) {
        // A NULL value read from the server has no object until it is written.
        blob = NewBlob(f.FDataType == dtWideMemo);
        SetRef(FieldPtr(f, recBuf), blob);
    }
    return blob;
}

int64_t TData::ReadBlob(int fieldNo, const uint8_t* recBuf, int64_t position, int64_t count, void* dest) const {
    const TBlob* blob = GetBlob(Field(fieldNo), recBuf);
    return blob ? blob->Read(position, count, dest) : 0;
}

void TData::WriteBlob(int fieldNo, TRecBuf recBuf, int64_t position, int64_t count, const void* source) {
    const TFieldDesc& f = Field(fieldNo);
    BlobForWrite(f, recBuf)->Write(position, count, source);
    SetNullFlag(f, recBuf, false);
}

void TData::TruncateBlob(int fieldNo, TRecBuf recBuf, int64_t size) {
    if (TBlob* blob = GetBlob(Field(fieldNo), recBuf)) blob->Truncate(size);
}

int64_t TData::GetBlobSize(int fieldNo, const uint8_t* recBuf) const {
    const TBlob* blob = GetBlob(Field(fieldNo), recBuf);
    return blob ? blob->Size() : 0;
}

void TData::SetBlobSize(int fieldNo, TRecBuf recBuf, int64_t size) {
    TBlob* blob = BlobForWrite(Field(fieldNo), recBuf);
    const int64_t current = blob->Size();
    if (size < current) {
        blob->Truncate(size);
    } else if (size > current) {
        const QByteArray zeros(qsizetype(size - current), '\0');
        blob->Write(current, zeros.size(), zeros.constData());
    }
}

// --- TData: complex fields ---

TBlob* TData::NewBlob(bool isUnicode) const {
    TBlob* blob = FCompressBlobMode == cbNone ? new TBlob(isUnicode) : new TCompressedBlob(isUnicode);
    blob->EnableRollback();
    return blob;
}

void TData::CreateComplexField(TRecBuf recBuf, const TFieldDesc& f) {
    uint8_t* p = FieldPtr(f, recBuf);
    if (IsBlobDataType(f.FDataType)) {
        SetRef(p, NewBlob(f.FDataType == dtWideMemo));
    } else if (f.FDataType == dtVariant) {
        SetRef(p, new TVariantObject());
    } else if (IsHeapType(f.FDataType)) {
        SetRef(p, nullptr);
    }
}

void TData::CreateComplexFields(TRecBuf recBuf, bool withBlob) {
    if (!FHasComplexFields) return;
    for (const auto& f : FFields) {
        if (f->FParentField || !IsComplexFieldType(f->FDataType)) continue;
        if (IsBlobDataType(f->FDataType) && !withBlob) continue;
        CreateComplexField(recBuf, *f);
    }
}

void TData::AddRefComplexFields(TRecBuf recBuf) {
    if (!FHasComplexFields) return;
    for (const auto& f : FFields) {
        if (!IsComplexFieldType(f->FDataType)) continue;
        void* ref = GetRef(FieldPtr(*f, recBuf));
        if (IsHeapType(f->FDataType)) {
            if (ref) FStringHeap.AddRef(static_cast<uint8_t*>(ref));
        } else if (ref) {
            static_cast<TSharedObject*>(ref)->AddRef();
        }
    }
}

void TData::FreeComplexFields(TRecBuf recBuf, bool withBlob) {
    if (!FHasComplexFields) return;
    for (const auto& f : FFields) {
        if (!IsComplexFieldType(f->FDataType)) continue;
        uint8_t* p = FieldPtr(*f, recBuf);
        void* ref = GetRef(p);
        if (!ref) continue;
        if (IsHeapType(f->FDataType)) {
            if (FStringHeap.Empty()) continue;
            auto* buf = static_cast<uint8_t*>(ref);
            if (TStringHeap::RefMark(buf) == TStringHeap::MarkUsed) SetRef(p, nullptr);
            FStringHeap.DisposeBuf(buf);
        } else if (!IsBlobDataType(f->FDataType) || withBlob) {
            auto* object = static_cast<TSharedObject*>(ref);
            if (object->RefCount() == 1) SetRef(p, nullptr);
            object->Release();
        }
    }
}

void TData::CopyComplexFields(const uint8_t* source, TRecBuf dest, bool withBlob) {
    if (!FHasComplexFields) return;
    for (const auto& f : FFields) {
        if (!IsComplexFieldType(f->FDataType)) continue;
        void* ref = GetRef(FieldPtr(*f, source));
        uint8_t* p = FieldPtr(*f, dest);
        SetRef(p, ref);
        if (!ref) continue;
        if (IsHeapType(f->FDataType)) {
            FStringHeap.AddRef(static_cast<uint8_t*>(ref));  // heap values never change in place
        } else if (f->FDataType == dtVariant) {
            auto* copy = new TVariantObject();
            copy->Value = static_cast<TVariantObject*>(ref)->Value;
            SetRef(p, copy);
        } else if (withBlob) {
            static_cast<TSharedObject*>(ref)->AddRef();
        }
    }
}

// --- TData: filter and settings ---

void TData::SetCachedUpdates(bool value) { FCachedUpdates = value; }

void TData::SetFilterFunc(TFilterFunc func) {
    FFilterFunc = std::move(func);
    if (FActive) FilterUpdated();
}

void TData::SetFilterMDFunc(TFilterFunc func) {
    FFilterMDFunc = std::move(func);
    if (FActive) FilterUpdated();
}

void TData::SetFilterItemTypes(uint8_t value) {
    FFilterItemTypes = value;
    if (FActive) FilterUpdated();
}

bool TData::Filtered() const {
    const uint8_t all = itUnmodified | itUpdated | itAppended | itDeleted;
    return FFilterFunc || FFilterMDFunc || (FCachedUpdates && FFilterItemTypes != all);
}

bool TData::OmitRecord(TItemHeader* item) {
    if (FCachedUpdates && !(FFilterItemTypes & (1 << item->Status))) return true;
    if (item->Status == isDeleted && !FCachedUpdates) return true;
    if (!FFilterFunc && !FFilterMDFunc) return false;
    TRecBuf recBuf = item->Record();
    TRecBufOwner calc;
    if (FCalcRecordSize && FOnGetCachedBuffer) {
        // Calculated values are filled in first, on a copy with the calculated area.
        calc = AllocRecBuf();
        std::memcpy(calc.get(), recBuf, FRecordSize);
        FOnGetCachedBuffer(calc.get());
        recBuf = calc.get();
    }
    return (FFilterFunc && !FFilterFunc(recBuf)) || (FFilterMDFunc && !FFilterMDFunc(recBuf));
}

// --- TMemData ---

TMemData::TMemData() = default;

TMemData::~TMemData() {
    // Blocks go with the block manager; objects referenced from records are released here.
    ReleaseAll();
}

void TMemData::Close() {
    TData::Close();
    FIndexFields.clear();  // resolved again against the descriptors of the next open
}

void TMemData::InternalOpen() {
    TData::InternalOpen();
    if (!FIndexFieldNames.isEmpty()) SetIndexFieldNames(FIndexFieldNames);
}

void TMemData::InternalClose() {}

void TMemData::ReleaseAll() {
    // Heap strings go with the heap; BLOB and variant objects are released one by one.
    std::vector<const TFieldDesc*> objects;
    for (const auto& f : FFields)
        if (IsBlobDataType(f->FDataType) || f->FDataType == dtVariant) objects.push_back(f.get());
    for (TItemHeader* item = FFirstItem; item; item = item->Next) {
        ReleaseRollback(item);
        for (const TFieldDesc* f : objects) {
            uint8_t* p = FieldPtr(*f, item->Record());
            if (auto* object = static_cast<TSharedObject*>(GetRef(p))) {
                SetRef(p, nullptr);
                object->Release();
            }
        }
    }
    FCache.clear();
}

void TMemData::ClearData() {
    ReleaseAll();
    FStringHeap.Clear();
    FBlockMan.FreeAllBlocks();
    FFirstItem = FLastItem = FCurrentItem = nullptr;
    FBOF = FEOF = true;
    FRecordCount = 0;
    FRecordNoOffset = 0;
    FRefreshIteration = ++RefreshIterationCounter;
    FRecordNoCache.clear();
}

void TMemData::InitFields() {
    TData::InitFields();
    // Items are made for the new layout; the list is empty whenever descriptors change.
    if (FBlockMan.RecordSize() != FRecordSize) FBlockMan.SetRecordSize(FRecordSize);
}

void TMemData::ReleaseRollback(TItemHeader* item) {
    TItemHeader* rollback = item->Rollback;
    if (!rollback) return;
    item->Rollback = nullptr;
    FreeComplexFields(rollback->Record(), true);
    FBlockMan.FreeItem(rollback);
}

void TMemData::AppendItems(TItemHeader* first, TItemHeader* last, int count) {
    if (!first) return;
    first->Prev = FLastItem;
    if (FLastItem) FLastItem->Next = first;
    else FFirstItem = first;
    last->Next = nullptr;
    FLastItem = last;
    int32_t order = 0;
    if (TItemHeader* prev = PrevCounted(first)) order = prev->Order;
    else order = -FRecordNoOffset;
    int counted = 0;
    for (TItemHeader* item = first; item; item = item->Next) {
        if (ItemOmitted(item)) {
            item->Order = 0;
        } else {
            item->Order = ++order;
            ++counted;
        }
    }
    (void)count;
    FRecordCount += counted;
    if (!FRecordNoCache.empty())
        for (TItemHeader* item = first; item; item = item->Next)
            if (Counted(item)) FRecordNoCache.push_back(item);
}

void TMemData::LinkBefore(TItemHeader* item, TItemHeader* before) {
    if (!before) {
        item->Prev = FLastItem;
        item->Next = nullptr;
        if (FLastItem) FLastItem->Next = item;
        else FFirstItem = item;
        FLastItem = item;
        return;
    }
    item->Next = before;
    item->Prev = before->Prev;
    if (before->Prev) before->Prev->Next = item;
    else FFirstItem = item;
    before->Prev = item;
}

void TMemData::Unlink(TItemHeader* item) {
    if (item->Prev) item->Prev->Next = item->Next;
    else FFirstItem = item->Next;
    if (item->Next) item->Next->Prev = item->Prev;
    else FLastItem = item->Prev;
    item->Prev = item->Next = nullptr;
}

void TMemData::FreeItemWithFields(TItemHeader* item) {
    ReleaseRollback(item);
    FreeComplexFields(item->Record(), true);
    FBlockMan.FreeItem(item);
}

bool TMemData::ItemOmitted(TItemHeader* item) {
    if (item->FilterResult == fsNotChecked) item->FilterResult = OmitRecord(item) ? fsOmitted : fsNotOmitted;
    return item->FilterResult == fsOmitted;
}

TItemHeader* TMemData::NextCounted(TItemHeader* item) const {
    for (item = item ? item->Next : nullptr; item; item = item->Next)
        if (Counted(item)) return item;
    return nullptr;
}

TItemHeader* TMemData::PrevCounted(TItemHeader* item) const {
    for (item = item ? item->Prev : nullptr; item; item = item->Prev)
        if (Counted(item)) return item;
    return nullptr;
}

void TMemData::RenumberAll() {
    int32_t n = 0;
    for (TItemHeader* item = FFirstItem; item; item = item->Next) item->Order = ItemOmitted(item) ? 0 : ++n;
    FRecordNoOffset = 0;
    FRecordCount = n;
    DropRecordNoCache();
}

void TMemData::ReorderItems(TItemHeader* item, TItemHeader* neighbour, bool inserted) {
    // inserted: item is the new (counted) row. Otherwise a row was removed and item is the
    // counted row that followed it (or nil) and neighbour the counted row before it (or nil).
    DropRecordNoCache();
    TItemHeader* prev = inserted ? PrevCounted(item) : neighbour;
    TItemHeader* next = inserted ? NextCounted(item) : item;
    const bool forward = !next || next->Order + FRecordNoOffset > FRecordCount / 2;
    if (forward) {
        int32_t n = prev ? prev->Order : -FRecordNoOffset;
        for (TItemHeader* it = inserted ? item : next; it; it = it->Next)
            if (Counted(it)) it->Order = ++n;
    } else {
        FRecordNoOffset += inserted ? 1 : -1;
        int32_t n = next->Order;
        for (TItemHeader* it = inserted ? item : prev; it; it = it->Prev)
            if (Counted(it)) it->Order = --n;
    }
}

void TMemData::GetRecord(TRecBuf recBuf) {
    while (FCurrentItem && ItemOmitted(FCurrentItem)) FCurrentItem = FCurrentItem->Next;
    if (!FCurrentItem) return;
    if (recBuf) std::memcpy(recBuf, FCurrentItem->Record(), FRecordSize);
}

void TMemData::GetNextRecord(TRecBuf recBuf) {
    if (FEOF && !FBOF) return;
    TItemHeader* item = (FBOF || !FCurrentItem) ? FFirstItem : FCurrentItem->Next;
    for (;;) {
        while (item && ItemOmitted(item)) item = item->Next;
        if (item) break;
        item = Fetch();
        if (!item) {
            FCurrentItem = nullptr;
            FEOF = true;
            FBOF = FFirstItem == nullptr;
            return;
        }
    }
    FCurrentItem = item;
    FBOF = FEOF = false;
    if (recBuf) std::memcpy(recBuf, item->Record(), FRecordSize);
}

void TMemData::GetPriorRecord(TRecBuf recBuf) {
    if (FBOF && !FEOF) return;
    TItemHeader* item = (FEOF || !FCurrentItem) ? FLastItem : FCurrentItem->Prev;
    while (item && ItemOmitted(item)) item = item->Prev;
    if (!item) {
        FCurrentItem = nullptr;
        FBOF = true;
        FEOF = FFirstItem == nullptr && AllFetched();
        return;
    }
    FCurrentItem = item;
    FBOF = FEOF = false;
    if (recBuf) std::memcpy(recBuf, item->Record(), FRecordSize);
}

void TMemData::SetToBegin() {
    FCurrentItem = nullptr;
    FBOF = true;
    FEOF = FFirstItem == nullptr && AllFetched();
}

void TMemData::SetToEnd() {
    FCurrentItem = nullptr;
    FEOF = true;
    FBOF = FFirstItem == nullptr;
}

void TMemData::PutRecord(TRecBuf recBuf) {
    if (!FCurrentItem) return;
    std::memcpy(FCurrentItem->Record(), recBuf, FRecordSize);
    FCurrentItem->FilterResult = fsNotChecked;
}

void TMemData::EditRecord(TRecBuf recBuf) {
    if (!FCurrentItem) InternalError("MemData", QStringLiteral("No current record"));
    uint8_t* record = FCurrentItem->Record();
    // The buffer takes its own references to the row's heap values (they never change in
    // place) and the row keeps fresh copies of its variant values; BLOB objects stay shared,
    // their first change keeps a rollback copy.
    std::memcpy(recBuf, record, FRecordSize);
    if (!FHasComplexFields) return;
    for (const auto& f : FFields) {
        void* ref = GetRef(FieldPtr(*f, record));
        if (!ref) continue;
        if (IsHeapType(f->FDataType)) {
            FStringHeap.AddRef(static_cast<uint8_t*>(ref));
        } else if (f->FDataType == dtVariant) {
            auto* copy = new TVariantObject();
            copy->Value = static_cast<TVariantObject*>(ref)->Value;
            SetRef(FieldPtr(*f, record), copy);
        } else if (IsBlobDataType(f->FDataType)) {
            static_cast<TBlob*>(ref)->EnableRollback();
        }
    }
}

void TMemData::TakeRollback(TItemHeader* item, const uint8_t* recBuf) {
    // The row as it was: the item still holds it, with its own references; BLOB objects are
    // shared with the edit buffer, so their content before the edit is copied.
    TItemHeader* rollback = FBlockMan.AllocItem();
    std::memcpy(rollback->Record(), item->Record(), FRecordSize);
    CopyComplexFields(item->Record(), rollback->Record(), false);
    for (const auto& f : FFields) {
        if (!IsBlobDataType(f->FDataType)) continue;
        const auto* blob = static_cast<const TBlob*>(GetRef(FieldPtr(*f, recBuf)));
        if (!blob) continue;
        TBlob* old = NewBlob(blob->IsUnicode());
        old->SetAsBytes(blob->ContentBeforeEdit());
        SetRef(FieldPtr(*f, rollback->Record()), old);
    }
    item->Rollback = rollback;
}

void TMemData::UpdateRecord(TRecBuf recBuf) {
    if (!FCurrentItem) InternalError("MemData", QStringLiteral("No current record"));
    TItemHeader* item = FCurrentItem;
    if (FCachedUpdates) {
        if (item->Status == isUnmodified) {
            TakeRollback(item, recBuf);
            item->Status = isUpdated;
            AddToCache(item);
        }
        item->UpdateResult = urNone;
    } else if (FOnUpdate) {
        FOnUpdate(recBuf);
    }

    // The buffer's references move into the item; the item's previous ones go.
    const TRecBufOwner oldOwner = AllocRecBuf();
    const TRecBuf old = oldOwner.get();
    std::memcpy(old, item->Record(), FRecordSize);
    std::memcpy(item->Record(), recBuf, FRecordSize);
    const bool wasCounted = Counted(item);
    item->FilterResult = fsNotChecked;
    for (const auto& f : FFields) {
        if (!IsBlobDataType(f->FDataType)) continue;
        if (auto* blob = static_cast<TBlob*>(GetRef(FieldPtr(*f, recBuf)))) blob->Commit();
    }
    FreeComplexFields(old, false);

    const bool counted = !ItemOmitted(item);
    if (!FIndexFields.empty()) MoveToSortedPlace(item);
    else if (counted != wasCounted) RenumberAll();
    DropRecordNoCache();
}

void TMemData::PostRecord(TRecBuf recBuf) { UpdateRecord(recBuf); }

void TMemData::CancelRecord(TRecBuf recBuf) {
    for (const auto& f : FFields) {
        if (!IsBlobDataType(f->FDataType)) continue;
        auto* blob = static_cast<TBlob*>(GetRef(FieldPtr(*f, recBuf)));
        if (!blob) continue;
        // An object the edit made for a NULL value is the buffer's own; the row's goes back.
        const void* rows = FCurrentItem ? GetRef(FieldPtr(*f, FCurrentItem->Record())) : nullptr;
        if (blob != rows && FCurrentItem) {
            blob->Release();
            SetRef(FieldPtr(*f, recBuf), rows);
            continue;
        }
        blob->Cancel();
    }
    FreeComplexFields(recBuf, false);
}

void TMemData::InsertRecord(TRecBuf recBuf) {
    if (!FCachedUpdates && FOnAppend) FOnAppend(recBuf);
    InsertItem(recBuf);
}

void TMemData::InsertItem(TRecBuf recBuf) {
    TItemHeader* item = FBlockMan.AllocItem();
    std::memcpy(item->Record(), recBuf, FRecordSize);
    if (FEOF && !FCurrentItem) LinkBefore(item, nullptr);
    else if (!FCurrentItem) LinkBefore(item, FFirstItem);
    else LinkBefore(item, FCurrentItem);
    for (const auto& f : FFields) {
        if (!IsBlobDataType(f->FDataType)) continue;
        if (auto* blob = static_cast<TBlob*>(GetRef(FieldPtr(*f, recBuf)))) blob->Commit();
    }
    if (FCachedUpdates) {
        item->Status = isAppended;
        item->UpdateResult = urNone;
        AddToCache(item);
    }
    FCurrentItem = item;
    FBOF = FEOF = false;
    DropRecordNoCache();
    if (!FIndexFields.empty()) {
        MoveToSortedPlace(item);
        return;
    }
    if (ItemOmitted(item)) {
        item->Order = 0;
        return;
    }
    ++FRecordCount;
    ReorderItems(item, nullptr, true);
}

void TMemData::AppendRecord(TRecBuf recBuf) {
    // The hook first: when it refuses the row, the position has not moved either.
    if (!FCachedUpdates && FOnAppend) FOnAppend(recBuf);
    SetToEnd();
    InsertItem(recBuf);
}

void TMemData::DeleteRecord() {
    if (!FCurrentItem) InternalError("MemData", QStringLiteral("No current record"));
    if (FCurrentItem == FLastItem && !AllFetched()) Fetch();
    if (FCachedUpdates) {
        TItemHeader* item = FCurrentItem;
        if (item->Status == isAppended) {
            RemoveFromCache(item);
            RemoveRecord();
            return;
        }
        if (item->Status == isUnmodified) AddToCache(item);
        item->Status = isDeleted;
        item->UpdateResult = urNone;
        item->FilterResult = fsNotChecked;
        FCurrentItem = item->Next;
        if (!FCurrentItem) {
            FEOF = true;
            FBOF = false;
        }
        RenumberAll();
        return;
    }
    if (FOnDelete) FOnDelete(FCurrentItem->Record());
    RemoveRecord();
}

void TMemData::RemoveRecord() {
    TItemHeader* item = FCurrentItem;
    if (!item) return;
    const bool counted = Counted(item);
    TItemHeader* prev = PrevCounted(item);
    TItemHeader* next = NextCounted(item);
    FCurrentItem = item->Next;
    Unlink(item);
    FreeItemWithFields(item);
    if (!FCurrentItem) {
        FEOF = true;
        FBOF = FFirstItem == nullptr;
    }
    DropRecordNoCache();
    if (!counted) return;
    --FRecordCount;
    ReorderItems(next, prev, false);
}

int TMemData::RecordNo() const {
    return FCurrentItem && Counted(FCurrentItem) ? FCurrentItem->Order + FRecordNoOffset : 0;
}

void TMemData::SetRecordNo(int value) {
    if (value <= 0 || (!FFirstItem && AllFetched())) return;
    if (FRecordNoCache.empty())
        for (TItemHeader* item = FFirstItem; item; item = item->Next)
            if (!ItemOmitted(item)) FRecordNoCache.push_back(item);
    while (size_t(value) > FRecordNoCache.size()) {
        TItemHeader* added = Fetch();
        if (!added) break;
        for (TItemHeader* item = added; item; item = item->Next)
            if (!ItemOmitted(item)) FRecordNoCache.push_back(item);
    }
    if (FRecordNoCache.empty()) return;
    FCurrentItem = FRecordNoCache[std::min(size_t(value), FRecordNoCache.size()) - 1];
    FBOF = FEOF = false;
}

bool TMemData::LiveItem(const TRecBookmark& bookmark) const {
    // The item's memory may have gone back with its block: look before touching it.
    return bookmark.RefreshIteration == FRefreshIteration && bookmark.Item &&
           FBlockMan.Contains(bookmark.Item) && bookmark.Item->Flag == TItemHeader::FlagUsed;
}

const uint8_t* TMemData::RecordAt(int recNo) {
    if (recNo <= 0) return nullptr;
    if (FRecordNoCache.empty())
        for (TItemHeader* item = FFirstItem; item; item = item->Next)
            if (!ItemOmitted(item)) FRecordNoCache.push_back(item);
    return size_t(recNo) <= FRecordNoCache.size() ? FRecordNoCache[size_t(recNo) - 1]->Record() : nullptr;
}

void TMemData::GetBookmark(TRecBookmark& bookmark) const {
    bookmark.RefreshIteration = FRefreshIteration;
    bookmark.Item = FCurrentItem;
    bookmark.Order = FCurrentItem ? RecordNo() : -1;
}

void TMemData::SetToBookmark(const TRecBookmark& bookmark) {
    if (LiveItem(bookmark)) {
        FCurrentItem = bookmark.Item;
        FBOF = FEOF = false;
        return;
    }
    SetRecordNo(bookmark.Order);
}

bool TMemData::BookmarkValid(const TRecBookmark* bookmark) {
    if (!bookmark || (bookmark->Order == -1 && !bookmark->Item)) return false;
    if (bookmark->RefreshIteration == FRefreshIteration && bookmark->Item) {
        if (!LiveItem(*bookmark)) return false;
        if (Filtered() && ItemOmitted(bookmark->Item)) return false;
        return true;
    }
    return bookmark->Order > 0 && bookmark->Order <= FRecordCount;
}

int TMemData::CompareBookmarks(const TRecBookmark* a, const TRecBookmark* b) const {
    if (!a || !b) return (a != nullptr) - (b != nullptr);
    auto number = [&](const TRecBookmark* m) {
        if (LiveItem(*m))
            return Counted(m->Item) ? m->Item->Order + FRecordNoOffset : m->Order;
        return m->Order;
    };
    if (a->Item && a->Item == b->Item && a->RefreshIteration == b->RefreshIteration) return 0;
    const int x = number(a), y = number(b);
    return (x > y) - (x < y);
}

// --- Cached updates ---

void TMemData::SetCachedUpdates(bool value) {
    if (value == FCachedUpdates) return;
    if (!value && UpdatesPending()) CancelUpdates();
    TData::SetCachedUpdates(value);
}

void TMemData::AddToCache(TItemHeader* item) {
    if (std::find(FCache.begin(), FCache.end(), item) == FCache.end()) FCache.push_back(item);
}

void TMemData::RemoveFromCache(TItemHeader* item) {
    FCache.erase(std::remove(FCache.begin(), FCache.end(), item), FCache.end());
}

void TMemData::ApplyUpdates() {
    TItemHeader* saved = FCurrentItem;
    ScopeExit restore([&] { FCurrentItem = saved; });
    for (TItemHeader* item : std::vector<TItemHeader*>(FCache)) {
        if (item->UpdateResult == urApplied) continue;
        FCurrentItem = item;
        TUpdateRecAction action = urFail;
        do {
            action = urApplied;
            ScopeExit failed([&] { item->UpdateResult = urFail; });
            if (FOnApplyRecord) FOnApplyRecord(item->Status, action);
            failed.Dismiss();
        } while (action == urRetry);
        item->UpdateResult = action;
        if (action == urAbort) Abort();
    }
}

void TMemData::CommitUpdates() {
    for (TItemHeader* item : std::vector<TItemHeader*>(FCache)) {
        if (item->UpdateResult != urApplied && item->UpdateResult != urNone) continue;
        RemoveFromCache(item);
        ReleaseRollback(item);
        if (item->Status == isDeleted) {
            if (FCurrentItem == item) FCurrentItem = item->Next;
            Unlink(item);
            FreeItemWithFields(item);
            continue;
        }
        MarkUnmodified(item);
    }
    RenumberAll();
}

void TMemData::RevertRecord() {
    TItemHeader* item = FCurrentItem;
    if (!item || item->Status == isUnmodified) return;
    RemoveFromCache(item);
    switch (item->Status) {
        case isAppended:
            RemoveRecord();
            return;
        case isUpdated:
            if (TItemHeader* rollback = item->Rollback) {
                FreeComplexFields(item->Record(), true);
                std::memcpy(item->Record(), rollback->Record(), FRecordSize);
                // The rollback item's references move back into the row.
                item->Rollback = nullptr;
                FBlockMan.FreeItem(rollback);
            }
            break;
        default:
            break;
    }
    MarkUnmodified(item);
    RenumberAll();
}

void TMemData::MarkUnmodified(TItemHeader* item) {
    item->Status = isUnmodified;
    item->UpdateResult = urNone;
    item->FilterResult = fsNotChecked;
}

void TMemData::CancelUpdates() {
    TItemHeader* saved = FCurrentItem;
    for (TItemHeader* item : std::vector<TItemHeader*>(FCache)) {
        FCurrentItem = item;
        if (saved == item && item->Status == isAppended) saved = nullptr;
        RevertRecord();
    }
    FCache.clear();
    FCurrentItem = saved;
    if (!FCurrentItem) SetToBegin();
    RenumberAll();
}

void TMemData::RestoreUpdates() {
    for (TItemHeader* item : FCache) item->UpdateResult = urNone;
}

TItemStatus TMemData::GetUpdateStatus() const { return FCurrentItem ? FCurrentItem->Status : isUnmodified; }

TUpdateRecAction TMemData::GetUpdateResult() const { return FCurrentItem ? FCurrentItem->UpdateResult : urNone; }

bool TMemData::UpdatesPending() const { return !FCache.empty(); }

void TMemData::GetOldRecord(TRecBuf recBuf) {
    if (!FCurrentItem) return;
    const TItemHeader* source = FCurrentItem->Rollback ? FCurrentItem->Rollback : FCurrentItem;
    std::memcpy(recBuf, source->Record(), FRecordSize);
}

// --- Filter and order ---

void TMemData::FilterUpdated() {
    for (TItemHeader* item = FFirstItem; item; item = item->Next) item->FilterResult = fsNotChecked;
    RenumberAll();
    if (FCurrentItem && ItemOmitted(FCurrentItem)) {
        GetNextRecord(nullptr);
    }
}

void TMemData::SetIndexFieldNames(const QString& value) {
    TSortColumns columns;
    const QStringList parts = value.split(QRegularExpression(QStringLiteral("[;,]")));
    const bool empty = value.trimmed().isEmpty();
    for (qsizetype i = 0; !empty && i < parts.size(); ++i) {
        QString part = parts[i].trimmed();
        if (part.isEmpty()) {
            if (i == parts.size() - 1 && i > 0) break;  // a trailing separator
            throw EDatabaseError(QStringLiteral("Invalid IndexFieldNames format!"));
        }
        QString name;
        if (part.startsWith(u'[')) {
            const qsizetype close = part.indexOf(u']');
            if (close < 0) throw EDatabaseError(QStringLiteral("Invalid IndexFieldNames format!"));
            name = part.mid(1, close - 1);
            part = part.mid(close + 1).trimmed();
        } else {
            const qsizetype blank = part.indexOf(u' ');
            name = blank < 0 ? part : part.left(blank);
            part = blank < 0 ? QString() : part.mid(blank + 1).trimmed();
        }
        TSortColumn column;
        column.SortType = FDefaultSortType;
        bool orderSeen = false, typeSeen = false;
        for (const QString& word : part.split(u' ', Qt::SkipEmptyParts)) {
            const QString w = word.toUpper();
            if (w == u"ASC" || w == u"DESC") {
                if (orderSeen) throw EDatabaseError(QStringLiteral("Invalid IndexFieldNames format!"));
                orderSeen = true;
                column.DescendingOrder = w == u"DESC";
            } else if (w == u"CIS" || w == u"CS" || w == u"BIN") {
                if (typeSeen) throw EDatabaseError(QStringLiteral("Invalid IndexFieldNames format!"));
                typeSeen = true;
                column.SortType = w == u"CIS" ? stCaseInsensitive : w == u"CS" ? stCaseSensitive : stBinary;
            } else {
                throw EDatabaseError(QStringLiteral("Invalid IndexFieldNames format!"));
            }
        }
        if (FFields.Count()) {
            column.FieldDesc = FindField(name);
            if (!column.FieldDesc) throw EDatabaseError(QStringLiteral("Field %1 not found").arg(name));
        }
        columns.push_back(column);
    }
    FIndexFieldNames = value;
    FIndexFields = FFields.Count() ? std::move(columns) : TSortColumns();
    if (FActive && !FIndexFields.empty()) SortItems();
}

namespace {

// Locale-aware comparison, one collator per letter-case mode.
int CompareText(QStringView a, QStringView b, TSortType type) {
    if (type == stBinary) return Sign(int64_t(a.compare(b, Qt::CaseSensitive)));
    static thread_local QCollator sensitive = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseSensitive);
        return c;
    }();
    static thread_local QCollator insensitive = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return Sign(int64_t((type == stCaseInsensitive ? insensitive : sensitive).compare(a, b)));
}

int CompareBytes(QByteArrayView a, QByteArrayView b) {
    const int c = std::memcmp(a.data(), b.data(), size_t(std::min(a.size(), b.size())));
    if (c) return c < 0 ? -1 : 1;
    return Sign(int64_t(a.size() - b.size()));
}

}  // namespace

int TMemData::CompareFieldValue(const TFieldDesc& f, const uint8_t* a, const uint8_t* b, TSortType sortType) const {
    const bool an = GetNull(f.FFieldNo, a), bn = GetNull(f.FFieldNo, b);
    if (an || bn) return an && bn ? 0 : an ? -1 : 1;
    switch (f.FDataType) {
        case dtString:
        case dtExtString:
            if (f.FBinaryData || sortType == stBinary) return CompareBytes(GetFieldBytes(f, a), GetFieldBytes(f, b));
            return CompareText(ReadValue(f, a).AsString(), ReadValue(f, b).AsString(), sortType);
        case dtWideString:
        case dtExtWideString:
            return CompareText(GetFieldWide(f, a), GetFieldWide(f, b), sortType);
        case dtBytes:
        case dtVarBytes:
        case dtExtVarBytes:
        case dtGuid:
            return CompareBytes(GetFieldBytes(f, a), GetFieldBytes(f, b));
        case dtFMTBCD:
            return CompareDecimalText(GetFieldBytes(f, a), GetFieldBytes(f, b));
        case dtInt8: case dtSmallint: case dtWord: case dtInteger: case dtUInt32: case dtLargeint: case dtBCD:
            return Sign(int64_t(GetFieldInt(f, a) > GetFieldInt(f, b)) - int64_t(GetFieldInt(f, a) < GetFieldInt(f, b)));
        case dtBoolean:
            return Sign(int64_t(GetFieldInt(f, a) != 0) - int64_t(GetFieldInt(f, b) != 0));
        case dtFloat: case dtCurrency: case dtDate: case dtTime: case dtDateTime:
            return Sign(GetFieldFloat(f, a), GetFieldFloat(f, b));
        case dtBlob:
            return CompareBytes(GetBlob(f, a)->AsBytes(), GetBlob(f, b)->AsBytes());
        case dtMemo:
        case dtWideMemo:
            if (f.FBinaryData) return CompareBytes(GetBlob(f, a)->AsBytes(), GetBlob(f, b)->AsBytes());
            return CompareText(GetBlob(f, a)->AsString(), GetBlob(f, b)->AsString(), sortType);
        default:
            return 0;
    }
}

int TMemData::CompareFields(const uint8_t* a, const uint8_t* b, const TSortColumn& column) const {
    const int c = CompareFieldValue(*column.FieldDesc, a, b, column.SortType);
    return column.DescendingOrder ? -c : c;
}

int TMemData::CompareRecords(const uint8_t* a, const uint8_t* b) const {
    for (const TSortColumn& column : FIndexFields)
        if (const int c = CompareFields(a, b, column)) return c;
    return 0;
}

void TMemData::SortItems() {
    if (FIndexFields.empty() || !FFirstItem) return;
    std::vector<TItemHeader*> items;
    for (TItemHeader* item = FFirstItem; item; item = item->Next) items.push_back(item);
    std::stable_sort(items.begin(), items.end(), [&](const TItemHeader* x, const TItemHeader* y) {
        return CompareRecords(x->Record(), y->Record()) < 0;
    });
    FFirstItem = items.front();
    FLastItem = items.back();
    for (size_t i = 0; i < items.size(); ++i) {
        items[i]->Prev = i ? items[i - 1] : nullptr;
        items[i]->Next = i + 1 < items.size() ? items[i + 1] : nullptr;
    }
    RenumberAll();
}

void TMemData::MoveToSortedPlace(TItemHeader* item) {
    Unlink(item);
    TItemHeader* before = FFirstItem;
    while (before && CompareRecords(before->Record(), item->Record()) <= 0) before = before->Next;
    LinkBefore(item, before);
    RenumberAll();
}

}  // namespace calvoro::dac
