// Hand-built compiled resource files and packed DIBs, for feeding the
// layer's resource reader good and damaged data.
#ifndef VANTREL_TESTS_RES_BUILDER_H
#define VANTREL_TESTS_RES_BUILDER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace resbuild {

inline void PutWord(std::vector<uint8_t> &out, uint32_t v) {
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}
inline void PutDword(std::vector<uint8_t> &out, uint32_t v) {
    PutWord(out, v & 0xFFFF);
    PutWord(out, v >> 16);
}
inline void Align4(std::vector<uint8_t> &out) {
    while (out.size() % 4) out.push_back(0);
}

// A type or name: an ordinal, or a string when `text` is not empty.
struct Id {
    uint16_t ordinal = 0;
    std::string text;
    bool string = false;  // a string even when empty (a dialog caption)
};
inline Id Ord(uint16_t n) { return {n, "", false}; }
inline Id Named(const std::string &s) { return {0, s, false}; }
inline Id Str(const std::string &s) { return {0, s, true}; }

inline void PutId(std::vector<uint8_t> &out, const Id &id) {
    if (id.text.empty() && !id.string) {
        PutWord(out, 0xFFFF);
        PutWord(out, id.ordinal);
        return;
    }
    for (char c : id.text) PutWord(out, (uint8_t)c);
    PutWord(out, 0);
}

// Appends one record: header, data, padding.
inline void AddRecord(std::vector<uint8_t> &out, const Id &type, const Id &name, const std::vector<uint8_t> &data,
                      uint16_t language = 0x409) {
    size_t start = out.size();
    PutDword(out, (uint32_t)data.size());
    PutDword(out, 0);  // header size, filled in below
    PutId(out, type);
    PutId(out, name);
    Align4(out);
    PutDword(out, 0);       // DataVersion
    PutWord(out, 0x1030);   // MemoryFlags
    PutWord(out, language);
    PutDword(out, 0);       // Version
    PutDword(out, 0);       // Characteristics
    uint32_t headerSize = (uint32_t)(out.size() - start);
    for (int i = 0; i < 4; ++i) out[start + 4 + i] = (uint8_t)(headerSize >> (8 * i));
    out.insert(out.end(), data.begin(), data.end());
    Align4(out);
}

// The empty record every .res file opens with.
inline std::vector<uint8_t> NewResFile() {
    std::vector<uint8_t> out;
    AddRecord(out, Ord(0), Ord(0), {}, 0);
    return out;
}

