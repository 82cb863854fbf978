#pragma once

#include <cstddef>
#include <string_view>

// A saved state comes from a project or preset file the user may have been sent by anyone, and the
// framework's XML parser trusts its input: bad UTF-8 makes it read past the buffer, DTD entities
// expand without bound, deep nesting exhausts the stack, a stray processing instruction never ends.
// So a block is checked against the small, plain shape our own states have before any parser sees
// it; anything else is refused whole.
namespace kestrune::stateguard
{
// Our states are under a kilobyte; nothing a host keeps for us comes close to this.
constexpr int maxBlockBytes = 64 * 1024;

// Our states nest two deep (the tree and its PARAM children) with two attributes an element; the
// spare levels and attributes let a later version add a little without older builds refusing it.
constexpr int maxDepth = 4;
constexpr int maxAttributes = 16;

// The XML text of a block in the framework's binary XML layout (magic number, signed length, text),
// read the way the framework reads it: the smaller of the stored length and what follows, up to the
// first zero byte. Empty when the block is too short, too large, has another magic number or a
// length that is not positive.
std::string_view textOfBlock (const void* data, int sizeInBytes) noexcept;

// Strict UTF-8 (no overlong forms, surrogates, code points past U+10FFFF or stray continuation bytes)
// with none of the control characters XML forbids.
bool isStrictUtf8 (std::string_view text) noexcept;

// True when the text is plain XML of the shape our states have: an optional XML declaration first,
// then one element of elements and text, ending the text. Refused: DTDs and every other markup
// declaration, comments and CDATA, processing instructions after the declaration, entity references
// other than the five predefined ones and numeric references to legal characters, nesting deeper
// than maxDepth, more than maxAttributes attributes on an element, a repeated attribute, an
// attribute named base64:..., mismatched tags, and anything after the root element but whitespace.
// Assumes strict UTF-8 (check that first).
bool isPlainStateXml (std::string_view text) noexcept;

// The XML text of a block that passes every check above, or an empty view.
std::string_view acceptedStateText (const void* data, int sizeInBytes) noexcept;
} // namespace kestrune::stateguard
