#pragma once
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The small JSON of the state files: the writer's escaping, and a reader that takes every file
// the writer produces (any bytes in strings, escapes decoded) yet stays tolerant of hand edits:
// other key orders, extra keys and whitespace are fine, and text that is not JSON yields nothing.
namespace Sorvane {

// Escapes a value byte by byte: \" \\ \b \f \n \r \t, other bytes below 0x20 as \u00XX, the
// rest (UTF-8 included) unchanged; '/' is not escaped.
std::string JsonEscape(std::string_view value);

// A JSON object's string members (members of other types are skipped).
using JsonStringMembers = std::map<std::string, std::string>;

// Every well-formed object found in `text`, in order, at any nesting depth of arrays; an object
// that breaks off is skipped and scanning resumes after its opening brace.
std::vector<JsonStringMembers> ReadJsonObjects(std::string_view text);

// The lenient key scan for text that is not well-formed: the string after the first "key", its
// colon and the next double quote, up to the next unescaped quote. A missing key, colon or quote,
// or a string that never ends, gives the empty string.
std::string JsonFindString(std::string_view text, std::string_view key);

}  // namespace Sorvane
