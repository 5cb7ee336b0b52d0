#include "processor/NameText.h"

#include <cstring>
#include <limits>

namespace
{
// The length of the strict UTF-8 character that starts at p, with size bytes there; 0 when the bytes
// there are none (a zero byte, a stray continuation byte, an overlong form, a surrogate, a value above
// U+10FFFF, a sequence cut short).
size_t characterLength(const unsigned char* p, size_t size) noexcept
{
    if (size == 0 || p[0] == 0) return 0;
    if (p[0] < 0x80) return 1;
    const auto continues = [&](size_t i, unsigned char low = 0x80, unsigned char high = 0xBF)
    { return i < size && p[i] >= low && p[i] <= high; };
    const unsigned char lead = p[0];
    if (lead >= 0xC2 && lead <= 0xDF) return continues(1) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF)
    {
        // E0 below A0 is overlong, ED from A0 a surrogate.
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
        return continues(1, low, high) && continues(2) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4)
    {
        // F0 below 90 is overlong, F4 from 90 beyond U+10FFFF.
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
        return continues(1, low, high) && continues(2) && continues(3) ? 4 : 0;
    }
    return 0;
}
} // namespace

bool isStrictUtf8(const char* bytes, size_t size) noexcept
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < size;)
    {
        const size_t n = characterLength(p + i, size - i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string rawBytesOf(const juce::String& text)
{
    return std::string(text.toRawUTF8());
}

std::optional<juce::String> fileNameText(const std::string& name)
{
    if (name.size() > static_cast<size_t>(std::numeric_limits<int>::max()) ||
        !isStrictUtf8(name.data(), name.size()))
        return std::nullopt;
    return juce::String::fromUTF8(name.data(), static_cast<int>(name.size()));
}

juce::File childOf(const juce::File& folder, const juce::String& name)
{
    const juce::String path = folder.getFullPathName();
    return juce::File(path.endsWithChar('/') ? path + name : path + "/" + name);
}

bool hasExtension(const std::string& name, const char* extension)
{
    const size_t n = std::strlen(extension);
    if (name.size() < n) return false;
    // ASCII only: the host's locale must not decide what a byte means.
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < n; ++i)
        if (lower(name[name.size() - n + i]) != lower(extension[i])) return false;
    return true;
}

bool endsWithBytes(const std::string& path, const char* end)
{
    const size_t n = std::strlen(end);
    return path.size() >= n && path.compare(path.size() - n, n, end) == 0;
}

juce::String nameToShow(const char* field, size_t size)
{
    const size_t length = strnlen(field, size);
    const auto* bytes = reinterpret_cast<const unsigned char*>(field);
    juce::String shown;
    for (size_t i = 0; i < length;)
    {
        if (const size_t n = characterLength(bytes + i, length - i); n > 1)
        {
            shown += juce::String::fromUTF8(field + i, static_cast<int>(n));
            i += n;
        }
        else
        {
            shown += static_cast<juce::juce_wchar>(bytes[i]);
            ++i;
        }
    }
    return shown;
}