// A packed 8-bit DIB: header, `colors` table entries (entry i = (i, 2i, 3i)),
// then `pixels` as stored (RLE8 stream or plain rows).
inline std::vector<uint8_t> PackedDib(int width, int height, uint32_t compression, uint32_t clrUsed,
                                      const std::vector<uint8_t> &pixels, uint32_t headerSize = 40,
                                      int colorsStored = -1) {
    std::vector<uint8_t> out;
    PutDword(out, headerSize);
    PutDword(out, (uint32_t)width);
    PutDword(out, (uint32_t)height);
    PutWord(out, 1);
    PutWord(out, 8);
    PutDword(out, compression);
    PutDword(out, (uint32_t)pixels.size());
    PutDword(out, 2835);
    PutDword(out, 2835);
    PutDword(out, clrUsed);
    PutDword(out, 0);
    while (out.size() < headerSize) out.push_back(0);
    int colors = colorsStored >= 0 ? colorsStored : (clrUsed ? (int)clrUsed : 256);
    for (int i = 0; i < colors; ++i) {
        out.push_back((uint8_t)i);
        out.push_back((uint8_t)(2 * i));
        out.push_back((uint8_t)(3 * i));
        out.push_back(0);
    }
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

// A dialog template, classic (DLGTEMPLATE) or extended (DLGTEMPLATEEX),
// laid out as windres lays it out: strings in UTF-16, items on DWORD
// boundaries of the template, no padding after the last item.
class DialogBytes {
public:
    DialogBytes(DWORD style, short cx, short cy, const std::string &title, bool extended = false)
        : style_(style), cx_(cx), cy_(cy), title_(title), extended_(extended) {}

    DialogBytes &At(short x, short y) {
        x_ = x;
        y_ = y;
        return *this;
    }
    DialogBytes &ExStyle(DWORD exStyle) {
        exStyle_ = exStyle;
        return *this;
    }
    DialogBytes &HelpId(DWORD helpId) {
        helpId_ = helpId;
        return *this;
    }
    DialogBytes &Menu(const Id &menu) {
        menu_ = menu;
        hasMenu_ = true;
        return *this;
    }
    DialogBytes &Class(const Id &cls) {
        class_ = cls;
        hasClass_ = true;
        return *this;
    }
    // Sets DS_SETFONT as well.
    DialogBytes &Font(uint16_t points, const std::string &face) {
        style_ |= 0x40;
        points_ = points;
        face_ = face;
        return *this;
    }
    // `cls` is an atom (0x80 button .. 0x85 combo box) or a class name;
    // `text` a caption or an ordinal.
    DialogBytes &Item(DWORD style, short x, short y, short cx, short cy, DWORD id, const Id &cls, const Id &text,
                      std::vector<uint8_t> data = {}, DWORD exStyle = 0, DWORD helpId = 0) {
        items_.push_back({style, exStyle, helpId, x, y, cx, cy, id, cls, text, std::move(data)});
        return *this;
    }
    // What fills the gaps that put items on DWORD boundaries.
    DialogBytes &Padding(uint8_t fill) {
        padding_ = fill;
        return *this;
    }
    // The item count as written, when a test wants it to disagree with the items.
    DialogBytes &Count(uint16_t count) {
        count_ = count;
        return *this;
    }

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> out;
        if (extended_) {
            PutWord(out, 1);
            PutWord(out, 0xFFFF);
            PutDword(out, helpId_);
            PutDword(out, exStyle_);
            PutDword(out, style_);
        } else {
            PutDword(out, style_);
            PutDword(out, exStyle_);
        }
        PutWord(out, count_ >= 0 ? (uint32_t)count_ : (uint32_t)items_.size());
        for (short v : {x_, y_, cx_, cy_}) PutWord(out, (uint16_t)v);
        OptionalId(out, hasMenu_, menu_);
        OptionalId(out, hasClass_, class_);
        Text(out, title_);
        if (style_ & 0x40) {
            PutWord(out, points_);
            if (points_ != 0x7FFF) {
                if (extended_) {
                    PutWord(out, 400);  // weight
                    out.push_back(0);   // italic
                    out.push_back(1);   // character set
                }
                Text(out, face_);
            }
        }
        for (const ItemPlan &item : items_) {
            while (out.size() % 4) out.push_back(padding_);
            if (extended_) {
                PutDword(out, item.helpId);
                PutDword(out, item.exStyle);
                PutDword(out, item.style);
            } else {
                PutDword(out, item.style);
                PutDword(out, item.exStyle);
            }
            for (short v : {item.x, item.y, item.cx, item.cy}) PutWord(out, (uint16_t)v);
            if (extended_)
                PutDword(out, item.id);
            else
                PutWord(out, item.id & 0xFFFF);
            PutId(out, item.cls);
            PutId(out, item.text);
            PutWord(out, (uint32_t)item.data.size());
            out.insert(out.end(), item.data.begin(), item.data.end());
        }
        return out;
    }

private:
    struct ItemPlan {
        DWORD style, exStyle, helpId;
        short x, y, cx, cy;
        DWORD id;
        Id cls, text;
        std::vector<uint8_t> data;
    };

    // A name, an ordinal, or (when not given) a lone zero.
    static void OptionalId(std::vector<uint8_t> &out, bool given, const Id &id) {
        if (given)
            PutId(out, id);
        else
            PutWord(out, 0);
    }
    static void Text(std::vector<uint8_t> &out, const std::string &text) {
        for (char c : text) PutWord(out, (uint8_t)c);
        PutWord(out, 0);
    }

    DWORD style_, exStyle_ = 0, helpId_ = 0;
    short x_ = 0, y_ = 0, cx_, cy_;
    std::string title_;
    bool extended_;
    Id menu_, class_;
    bool hasMenu_ = false, hasClass_ = false;
    uint16_t points_ = 0;
    std::string face_;
    std::vector<ItemPlan> items_;
    int count_ = -1;
    uint8_t padding_ = 0;
};

// Atoms of the predefined control classes.
inline Id ButtonAtom() { return Ord(0x80); }
inline Id EditAtom() { return Ord(0x81); }
inline Id StaticAtom() { return Ord(0x82); }

}  // namespace resbuild

#endif
