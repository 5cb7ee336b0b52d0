// The check that stands before the framework's decoding of saved-state text.

#include "processor/SavedStateText.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include <juce_core/juce_core.h>

bool isPlausibleSavedStateText(const char* text)
{
    if (text == nullptr) return false;
    const char* dot = std::strchr(text, '.');
    if (dot == nullptr) return false;
    const std::size_t digits = static_cast<std::size_t>(dot - text);
    // INT_MAX has ten digits; more could only overflow the framework's int parse.
    if (digits == 0 || digits > 10) return false;
    std::uint64_t count = 0;
    for (std::size_t i = 0; i < digits; ++i)
    {
        if (text[i] < '0' || text[i] > '9') return false;
        count = count * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    const std::uint64_t encodedChars = std::strlen(dot + 1);
    return count <= static_cast<std::uint64_t>(INT_MAX) && count <= encodedChars * 3 / 4;
}

// The framework's own decoder, reached through the name the linker gives it under --wrap, and the
// guard every other call reaches instead. A member function's object is its first argument.
bool frameworkFromBase64Encoding(juce::MemoryBlock& block,
                                 juce::StringRef text) __asm__("__real_" QM_FROM_BASE64_SYMBOL);
bool guardedFromBase64Encoding(juce::MemoryBlock& block,
                               juce::StringRef text) __asm__("__wrap_" QM_FROM_BASE64_SYMBOL);

bool guardedFromBase64Encoding(juce::MemoryBlock& block, juce::StringRef text)
{
    if (!isPlausibleSavedStateText(text.text.getAddress())) return false;
    return frameworkFromBase64Encoding(block, text);
}
