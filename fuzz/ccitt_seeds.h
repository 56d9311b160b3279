// Seeds for fuzz_ccitt, written into `dir` by make_seeds (ccitt_seeds.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "test_files.h"

void CcittSeeds(const std::string& dir);

// Rows as TIFF stores 1-bit rows (each padded to a byte, 1 black), coded
// as TIFF compression 2, 3 (T4Options `options`: 2-D rows after every
// first of three, fill bits) or 4, for the TIFF seeds.
testing_files::Bytes CcittEncode(uint32_t compression, uint32_t options, const testing_files::Bytes& packed,
                                 uint32_t width, uint32_t height);
