// Keys as both display backends read them: X key symbols, from the server
// on X11 and from xkbcommon on Wayland (whose symbols are X's), into the
// virtual keys Windows reports. Kept apart so that tests need no display.
#ifndef VANTREL_PLATFORM_BACKENDS_KEYS_H
#define VANTREL_PLATFORM_BACKENDS_KEYS_H

#include <windows.h>

namespace layer {

// The virtual key Windows reports for a key, given the key symbols of its
// first two levels (as XLookupKeysym gives them for index 0 and 1) and
// whether Num Lock is on. Letters and digits follow the symbol, so the key
// reported is the one printed on the user's layout; keys Windows knows no
// code for report 0xFF, as it does itself, so they still count as keys.
UINT VirtualKeyForKeysyms(unsigned long unshifted, unsigned long shifted, bool numLock);

}  // namespace layer

#endif
