// Reading dialog templates. Every field is read through a cursor that knows
// where the buffer ends; a read past it marks the whole template bad rather
// than reading on.
#include "user/dialogs/template.h"

#include "kernel/code_page.h"

namespace layer {

namespace {

constexpr size_t kClassicHeader = 18;   // style, exStyle, item count, x, y, cx, cy
constexpr size_t kExtendedHeader = 26;  // version, signature, help id, exStyle, style, count, x, y, cx, cy
constexpr uint16_t kFontFromSystem = 0x7FFF;  // the message box font: no weight, italic or face follow

class Cursor {
public:
    Cursor(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool ok() const { return ok_; }
    size_t offset() const { return at_; }

    uint16_t Word() {
        if (!Need(2)) return 0;
        uint16_t v = (uint16_t)(data_[at_] | (data_[at_ + 1] << 8));
        at_ += 2;
        return v;
    }
    uint32_t Dword() {
        uint32_t low = Word();
        return low | ((uint32_t)Word() << 16);
    }
    short Short() { return (short)Word(); }

    // A zero-terminated UTF-16 string, the terminator consumed.
    std::u16string String() {
        std::u16string s;
        for (;;) {
            uint16_t c = Word();
            if (!ok_ || c == 0) return s;
            s.push_back((char16_t)c);
        }
    }

    // A field that is either 0xFFFF and an ordinal, or a string.
    void StringOrOrdinal(std::u16string *text, int *ordinal) {
        *ordinal = -1;
        text->clear();
        if (!Need(2)) return;
        if (data_[at_] == 0xFF && data_[at_ + 1] == 0xFF) {
            at_ += 2;
            *ordinal = Word();
            return;
        }
        *text = String();
    }

    void Skip(size_t n) {
        if (Need(n)) at_ += n;
    }

    // Items start on a DWORD boundary of the template.
    void AlignDword() {
        size_t pad = (4 - at_ % 4) % 4;
        if (at_ + pad > size_) {
            ok_ = false;
            return;
        }
        at_ += pad;
    }

    const uint8_t *Here() const { return data_ + at_; }

private:
    bool Need(size_t n) {
        if (!ok_ || n > size_ - at_) {
            ok_ = false;
            return false;
        }
        return true;
    }

    const uint8_t *data_;
    size_t size_;
    size_t at_ = 0;
    bool ok_ = true;
};

// The predefined classes an item can name by atom. Ordinals 0..5 are taken
// as 0x80..0x85, as the system does.
std::string ClassFromAtom(int atom) {
    static const char *const names[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    int index = atom >= 0x80 ? atom - 0x80 : atom;
    if (index >= 0 && index < 6) return names[index];
    return "#" + std::to_string(atom);
}

std::string NameOrOrdinal(Cursor &c) {
    std::u16string text;
    int ordinal;
    c.StringOrOrdinal(&text, &ordinal);
    if (ordinal >= 0) return "#" + std::to_string(ordinal);
    return AnsiFromUtf16(text);
}

bool ParseItem(Cursor &c, bool extended, DialogItemTemplate *item) {
    c.AlignDword();
    if (extended) {
        item->helpId = c.Dword();
        item->exStyle = c.Dword();
        item->style = c.Dword();
    } else {
        item->style = c.Dword();
        item->exStyle = c.Dword();
    }
    item->x = c.Short();
    item->y = c.Short();
    item->cx = c.Short();
    item->cy = c.Short();
    item->id = extended ? c.Dword() : c.Word();

    std::u16string text;
    int ordinal;
    c.StringOrOrdinal(&text, &ordinal);
    item->className = ordinal >= 0 ? ClassFromAtom(ordinal) : AnsiFromUtf16(text);
    c.StringOrOrdinal(&text, &ordinal);
    item->textOrdinal = ordinal;
    item->text = ordinal >= 0 ? std::string() : AnsiFromUtf16(text);

    // The count says how many bytes of creation data follow it.
    uint16_t extra = c.Word();
    const uint8_t *bytes = c.Here();
    c.Skip(extra);
    if (!c.ok()) return false;
    item->creationData.assign(bytes, bytes + extra);
    return true;
}

}  // namespace

bool ParseDialogTemplate(const uint8_t *data, size_t size, DialogTemplate *out) {
    *out = DialogTemplate{};
    if (!data || size < kClassicHeader) return false;
    Cursor c(data, size);
    out->extended = data[0] == 1 && data[1] == 0 && data[2] == 0xFF && data[3] == 0xFF;
    uint16_t count;
    if (out->extended) {
        if (size < kExtendedHeader) return false;
        c.Skip(4);
        c.Dword();  // the dialog's help id: nothing here uses it
        out->exStyle = c.Dword();
        out->style = c.Dword();
    } else {
        out->style = c.Dword();
        out->exStyle = c.Dword();
    }
    count = c.Word();
    out->x = c.Short();
    out->y = c.Short();
    out->cx = c.Short();
    out->cy = c.Short();

    // Menu and class: a lone 0 word means none; both may be ordinals.
    out->menu = NameOrOrdinal(c);
    out->windowClass = NameOrOrdinal(c);
    out->title = AnsiFromUtf16(c.String());
    if (out->style & DS_SETFONT) {
        out->pointSize = c.Word();
        if (out->pointSize != kFontFromSystem) {
            if (out->extended) c.Skip(4);  // weight, italic, character set
            out->faceName = AnsiFromUtf16(c.String());
        }
    }
    if (!c.ok()) return false;

    // No room is set aside from the count: a damaged count must not make a
    // large allocation, and every item has to be there in the bytes anyway.
    for (uint16_t i = 0; i < count; ++i) {
        DialogItemTemplate item;
        if (!ParseItem(c, out->extended, &item)) return false;
        out->items.push_back(std::move(item));
    }
    return true;
}

}  // namespace layer
