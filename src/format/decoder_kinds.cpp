#include "format/decoder_kinds.h"

#include <cmath>

#include "format/number_text.h"

namespace kestrane::decode {

Code ReadCode(const wmi::Value& value, int cimType) {
    Code code;
    if (value.isNull() || value.isArray()) return code;
    code.present = true;
    if (value.isInt()) {
        code.whole = true;
        code.number = value.asInt();
    } else {
        const double d = ReadNumber(value);
        if (d >= -9.2e18 && d <= 9.2e18 && d == std::trunc(d)) {
            code.whole = true;
            code.number = static_cast<std::int64_t>(d);
        } else {
            code.real = d;
        }
    }
    // WMI hands uint32 to scripts as a signed 32-bit Long; codes such as
    // BusType's -1 are only reachable that way.
    constexpr std::int64_t kTwo31 = std::int64_t{1} << 31;
    constexpr std::int64_t kTwo32 = std::int64_t{1} << 32;
    if (code.whole && cimType == wmi::CIM_UINT32 && code.number >= kTwo31 && code.number < kTwo32)
        code.number -= kTwo32;
    return code;
}

void AppendCodeText(std::string& out, const Code& code) {
    if (code.whole)
        AppendInt(out, code.number);
    else
        AppendNumber(out, code.real);
}

const CodeEntry* Find(Table table, const Code& code) {
    if (!code.whole) return nullptr;
    for (const CodeEntry& e : table)
        if (e.code == code.number) return &e;
    return nullptr;
}

namespace {

void AppendSuffix(std::string& out, const CodeEntry* entry, const Code& code, Fallback fallback) {
    if (entry)
        out += entry->text;
    else if (fallback == Fallback::Value)
        AppendCodeText(out, code);
    out += " (";
    AppendCodeText(out, code);
    out += ')';
}

void AppendParen(std::string& out, const CodeEntry* entry, const Code& code) {
    if (!entry) return;
    out += entry->text;
    AppendCodeText(out, code);
    out += ')';
}

struct Element {
    std::string text;   // the row's sub-item
    std::string label;  // the label alone, for decoders that return it
};

Element DecodeElement(const wmi::Value& value, int cimType, const ArrayKind& kind) {
    Element el;
    if (kind.form == ElementForm::OwnText) {
        el.text = wmi::ValueText(value);
        return el;
    }
    const Code code = ReadCode(value, cimType);
    if (!code.present) return el;
    const CodeEntry* entry = Find(kind.table, code);
    if (kind.form == ElementForm::Paren) {
        // A code the table does not know is still what the computer said:
        // shown in the same shape, without a label.
        if (entry) {
            AppendParen(el.text, entry, code);
        } else {
            el.text += '(';
            AppendCodeText(el.text, code);
            el.text += ')';
        }
    } else {
        AppendSuffix(el.text, entry, code, kind.fallback);
    }
    if (kind.result == ArrayResult::Label) {
        if (entry)
            el.label = entry->text;
        else if (kind.fallback == Fallback::Value)
            AppendCodeText(el.label, code);
    }
    return el;
}

}  // namespace

std::string SuffixForm(const wmi::Property& property, Table table, Fallback fallback) {
    const Code code = ReadCode(property.value(), property.cimType());
    std::string out;
    if (!code.present) return out;
    const CodeEntry* entry = Find(table, code);
    out.reserve((entry ? entry->text.size() : 0) + 16);
    AppendSuffix(out, entry, code, fallback);
    return out;
}

std::string ParenForm(const wmi::Property& property, Table table) {
    const Code code = ReadCode(property.value(), property.cimType());
    std::string out;
    if (code.present) AppendParen(out, Find(table, code), code);
    return out;
}

std::string FlagsForm(const wmi::Property& property, Table flags) {
    const Code code = ReadCode(property.value(), property.cimType());
    std::string out;
    if (!code.present) return out;
    if (code.whole) {
        for (const CodeEntry& flag : flags) {
            if (code.number & flag.code) {
                out += flag.text;
                out += ", ";
            }
        }
        if (!out.empty()) out.resize(out.size() - 2);
    }
    out += " (";
    AppendCodeText(out, code);
    out += ')';
    return out;
}

std::string UnitForm(const wmi::Property& property, std::string_view unit) {
    const Code code = ReadCode(property.value(), property.cimType());
    std::string out;
    if (!code.present) return out;
    AppendCodeText(out, code);
    out += unit;
    return out;
}

std::string ArrayRows(const wmi::Property& property, ArrayRowSink& rows, std::string_view strItemKey,
                      std::string_view strItemText, const ArrayKind& kind) {
    const wmi::Value& value = property.value();
    const int cimType = property.cimType();
    const bool wantLabel = kind.result == ArrayResult::Label;
    if (!value.isArray()) {
        if (value.isNull()) return {};
        Element el = DecodeElement(value, cimType, kind);
        return wantLabel ? std::move(el.label) : std::move(el.text);
    }
    std::string last;
    const std::string none;
    bool first = true;
    for (const wmi::Value& item : value.asArray()) {
        Element el = DecodeElement(item, cimType, kind);
        if (first) {
            rows.addRow(std::string(strItemKey), std::string(strItemText), "Info", el.text);
            first = false;
        } else {
            rows.addRow(none, none, none, el.text);
        }
        last = wantLabel ? std::move(el.label) : std::move(el.text);
    }
    return last;
}

}  // namespace kestrane::decode
