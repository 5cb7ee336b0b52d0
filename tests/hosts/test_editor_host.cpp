// Opens and closes the built VST3's and LV2's editor through JUCE's own hosting, twice in one
// process as a host does, and checks the LV2 bundle's description with lv2_validate.
#include <memory>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "HostedPlugin.h"

class EditorHostTest : public ::testing::TestWithParam<bool>
{
};

TEST_P(EditorHostTest, OpensAndClosesTheEditorTwice)
{
    juce::String error;
    auto plugin = qmhost::load(GetParam(), error);
    ASSERT_NE(plugin, nullptr) << error;
    for (int round = 0; round < 2; ++round)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor(plugin->createEditorIfNeeded());
        ASSERT_NE(editor, nullptr) << "round " << round;
        // The virtual display has 96 dpi at scale 1: the design size.
        EXPECT_EQ(editor->getBounds(), juce::Rectangle<int>(0, 0, 630, 504)) << "round " << round;
        editor->addToDesktop(0);
        editor->setVisible(true);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EditorHostTest, ::testing::Bool(), qmhost::formatName);

TEST(EditorHost, Lv2DescriptionOnlyHasTheKnownFindings)
{
    // The validator's findings on the bundle before it had an editor: two DOAP domain notes and the
    // wrapper's program property. The editor's description must add none.
    const juce::StringArray known{"Subject not in domain <http://usefulinc.com/ns/doap#Project>",
                                  "Use of undefined property", "has no label"};
    juce::StringArray command{"lv2_validate"};
    for (const auto& ttl :
         juce::File(QM_LV2_BUNDLE_DIR).findChildFiles(juce::File::findFiles, false, "*.ttl"))
        command.add(ttl.getFullPathName());
    EXPECT_TRUE(command.contains(juce::File(QM_LV2_BUNDLE_DIR).getChildFile("ui.ttl").getFullPathName()));
    juce::ChildProcess validator;
    ASSERT_TRUE(validator.start(command));
    const juce::String output = validator.readAllProcessOutput();
    EXPECT_TRUE(output.contains("Found ")) << output;
    for (const auto& line : juce::StringArray::fromLines(output))
    {
        bool listed = !line.startsWith("error:");
        for (const auto& k : known)
            listed = listed || line.contains(k);
        EXPECT_TRUE(listed) << line;
    }
}
