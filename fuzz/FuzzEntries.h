#pragma once

#include <cstddef>
#include <cstdint>

// One function per fuzz target: it takes the raw input and runs it through the code under test.
// The libFuzzer targets call these, and so does the regression test that replays every input
// kept in fuzz/regressions/<target>/ in the normal test build.
namespace FuzzEntries {

void binaryXml(const uint8_t* data, size_t size);
void manifest(const uint8_t* data, size_t size);
void resourceTable(const uint8_t* data, size_t size);
void vector(const uint8_t* data, size_t size);
void pathData(const uint8_t* data, size_t size);
void zipContainer(const uint8_t* data, size_t size);

} // namespace FuzzEntries
