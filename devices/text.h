// Small jobs on typed and stored text that the companion's modules share.
#pragma once

#include <windows.h>

// A blank as typed or written in an ini text: a space or a tab.
inline bool Text_IsBlank(char c) {
    return c == ' ' || c == '\t';
}
const char* Text_SkipBlanks(const char* text);
// Up to five decimal digits, few enough to be one number: the byte after them, or nullptr when
// text starts with none.
const char* Text_ReadNumber(const char* text, UINT* number);
