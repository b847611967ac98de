// The cipher that keeps the proxy password out of plain sight in the
// settings store: RC4 with the MD5 hash of a fixed pass phrase as its 128-bit
// key. It hides the password from a casual look, nothing more.
#pragma once

// Enciphers the NUL-terminated text in `buffer` (at most bufferSize bytes)
// in place; the number of enciphered bytes (the text's length), -1 on
// failure.
int CryptPassword(char* buffer, int bufferSize);
// Deciphers `length` bytes in place; the number of plain bytes, -1 on
// failure.
int DecryptPassword(char* data, int length);
