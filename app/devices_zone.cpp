// What the companion says of the download mark on the murmex.exe an entry starts. Started from a
// Run entry at sign-in, Explorer's shell checks the file's zone as it starts it: a file marked as
// from the internet (zone 3) gets "Open File - Security Warning" every time, and one from a
// restricted site (zone 4) is blocked. The start the companion makes itself does no such check,
// so only the mark tells what sign-in will do. A mark is removed only after a yes, from one file.
#include "devices.h"

namespace {

constexpr char kPolicies[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Attachments";

// Where the file system has no streams, opening one is refused as a bad name or an unsupported
// call: no mark can be kept there, and Windows goes by the file's place alone.
bool NoStreams(DWORD error) {
    return error == ERROR_INVALID_NAME || error == ERROR_INVALID_PARAMETER ||
           error == ERROR_NOT_SUPPORTED;
}

} // namespace

Zone_Mark Zone_Tell(const char* file) {
    const Zone_Mark mark = Zone_Read(file);
    char text[DEVICES_TEXT_CHARS];
    if (mark.zone == ZONE_INTERNET || mark.zone == ZONE_RESTRICTED) {
        if (mark.zone == ZONE_INTERNET)
            Say("Download mark: %s came from the internet (zone 3). At every sign-in Windows "
                "shows \"Open File - Security Warning\" for it, and Murmex starts only once "
                "someone clicks Run.",
                file);
        else
            Say("Download mark: %s came from a restricted site (zone 4). Windows blocks it at "
                "sign-in, and Murmex does not start.",
                file);
        Say("Removing the mark from that file ends it: Properties > Unblock, PowerShell's "
            "Unblock-File, or this program, double-clicked.");
        return mark;
    }
    if (mark.zone != ZONE_UNREADABLE)
        return mark;
    if (NoStreams(mark.error)) {
        Say("Download mark: none can be kept where %s lives (no file streams there, as on FAT32 "
            "or some network shares): Windows goes by its place alone.",
            file);
        return mark;
    }
    if (mark.error) {
        Devices_SystemText(mark.error, text);
        Say("Download mark: that of %s cannot be read: %s", file, text);
    } else {
        Say("Download mark: %s has one this program cannot read (no ZoneId of 0 to 4 under "
            "[ZoneTransfer]).",
            file);
    }
    Say("If Windows asks before it starts at sign-in, Properties > Unblock removes the mark.");
    return mark;
}

void Zone_TellEntry(const char* commandLine) {
    char file[MAX_PATH];
    if (Zone_Program(commandLine, file))
        Zone_Tell(file);
}

// "Hide mechanisms to remove zone information": Properties loses its Unblock, and a program that
// removed marks anyway would undo what the administrator chose.
bool Zone_MayRemove() {
    const HKEY roots[] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
    for (HKEY root : roots) {
        DWORD hide = 0, bytes = sizeof hide;
        if (RegGetValueA(root, kPolicies, "HideZoneInfoOnProperties", RRF_RT_REG_DWORD, nullptr,
                         &hide, &bytes) == ERROR_SUCCESS &&
            hide == 1) {
            Say("A policy of this computer hides the ways to remove download marks: its "
                "administrator can unblock the file.");
            return false;
        }
    }
    return true;
}

void Zone_Unblock(const char* file, bool yes) {
    const DWORD result = yes ? Zone_Remove(file) : ERROR_SUCCESS;
    if (yes && result == ERROR_SUCCESS) {
        Say("Removed the mark from %s alone: Windows starts it at sign-in without a word.", file);
        return;
    }
    if (yes) {
        char text[DEVICES_TEXT_CHARS];
        Devices_SystemText(result, text);
        Say("Windows refused to remove the mark: %s It stays: the file's owner or an "
            "administrator can remove it.",
            text);
    } else {
        Say("The mark stays, and Windows keeps acting on it at sign-in.");
    }
    Say("To remove it later: Properties > Unblock on the file, or in PowerShell: Unblock-File "
        "-LiteralPath \"%s\"",
        file);
}
