#pragma once

// The framework writes a saved state (an LV2 host's StateString property, the Standalone's
// "filterState" setting) as text: the block's byte count in decimal, a '.', then six bits per
// character. Its decoder allocates that count before it reads a character, trusting it whatever
// it says.
//
// True when `text` (NUL-terminated) starts with a count the framework itself could have written
// for it: only decimal digits, within an int, and no more bytes than the characters after the '.'
// can carry (three bytes per four characters).
bool isPlausibleSavedStateText(const char* text);

// The linker symbol of juce::MemoryBlock::fromBase64Encoding(juce::StringRef). Every binary
// that links the shared code is linked with --wrap of it (src/processor/CMakeLists.txt), so each
// of the framework's calls (the LV2 wrapper's state restore, the Standalone's saved settings)
// goes through the check above first, and text that fails it is refused without allocating.
#define QM_FROM_BASE64_SYMBOL "_ZN4juce11MemoryBlock18fromBase64EncodingENS_9StringRefE"
