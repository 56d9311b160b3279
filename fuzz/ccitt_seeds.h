// Seeds for fuzz_ccitt, written into `dir` by make_seeds (ccitt_seeds.cpp).
#pragma once

#include <string>

void CcittSeeds(const std::string& dir);
