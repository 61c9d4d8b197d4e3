#include "text.h"

bool Text_IsBlank(char c) {
    return c == ' ' || c == '\t';
}

const char* Text_SkipBlanks(const char* text) {
    while (Text_IsBlank(*text))
        ++text;
    return text;
}

const char* Text_ReadNumber(const char* text, UINT* number) {
    *number = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9' && digits < 5; ++text, ++digits)
        *number = *number * 10 + static_cast<UINT>(*text - '0');
    return digits ? text : nullptr;
}
