#include "device_list.h"

#include <string.h>

#include "murmex.h"
#include "text.h"
#include "wave_lib.h"

static_assert(MURMEX_PRODUCT_NAME_CHARS == MAXPNAMELEN - 1, "what szPname keeps of a name");

namespace {

// Blanks are taken off the end before quotes are looked for: cmd leaves the blank after a quoted
// name.
void Advise(const Devices_List* list, const char* name, Devices_Advice* advice) {
    size_t first = 0, end = lstrlenA(name);
    advice->blank = advice->quotes = false;
    for (;;) {
        if (end > first && Text_IsBlank(name[end - 1])) {
            --end;
            advice->blank = true;
        } else if (end - first >= 2 && name[first] == '"' && name[end - 1] == '"') {
            ++first;
            --end;
            advice->quotes = true;
        } else {
            break;
        }
    }
    advice->longer = end - first > MURMEX_PRODUCT_NAME_CHARS;
    char kept[MURMEX_PRODUCT_NAME_CHARS + 1], guard[APP_NAME_CHARS];
    lstrcpynA(kept, name + first,
              static_cast<int>(advice->longer ? MURMEX_PRODUCT_NAME_CHARS : end - first) + 1);
    // Taken like a typed name: corrected to nothing (a pair of quotes), it is the default.
    App_DeviceAndGuardNames(kept, advice->corrected, guard);
    advice->chosen = Devices_Choose(list, advice->corrected);
}

} // namespace

void Devices_Read(Devices_List* list) {
    const UINT count = waveOutGetNumDevs();
    list->count = count < DEVICES_MAX ? static_cast<int>(count) : DEVICES_MAX;
    for (int id = 0; id < list->count; ++id) {
        Devices_Device* device = &list->device[id];
        WAVEOUTCAPSA caps;
        device->named = waveOutGetDevCapsA(id, &caps, sizeof caps) == MMSYSERR_NOERROR;
        memcpy(device->name, caps.szPname, sizeof device->name); // terminated, cut by Windows
    }
}

int Devices_Choose(const Devices_List* list, const char* name) {
    for (int id = 0; id < list->count; ++id)
        if (list->device[id].named && WaveLib_NameMatches(list->device[id].name, name))
            return id;
    return -1;
}

void Devices_ChoiceOf(const Devices_List* list, const char* tail, Devices_Choice* choice) {
    char guard[APP_NAME_CHARS];
    const bool taken = App_DeviceAndGuardNames(tail, choice->name, guard);
    if (!taken)
        choice->name[0] = '\0';
    const char* name = taken ? choice->name : tail;
    choice->refused = taken ? nullptr : tail;
    choice->given = *tail != '\0';
    choice->chosen = taken ? Devices_Choose(list, name) : -1;
    for (int id = 0; id < list->count; ++id)
        choice->standing[id] =
            id == choice->chosen ? DEVICES_CHOSEN
            : list->device[id].named && WaveLib_NameMatches(list->device[id].name, name)
                ? DEVICES_MATCHES_TOO
                : DEVICES_OTHER;
    // A refused name is far too long to match anything: the advice still says why.
    if (choice->chosen < 0)
        Advise(list, name, &choice->advice);
}
