// Dialog templates as resources and callers hand them over: the classic
// DLGTEMPLATE and the extended DLGTEMPLATEEX, each a header and a run of
// item records with variable-length strings, WORD- and DWORD-aligned. The
// bytes may come from a damaged resource, so nothing here trusts a count,
// a length or a terminator it has not seen inside the buffer.
#ifndef VANTREL_PLATFORM_DIALOG_TEMPLATE_H
#define VANTREL_PLATFORM_DIALOG_TEMPLATE_H

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace layer {

struct DialogItemTemplate {
    DWORD style = 0, exStyle = 0, helpId = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;                 // 0xFFFF for the static identifier in the classic form
    std::string className;        // atoms become "BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"
    std::string text;             // empty when the text is an ordinal
    int textOrdinal = -1;         // the ordinal (e.g. a bitmap id for SS_BITMAP), -1 when text is a string
    std::vector<uint8_t> creationData;
};

struct DialogTemplate {
    bool extended = false;
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu, windowClass, title;   // ordinal menus/classes as "#<n>"
    WORD pointSize = 0; std::string faceName;  // when DS_SETFONT
    std::vector<DialogItemTemplate> items;
};

// False (and `out` left meaningful only in part) when the bytes are not a whole template.
bool ParseDialogTemplate(const uint8_t *data, size_t size, DialogTemplate *out);

}  // namespace layer

#endif
