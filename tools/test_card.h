// The bundled test card: a picture the host makes itself, so a conversion
// can be shown without any file to start from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestovatiff_cli {

constexpr uint32_t kTestCardWidth = 320;   // a multiple of 4: an ordinary BMP
constexpr uint32_t kTestCardHeight = 240;

// The test card as a 24-bit BMP.
std::vector<uint8_t> TestCardBmp();

// Writes the test card, as safely as a conversion writes its destination.
// Returns false with errno set.
bool WriteTestCard(const std::string& path);

}  // namespace kestovatiff_cli
