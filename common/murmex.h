/* What murmex.exe, its companion murmex-devices.exe, the package's custom actions and the test
 * tools must agree on, spelled once. Plain C and string-literal macros, so that C and C++ take
 * them alike and a wide copy is L"" MURMEX_WINDOW_CLASS where an installer call wants one. */
#pragma once

/* The hidden window murmex.exe makes: its class, by which copies are found and sent the quit. */
#define MURMEX_WINDOW_CLASS "MurmexClass"
#define MURMEX_WINDOW_TITLE "MurmexWindow"

/* The named event a copy holds for the device name it serves: the prefix, then the name. */
#define MURMEX_GUARD_PREFIX "Murmex-"
/* A sign-in entry's value under a Run key: the prefix, then the device name. */
#define MURMEX_ENTRY_PREFIX "Murmex: "

/* The package's own key (HKLM, in the 32-bit view), the Run value it wrote and its build order. */
#define MURMEX_PACKAGE_KEY "Software\\Murmex"
#define MURMEX_PACKAGE_ENTRY "Entry"
#define MURMEX_PACKAGE_ORDER "Order"
/* The package's folder under Program Files. */
#define MURMEX_INSTALL_FOLDER "Murmex"
#define MURMEX_UPGRADE_CODE "81EACCE6-703A-448D-91D4-31F6DFE36A0F"

/* The longest device name murmex.exe accepts: its guard's name, the prefix and the name, then
 * fills a MAX_PATH buffer. A longer name is refused, never cut. */
#define MURMEX_LONGEST_NAME 252
/* What Windows keeps of a device's product name (MAXPNAMELEN - 1): a longer name matches none. */
#define MURMEX_PRODUCT_NAME_CHARS 31
