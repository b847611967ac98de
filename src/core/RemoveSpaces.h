// Trims space characters (0x20 only; tabs stay) at both ends of a text, in
// place. Used by naming, the local CDDB cache and the ripper's track-info
// parsing.
#pragma once

#include <string>

void RemoveSpacesFromStartAndEnd(char* text);
void RemoveSpacesFromStartAndEnd(std::string& text);
