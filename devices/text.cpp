#include "text.h"

const char* Text_SkipBlanks(const char* text) {
    while (Text_IsBlank(*text))
        ++text;
    return text;
}

const char* Text_ReadNumber(const char* text, UINT* number) {
    const char* digit = text;
    for (*number = 0; *digit >= '0' && *digit <= '9' && digit < text + 5; ++digit)
        *number = *number * 10 + static_cast<UINT>(*digit - '0');
    return digit > text ? digit : nullptr;
}
