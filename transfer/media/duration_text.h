// The play-time texts of audio files: "mm:ss" below an hour, else
// "hh:mm:ss" (hours not wrapped, so they may take more than two digits).
#pragma once

#include <cstdint>
#include <string>

std::string media_duration_text(uint64_t seconds);
