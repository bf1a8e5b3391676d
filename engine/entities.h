// HTML entities in tag-based formats (SAMI, XML lyrics): decoded when read,
// and the characters that would read as markup escaped when written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lumeval {

/// The code point of an HTML 4 named entity ("amp" gives 38); names are
/// case-sensitive. 0 for a name that is none.
uint32_t HtmlEntityValue(std::string_view name);
/// How many names that table holds.
std::size_t HtmlEntityCount();

/// Decodes named HTML entities (HTML 4's table) and numeric ones
/// ("&#39;", "&#x27;") to UTF-8; "&nbsp;" becomes a plain space. An "&" that
/// does not start a well-formed, known entity, and a numeric entity that is no
/// character (0, a surrogate, past U+10FFFF), are kept as written.
std::string DecodeEntities(std::string_view text);

/// Removes <...> and then {...} tags as KillTag does, then decodes entities,
/// so an escaped "&lt;b&gt;" survives as the text "<b>".
std::string StripMarkupKeepEntities(std::string_view text);

/// Appends `text` with "&", "<" and ">" escaped, for XML element content.
void AppendXmlEscaped(std::string& out, std::string_view text);

/// Appends `text` for a SAMI paragraph: tags the text already carries ("<i>",
/// "</font>", "<font color=\"red\">": "<", an optional "/", an ASCII letter, up
/// to the next ">" with no "<" before it) are copied; every other "<", ">" and
/// every "&" is escaped.
void AppendSamiEscaped(std::string& out, std::string_view text);

}  // namespace lumeval
