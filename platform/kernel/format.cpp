// wsprintfA: the system's small formatter. No floating point, 1024 bytes at
// most, and "l" means 32 bits as a Windows LONG does.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kMaxOutput = 1024;  // including the terminating zero

struct Out {
    char *buffer;
    int length = 0;
    void Put(char c) {
        if (length < kMaxOutput - 1) buffer[length++] = c;
    }
    bool Full() const { return length >= kMaxOutput - 1; }
};

void PutPadded(Out &out, const char *text, int textLength, int width, bool left, char pad, const char *prefix,
               int prefixLength) {
    int total = textLength + prefixLength;
    if (pad == '0' && !left) {
        for (int i = 0; i < prefixLength; ++i) out.Put(prefix[i]);
        for (int i = total; i < width; ++i) out.Put('0');
    } else {
        if (!left)
            for (int i = total; i < width; ++i) out.Put(' ');
        for (int i = 0; i < prefixLength; ++i) out.Put(prefix[i]);
    }
    for (int i = 0; i < textLength; ++i) out.Put(text[i]);
    if (left)
        for (int i = total; i < width; ++i) out.Put(' ');
}

}  // namespace

extern "C" int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list args) {
    if (!buffer) return 0;
    if (!format) {
        buffer[0] = '\0';
        return 0;
    }
    Out out{buffer};
    for (const char *p = format; *p && !out.Full(); ++p) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        ++p;
        bool left = false, alternate = false;
        char pad = ' ';
        for (;; ++p) {
            if (*p == '-') left = true;
            else if (*p == '#') alternate = true;
            else if (*p == '0') pad = '0';
            else break;
        }
        int width = 0;
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        int precision = -1;
        if (*p == '.') {
            ++p;
            precision = 0;
            while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
        }
        bool wide64 = false, shortArg = false;
        if (*p == 'l' || *p == 'w') {
            ++p;  // "l" is the 32-bit LONG here; "w" (wide) has no meaning in the A form
        } else if (*p == 'h') {
            shortArg = true;
            ++p;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            wide64 = true;
            p += 3;
        }
        if (!*p) break;
        char digits[32];
        char *end = digits + sizeof digits;
        char *start = end;
        switch (*p) {
        case 'c':
        case 'C': {
            char c = (char)va_arg(args, int);
            PutPadded(out, &c, 1, width, left, ' ', "", 0);
            break;
        }
        case 's':
        case 'S': {
            const char *s = va_arg(args, const char *);
            if (!s) s = "(null)";
            int n = (int)strnlen(s, kMaxOutput);
            if (precision >= 0 && precision < n) n = precision;
            PutPadded(out, s, n, width, left, ' ', "", 0);
            break;
        }
        case 'd':
        case 'i':
        case 'u': {
            bool negative = false;
            uint64_t v;
            if (*p == 'u') {
                v = wide64 ? va_arg(args, uint64_t) : (uint64_t)va_arg(args, unsigned int);
                if (shortArg) v = (unsigned short)v;
            } else {
                int64_t sv = wide64 ? va_arg(args, int64_t) : (int64_t)va_arg(args, int);
                if (shortArg) sv = (short)sv;
                negative = sv < 0;
                v = negative ? 0 - (uint64_t)sv : (uint64_t)sv;
            }
            do {
                *--start = (char)('0' + v % 10);
                v /= 10;
            } while (v);
            int n = (int)(end - start);
            while (precision > n && start > digits + 1) {
                *--start = '0';
                ++n;
            }
            PutPadded(out, start, n, width, left, precision >= 0 ? ' ' : pad, negative ? "-" : "", negative ? 1 : 0);
            break;
        }
        case 'x':
        case 'X':
        case 'p': {
            const char *hex = *p == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
            uint64_t v;
            if (*p == 'p') {
                v = (uint64_t)(uintptr_t)va_arg(args, void *);
                if (precision < 0) precision = (int)sizeof(void *) * 2;
            } else {
                v = wide64 ? va_arg(args, uint64_t) : (uint64_t)va_arg(args, unsigned int);
                if (shortArg) v = (unsigned short)v;
            }
            bool nonzero = v != 0;
            do {
                *--start = hex[v & 15];
                v >>= 4;
            } while (v);
            int n = (int)(end - start);
            while (precision > n && start > digits + 1) {
                *--start = '0';
                ++n;
            }
            const char *prefix = *p == 'x' ? "0x" : "0X";
            bool withPrefix = alternate && nonzero && *p != 'p';
            PutPadded(out, start, n, width, left, precision >= 0 ? ' ' : pad, prefix, withPrefix ? 2 : 0);
            break;
        }
        default:
            // "%%" and unknown conversions print the character itself.
            out.Put(*p);
            break;
        }
    }
    buffer[out.length] = '\0';
    return out.length;
}

extern "C" int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(buffer, format, args);
    va_end(args);
    return n;
}
