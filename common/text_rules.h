#pragma once
// Small rules the programs share: rounding, version comparison and reading the
// first field of a text file.

#include <QString>
#include <cstdint>
#include <optional>

namespace kirasol {

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -0.5 -> -0).
double roundHalfEven(double value);

// Rounded into a 16-bit or 32-bit signed integer; nullopt when the rounded
// value does not fit (the caller decides what an overflow means).
std::optional<std::int16_t> toInt16(double value);
std::optional<std::int32_t> toInt32(double value);

// Ordinal comparison by character code, case-sensitive: negative, 0 or
// positive. "1.10" < "1.9" because '1' < '9'.
int ordinalCompare(const QString &a, const QString &b);

// The first field of a text: leading blanks (spaces, tabs) skipped; up to the
// first comma or line break; a field that begins with a double quote runs to
// the closing quote (or the end of the text) and the quotes are removed.
// Returns nullopt when there is no field at all (empty or blank text).
std::optional<QString> firstField(const QString &text);

}  // namespace kirasol
