#pragma once

#include <QPainterPath>
#include <QString>
#include <optional>

// The path strings of vector drawables ("pathData"), which use SVG's path grammar:
// M m L l H h V v C c S s Q q T t A a Z z, numbers separated by commas or white space or by a sign
// or a second decimal point ("M-5-5", "0.5.5" = 0.5 .5), exponents ("1e-3"), repeated argument
// groups, and implicit line-tos after a move. Arcs become cubic curves. Nothing on empty or
// unusable input: a number that does not parse, a non-finite coordinate, or no segment at all.
namespace PathData {

std::optional<QPainterPath> parse(const QString& string);

} // namespace PathData
