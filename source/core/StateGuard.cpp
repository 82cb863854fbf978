#include "core/StateGuard.h"

#include <juce_core/juce_core.h>

#include <cstdint>
#include <cstring>

namespace kestrune::stateguard
{
namespace
{
constexpr std::uint32_t binaryXmlMagic = 0x21324356;

bool isXmlSpace (char c) noexcept { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isAsciiLetter (char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit (char c) noexcept { return c >= '0' && c <= '9'; }
bool isHexDigit (char c) noexcept { return isDigit (c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue (char c) noexcept { return isDigit (c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// Code points XML allows in a document (its production Char), here for numeric references.
bool isXmlChar (std::uint32_t c) noexcept
{
    return c == 0x9 || c == 0xa || c == 0xd || (c >= 0x20 && c <= 0xd7ff)
        || (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
}

bool startsWithNoCase (std::string_view s, std::string_view prefix) noexcept
{
    if (s.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if ((s[i] | 0x20) != prefix[i])   // prefix is given in lower case
            return false;
    return true;
}

// A recursive-descent check of the XML subset our states use. Recursion stops at maxDepth, so the
// stack it needs is fixed; every step consumes input, so the time is linear in the text.
class Scanner
{
public:
    explicit Scanner (std::string_view t) noexcept : text (t) {}

    bool document() noexcept
    {
        if (lookingAt ("<?xml") && (isXmlSpace (peek (5)) || peek (5) == '?') && ! declaration())
            return false;

        skipSpace();
        if (! element (1))
            return false;
        skipSpace();
        return pos == text.size();
    }

private:
    char peek (size_t ahead = 0) const noexcept { return pos + ahead < text.size() ? text[pos + ahead] : '\0'; }
    bool lookingAt (std::string_view s) const noexcept { return text.substr (pos, s.size()) == s; }

    bool skipSpace() noexcept
    {
        const auto start = pos;
        while (pos < text.size() && isXmlSpace (text[pos]))
            ++pos;
        return pos != start;
    }

    bool expect (char c) noexcept
    {
        if (pos >= text.size() || text[pos] != c)
            return false;
        ++pos;
        return true;
    }

    // Everything up to "?>", which may not hold markup of its own.
    bool declaration() noexcept
    {
        pos += 5;
        for (; pos + 1 < text.size(); ++pos)
        {
            if (text[pos] == '?' && text[pos + 1] == '>')
            {
                pos += 2;
                return true;
            }
            if (text[pos] == '<' || text[pos] == '&')
                return false;
        }
        return false;
    }

    // ASCII names only: our tags and attributes are plain words.
    bool name (std::string_view& result) noexcept
    {
        const auto start = pos;
        const auto first = peek();
        if (! (isAsciiLetter (first) || first == '_' || first == ':'))
            return false;
        ++pos;
        while (pos < text.size())
        {
            const auto c = text[pos];
            if (! (isAsciiLetter (c) || isDigit (c) || c == '_' || c == ':' || c == '.' || c == '-'))
                break;
            ++pos;
        }
        result = text.substr (start, pos - start);
        return true;
    }

    // At '&': one of the five predefined entities (spelt exactly) or a numeric reference to a legal
    // character, with few enough digits that it cannot overflow.
    bool reference() noexcept
    {
        ++pos;
        for (const std::string_view entity : { "amp;", "lt;", "gt;", "quot;", "apos;" })
        {
            if (lookingAt (entity))
            {
                pos += entity.size();
                return true;
            }
        }

        if (! expect ('#'))
            return false;

        const bool hex = peek() == 'x';
        if (hex)
            ++pos;

        std::uint32_t code = 0;
        int digits = 0;
        for (; pos < text.size() && text[pos] != ';'; ++pos, ++digits)
        {
            const auto c = text[pos];
            if (digits >= (hex ? 6 : 7) || ! (hex ? isHexDigit (c) : isDigit (c)))
                return false;
            code = code * (hex ? 16u : 10u) + (std::uint32_t) (hex ? hexValue (c) : c - '0');
        }
        return digits > 0 && expect (';') && isXmlChar (code);
    }

    bool attributeValue() noexcept
    {
        const auto quote = peek();
        if (quote != '"' && quote != '\'')
            return false;
        ++pos;
        while (pos < text.size())
        {
            const auto c = text[pos];
            if (c == quote)
            {
                ++pos;
                return true;
            }
            if (c == '<')
                return false;
            if (c == '&')
            {
                if (! reference())
                    return false;
            }
            else
            {
                ++pos;
            }
        }
        return false;
    }

    bool element (int depth) noexcept
    {
        if (depth > maxDepth || ! expect ('<'))
            return false;

        std::string_view tag;
        if (! name (tag))
            return false;

        std::string_view attributes[maxAttributes];
        int numAttributes = 0;

        for (;;)
        {
            const bool spaced = skipSpace();
            if (lookingAt ("/>"))
            {
                pos += 2;
                return true;
            }
            if (expect ('>'))
                break;

            std::string_view attribute;
            if (! spaced || ! name (attribute) || numAttributes == maxAttributes
                || startsWithNoCase (attribute, "base64:"))
                return false;
            for (int i = 0; i < numAttributes; ++i)
                if (attributes[i] == attribute)
                    return false;
            attributes[numAttributes++] = attribute;

            skipSpace();
            if (! expect ('='))
                return false;
            skipSpace();
            if (! attributeValue())
                return false;
        }

        while (pos < text.size())
        {
            const auto c = text[pos];
            if (c == '<')
            {
                if (peek (1) == '/')
                {
                    pos += 2;
                    std::string_view closing;
                    if (! name (closing) || closing != tag)
                        return false;
                    skipSpace();
                    return expect ('>');
                }
                // Markup declarations (DTDs, comments, CDATA) and processing instructions.
                if (peek (1) == '!' || peek (1) == '?')
                    return false;
                if (! element (depth + 1))
                    return false;
            }
            else if (c == '&')
            {
                if (! reference())
                    return false;
            }
            else
            {
                ++pos;
            }
        }
        return false;
    }

    std::string_view text;
    size_t pos = 0;
};
} // namespace

std::string_view textOfBlock (const void* data, int sizeInBytes) noexcept
{
    if (data == nullptr || sizeInBytes <= 8 || sizeInBytes > maxBlockBytes)
        return {};

    const auto* bytes = static_cast<const unsigned char*> (data);
    if (juce::ByteOrder::littleEndianInt (bytes) != binaryXmlMagic)
        return {};

    const auto storedLength = (std::int32_t) juce::ByteOrder::littleEndianInt (bytes + 4);
    if (storedLength <= 0)
        return {};

    const auto* text = reinterpret_cast<const char*> (bytes + 8);
    auto length = (size_t) (storedLength < sizeInBytes - 8 ? storedLength : sizeInBytes - 8);
    if (const auto* zero = std::memchr (text, 0, length))
        length = (size_t) (static_cast<const char*> (zero) - text);
    return { text, length };
}

bool isStrictUtf8 (std::string_view text) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*> (text.data());
    const auto* end = p + text.size();

    while (p < end)
    {
        const auto c = *p;
        if (c < 0x80)
        {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
                return false;
            ++p;
            continue;
        }

        // The well-formed sequences of the Unicode standard (its table 3-7): the second byte's
        // range depends on the first, which rules out overlong forms, surrogates and code points
        // past U+10FFFF.
        int length = 0;
        unsigned char low = 0x80, high = 0xbf;
        if (c >= 0xc2 && c <= 0xdf)      { length = 2; }
        else if (c == 0xe0)              { length = 3; low = 0xa0; }
        else if (c == 0xed)              { length = 3; high = 0x9f; }
        else if (c >= 0xe1 && c <= 0xef) { length = 3; }
        else if (c == 0xf0)              { length = 4; low = 0x90; }
        else if (c == 0xf4)              { length = 4; high = 0x8f; }
        else if (c >= 0xf1 && c <= 0xf3) { length = 4; }
        else return false;

        if (end - p < length || p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i)
            if (p[i] < 0x80 || p[i] > 0xbf)
                return false;
        p += length;
    }
    return true;
}

bool isPlainStateXml (std::string_view text) noexcept
{
    return Scanner (text).document();
}

std::string_view acceptedStateText (const void* data, int sizeInBytes) noexcept
{
    const auto text = textOfBlock (data, sizeInBytes);
    if (text.empty() || ! isStrictUtf8 (text) || ! isPlainStateXml (text))
        return {};
    return text;
}
} // namespace kestrune::stateguard
