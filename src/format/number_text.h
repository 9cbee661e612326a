// Numbers to text in the one locale the program uses ("." as the decimal
// separator), appended to a string to spare temporaries on the hot path.
#pragma once

#include <cstdint>
#include <string>

#include "wmi/value.h"

namespace kestrane {

void AppendInt(std::string& out, std::int64_t value);

// Shortest form with at most 15 significant digits (as wmi::NumberText),
// with a fast path for whole numbers.
void AppendNumber(std::string& out, double value);
std::string NumberToText(double value);

// The value read as a number (wmi::ValueNumber), quicker for the plain
// decimal strings that 64-bit integers arrive as.
double ReadNumber(const wmi::Value& value);

// The "0.00" pattern: two decimals, halves rounded away from zero.
void AppendFixed2(std::string& out, double value);

}  // namespace kestrane
