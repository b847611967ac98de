// The 149 genre names shared by the genre combo boxes, the tag writers and
// the local CDDB cache. Index 148 (" ") counts as no genre.
#pragma once

#include <array>
#include <string_view>

inline constexpr int kGenreCount = 149;
inline constexpr int kNoGenre = 148;

extern const std::array<const char*, kGenreCount> GenreTable;

// Index of `name` (compared without regard to ASCII case; first match), -1
// when absent.
int GetGenreNumber(std::string_view name);
