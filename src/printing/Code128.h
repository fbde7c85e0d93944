#pragma once

// The Code 128 symbols by value: bar, space, bar, space, bar, space in modules; then the
// stop pattern. One table for the page printer's barcodes and the receipt preview's.
extern const char* const kCode128Patterns[106];
extern const char kCode128Stop[];
