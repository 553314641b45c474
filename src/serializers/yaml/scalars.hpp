#pragma once

// YAML 1.1 scalar rules shared by the reader and the writer: how a plain scalar is typed and how
// numbers are read and written.

#include <optional>
#include <string>
#include <string_view>

#include "serializers/document.hpp"

namespace serializers::yaml_scalars {

/// What a plain (unquoted, untagged) scalar stands for under the YAML 1.1 rules.
enum class PlainKind { NULL_VALUE, BOOLEAN, INTEGER, FLOAT, TIMESTAMP, MERGE, STRING };

/// The kind of the plain scalar `text`.
PlainKind classify_plain(std::string_view text);

/// The boolean of yes/no/true/false/on/off in any letter case, or nothing.
std::optional<bool> construct_bool(std::string_view text);

/// The integer of a YAML 1.1 integer text (decimal, 0x, 0b, leading-0 octal, sexagesimal, with
/// underscores), or nothing when malformed or outside the 64-bit range.
std::optional<Document> construct_int(std::string_view text);

/// The number of a YAML 1.1 float text (also .inf, .nan and sexagesimal), or nothing when
/// malformed.
std::optional<double> construct_float(std::string_view text);

/// True when `text` has the form of a YAML 1.1 date or timestamp and names a real date and time.
bool is_valid_timestamp(std::string_view text);

/// A float text that YAML 1.1 readers type back as the same float ("1.0", "1.0e+20", ".inf").
std::string format_float(double value);

}  // namespace serializers::yaml_scalars
