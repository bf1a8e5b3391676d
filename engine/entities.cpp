#include "engine/entities.h"

#include <libxml/HTMLparser.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/encoding/codepage.h"
#include "engine/textutil.h"

namespace lumeval {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr uint32_t kPastUnicode = 0x110000;
// The longest HTML name is 8 letters; a longer run cannot be one, and the
// bound keeps the copy for the lookup on the stack.
constexpr std::size_t kMaxNameLength = 31;

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

int digitValue(char c, bool hex) {
    if (isAsciiDigit(c)) return c - '0';
    if (!hex) return -1;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isCharacter(uint32_t cp) { return cp != 0 && cp < kPastUnicode && (cp < 0xD800 || cp > 0xDFFF); }


// `s` starts with "&". Appends the decoded entity and returns the bytes it
// took, or returns 0 (appending nothing) when `s` starts no entity we decode.
std::size_t decodeOne(std::string_view s, std::string& out) {
    if (s.size() > 1 && s[1] == '#') {
        std::size_t j = 2;
        const bool hex = j < s.size() && (s[j] == 'x' || s[j] == 'X');
        if (hex) ++j;
        const std::size_t first = j;
        uint32_t cp = 0;
        // Saturates past Unicode, so any number of digits stays in range.
        for (int d; j < s.size() && (d = digitValue(s[j], hex)) >= 0; ++j) {
            cp = std::min<uint32_t>(cp * (hex ? 16 : 10) + static_cast<uint32_t>(d), kPastUnicode);
        }
        if (j == first || j >= s.size() || s[j] != ';' || !isCharacter(cp)) return 0;
        AppendUtf8(out, cp);
        return j + 1;
    }
    std::size_t j = 1;
    while (j < s.size() && (isAsciiLetter(s[j]) || isAsciiDigit(s[j]))) ++j;
    if (j == 1 || j >= s.size() || s[j] != ';') return 0;
    const std::string_view name = s.substr(1, j - 1);
    // Subtitle text wants an ordinary space where HTML keeps lines together.
    if (name == "nbsp") {
        out += ' ';
        return j + 1;
    }
    if (name.size() > kMaxNameLength) return 0;
    char buf[kMaxNameLength + 1];
    std::memcpy(buf, name.data(), name.size());
    buf[name.size()] = '\0';
    const htmlEntityDesc* entity = htmlEntityLookup(reinterpret_cast<const xmlChar*>(buf));
    if (entity == nullptr || !isCharacter(entity->value)) return 0;
    AppendUtf8(out, entity->value);
    return j + 1;
}

}  // namespace

std::string DecodeEntities(std::string_view text) {
    std::size_t amp = text.find('&');
    if (amp == npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (amp != npos) {
        out.append(text.substr(i, amp - i));
        const std::size_t used = decodeOne(text.substr(amp), out);
        if (used == 0) {
            out += '&';
            i = amp + 1;
        } else {
            i = amp + used;
        }
        amp = text.find('&', i);
    }
    out.append(text.substr(i));
    return out;
}

std::string StripMarkupKeepEntities(std::string_view text) {
    return DecodeEntities(KillTagFor(KillTagFor(text, "<", ">"), "{", "}"));
}

void AppendXmlEscaped(std::string& out, std::string_view text) {
    std::size_t i = 0;
    for (std::size_t at = text.find_first_of("&<>"); at != npos; at = text.find_first_of("&<>", i)) {
        out.append(text.substr(i, at - i));
        out += text[at] == '&' ? "&amp;" : text[at] == '<' ? "&lt;" : "&gt;";
        i = at + 1;
    }
    out.append(text.substr(i));
}

void AppendSamiEscaped(std::string& out, std::string_view text) {
    std::size_t i = 0;
    for (std::size_t at = text.find_first_of("&<>"); at != npos; at = text.find_first_of("&<>", i)) {
        out.append(text.substr(i, at - i));
        i = at + 1;
        if (text[at] == '<') {
            std::size_t j = at + 1;
            if (j < text.size() && text[j] == '/') ++j;
            if (j < text.size() && isAsciiLetter(text[j])) {
                // Formatting players understand (<i>, <font color=...>) stays
                // markup; the scan stops at the next "<", so it stays linear.
                const std::size_t end = text.find_first_of("<>", j);
                if (end != npos && text[end] == '>') {
                    out.append(text.substr(at, end + 1 - at));
                    i = end + 1;
                    continue;
                }
            }
            out += "&lt;";
        } else {
            out += text[at] == '&' ? "&amp;" : "&gt;";
        }
    }
    out.append(text.substr(i));
}

}  // namespace lumeval
