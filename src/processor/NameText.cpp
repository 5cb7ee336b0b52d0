#include "processor/NameText.h"

#include <cstring>
#include <limits>

std::optional<juce::String> fileNameText(const std::string& name)
{
    if (name.size() > static_cast<size_t>(std::numeric_limits<int>::max()) ||
        !juce::CharPointer_UTF8::isValidString(name.data(), static_cast<int>(name.size())) ||
        std::strlen(name.c_str()) != name.size())
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

juce::String nameToShow(const char* field, size_t size)
{
    const size_t length = strnlen(field, size);
    juce::String shown;
    for (size_t i = 0; i < length;)
    {
        const auto lead = static_cast<unsigned char>(field[i]);
        const size_t n = lead >= 0xC2 && lead < 0xE0   ? 2
                         : lead >= 0xE0 && lead < 0xF0 ? 3
                         : lead >= 0xF0 && lead < 0xF5 ? 4
                                                       : 1;
        if (n > 1 && i + n <= length && juce::CharPointer_UTF8::isValidString(field + i, static_cast<int>(n)))
        {
            shown += juce::String::fromUTF8(field + i, static_cast<int>(n));
            i += n;
        }
        else
        {
            shown += static_cast<juce::juce_wchar>(lead);
            ++i;
        }
    }
    return shown;
}
