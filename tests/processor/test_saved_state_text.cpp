// The framework's decoder of saved-state text as every binary linking the shared code reaches it
// (the LV2 wrapper's restore and the Standalone's saved settings among them): the byte count the
// text starts with is checked before anything is allocated for it.
#include <gtest/gtest.h>
#include <juce_core/juce_core.h>

TEST(SavedStateText, ByteCountsTheTextCannotHoldAreRefusedBeforeDecoding)
{
    juce::MemoryBlock original;
    original.append("a state", 7);
    const juce::String written = original.toBase64Encoding();
    const juce::String data = written.fromFirstOccurrenceOf(".", false, false);
    const int mostItCanHold = data.length() * 3 / 4;
    ASSERT_EQ(written, juce::String(mostItCanHold) + "." + data);

    const struct
    {
        juce::String text;
        bool decodes;
    } cases[] = {{written, true},
                 {"0.", true},
                 {juce::String(mostItCanHold + 1) + "." + data, false},
                 {"-1." + data, false},
                 {"+7." + data, false},
                 {" 7." + data, false},
                 {"." + data, false},
                 {data, false},
                 {"2147483648." + data, false},
                 {"4294967295." + data, false},
                 {"18446744073709551615." + data, false}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.text);
        juce::MemoryBlock block("kept", 4);
        EXPECT_EQ(block.fromBase64Encoding(c.text), c.decodes);
        if (!c.decodes)
        {
            EXPECT_EQ(block, juce::MemoryBlock("kept", 4)) << "a refused text leaves the block alone";
        }
    }
    juce::MemoryBlock decoded;
    ASSERT_TRUE(decoded.fromBase64Encoding(written));
    EXPECT_EQ(decoded, original);
}
