#include "engine/entities.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "engine/encoding/codepage.h"
#include "engine/textutil.h"

namespace lumeval {
namespace {

constexpr std::size_t npos = std::string_view::npos;
constexpr uint32_t kPastUnicode = 0x110000;

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

struct NamedEntity {
    std::string_view name;
    uint32_t value;
};

// The named character references of HTML 4 (its three entity sets and
// "&apos;"), in byte order of their names for the binary search. Names are
// case-sensitive: "&Aacute;" and "&aacute;" are two letters.
constexpr NamedEntity kEntities[] = {
    {"AElig", 198}, {"Aacute", 193}, {"Acirc", 194}, {"Agrave", 192}, {"Alpha", 913},
    {"Aring", 197}, {"Atilde", 195}, {"Auml", 196}, {"Beta", 914}, {"Ccedil", 199}, {"Chi", 935},
    {"Dagger", 8225}, {"Delta", 916}, {"ETH", 208}, {"Eacute", 201}, {"Ecirc", 202},
    {"Egrave", 200}, {"Epsilon", 917}, {"Eta", 919}, {"Euml", 203}, {"Gamma", 915}, {"Iacute", 205},
    {"Icirc", 206}, {"Igrave", 204}, {"Iota", 921}, {"Iuml", 207}, {"Kappa", 922}, {"Lambda", 923},
    {"Mu", 924}, {"Ntilde", 209}, {"Nu", 925}, {"OElig", 338}, {"Oacute", 211}, {"Ocirc", 212},
    {"Ograve", 210}, {"Omega", 937}, {"Omicron", 927}, {"Oslash", 216}, {"Otilde", 213},
    {"Ouml", 214}, {"Phi", 934}, {"Pi", 928}, {"Prime", 8243}, {"Psi", 936}, {"Rho", 929},
    {"Scaron", 352}, {"Sigma", 931}, {"THORN", 222}, {"Tau", 932}, {"Theta", 920}, {"Uacute", 218},
    {"Ucirc", 219}, {"Ugrave", 217}, {"Upsilon", 933}, {"Uuml", 220}, {"Xi", 926}, {"Yacute", 221},
    {"Yuml", 376}, {"Zeta", 918}, {"aacute", 225}, {"acirc", 226}, {"acute", 180}, {"aelig", 230},
    {"agrave", 224}, {"alefsym", 8501}, {"alpha", 945}, {"amp", 38}, {"and", 8743}, {"ang", 8736},
    {"apos", 39}, {"aring", 229}, {"asymp", 8776}, {"atilde", 227}, {"auml", 228}, {"bdquo", 8222},
    {"beta", 946}, {"brvbar", 166}, {"bull", 8226}, {"cap", 8745}, {"ccedil", 231}, {"cedil", 184},
    {"cent", 162}, {"chi", 967}, {"circ", 710}, {"clubs", 9827}, {"cong", 8773}, {"copy", 169},
    {"crarr", 8629}, {"cup", 8746}, {"curren", 164}, {"dArr", 8659}, {"dagger", 8224},
    {"darr", 8595}, {"deg", 176}, {"delta", 948}, {"diams", 9830}, {"divide", 247}, {"eacute", 233},
    {"ecirc", 234}, {"egrave", 232}, {"empty", 8709}, {"emsp", 8195}, {"ensp", 8194},
    {"epsilon", 949}, {"equiv", 8801}, {"eta", 951}, {"eth", 240}, {"euml", 235}, {"euro", 8364},
    {"exist", 8707}, {"fnof", 402}, {"forall", 8704}, {"frac12", 189}, {"frac14", 188},
    {"frac34", 190}, {"frasl", 8260}, {"gamma", 947}, {"ge", 8805}, {"gt", 62}, {"hArr", 8660},
    {"harr", 8596}, {"hearts", 9829}, {"hellip", 8230}, {"iacute", 237}, {"icirc", 238},
    {"iexcl", 161}, {"igrave", 236}, {"image", 8465}, {"infin", 8734}, {"int", 8747}, {"iota", 953},
    {"iquest", 191}, {"isin", 8712}, {"iuml", 239}, {"kappa", 954}, {"lArr", 8656}, {"lambda", 955},
    {"lang", 9001}, {"laquo", 171}, {"larr", 8592}, {"lceil", 8968}, {"ldquo", 8220}, {"le", 8804},
    {"lfloor", 8970}, {"lowast", 8727}, {"loz", 9674}, {"lrm", 8206}, {"lsaquo", 8249},
    {"lsquo", 8216}, {"lt", 60}, {"macr", 175}, {"mdash", 8212}, {"micro", 181}, {"middot", 183},
    {"minus", 8722}, {"mu", 956}, {"nabla", 8711}, {"nbsp", 160}, {"ndash", 8211}, {"ne", 8800},
    {"ni", 8715}, {"not", 172}, {"notin", 8713}, {"nsub", 8836}, {"ntilde", 241}, {"nu", 957},
    {"oacute", 243}, {"ocirc", 244}, {"oelig", 339}, {"ograve", 242}, {"oline", 8254},
    {"omega", 969}, {"omicron", 959}, {"oplus", 8853}, {"or", 8744}, {"ordf", 170}, {"ordm", 186},
    {"oslash", 248}, {"otilde", 245}, {"otimes", 8855}, {"ouml", 246}, {"para", 182},
    {"part", 8706}, {"permil", 8240}, {"perp", 8869}, {"phi", 966}, {"pi", 960}, {"piv", 982},
    {"plusmn", 177}, {"pound", 163}, {"prime", 8242}, {"prod", 8719}, {"prop", 8733}, {"psi", 968},
    {"quot", 34}, {"rArr", 8658}, {"radic", 8730}, {"rang", 9002}, {"raquo", 187}, {"rarr", 8594},
    {"rceil", 8969}, {"rdquo", 8221}, {"real", 8476}, {"reg", 174}, {"rfloor", 8971}, {"rho", 961},
    {"rlm", 8207}, {"rsaquo", 8250}, {"rsquo", 8217}, {"sbquo", 8218}, {"scaron", 353},
    {"sdot", 8901}, {"sect", 167}, {"shy", 173}, {"sigma", 963}, {"sigmaf", 962}, {"sim", 8764},
    {"spades", 9824}, {"sub", 8834}, {"sube", 8838}, {"sum", 8721}, {"sup", 8835}, {"sup1", 185},
    {"sup2", 178}, {"sup3", 179}, {"supe", 8839}, {"szlig", 223}, {"tau", 964}, {"there4", 8756},
    {"theta", 952}, {"thetasym", 977}, {"thinsp", 8201}, {"thorn", 254}, {"tilde", 732},
    {"times", 215}, {"trade", 8482}, {"uArr", 8657}, {"uacute", 250}, {"uarr", 8593},
    {"ucirc", 251}, {"ugrave", 249}, {"uml", 168}, {"upsih", 978}, {"upsilon", 965}, {"uuml", 252},
    {"weierp", 8472}, {"xi", 958}, {"yacute", 253}, {"yen", 165}, {"yuml", 255}, {"zeta", 950},
    {"zwj", 8205}, {"zwnj", 8204}
};


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
    const uint32_t value = HtmlEntityValue(name);
    if (!isCharacter(value)) return 0;
    AppendUtf8(out, value);
    return j + 1;
}

}  // namespace

uint32_t HtmlEntityValue(std::string_view name) {
    const auto* end = std::end(kEntities);
    const auto* at = std::lower_bound(std::begin(kEntities), end, name,
                                      [](const NamedEntity& e, std::string_view n) { return e.name < n; });
    return at != end && at->name == name ? at->value : 0;
}

std::size_t HtmlEntityCount() { return std::size(kEntities); }

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
