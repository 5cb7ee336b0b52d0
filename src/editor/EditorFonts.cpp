#include "editor/EditorFonts.h"

#include <array>

#include "QuillmoorBinaryData.h"

namespace
{
struct FontData
{
    const char* data;
    int size;
};

FontData fontDataFor(EditorFace face)
{
    switch (face)
    {
    case EditorFace::robotoBlack:
        return {QuillmoorBinaryData::RobotoBlack_ttf, QuillmoorBinaryData::RobotoBlack_ttfSize};
    case EditorFace::robotoBold:
        return {QuillmoorBinaryData::RobotoBold_ttf, QuillmoorBinaryData::RobotoBold_ttfSize};
    case EditorFace::robotoMono:
        return {QuillmoorBinaryData::RobotoMonoRegular_ttf, QuillmoorBinaryData::RobotoMonoRegular_ttfSize};
    case EditorFace::montserratSemiBold:
        return {QuillmoorBinaryData::MontserratSemiBold_ttf, QuillmoorBinaryData::MontserratSemiBold_ttfSize};
    case EditorFace::robotoMedium:
        break;
    }
    return {QuillmoorBinaryData::RobotoMedium_ttf, QuillmoorBinaryData::RobotoMedium_ttfSize};
}

// Released with the framework's other GUI singletons, while the font engine still exists (a plain
// static would outlive it).
class EditorTypefaces : public juce::DeletedAtShutdown
{
  public:
    ~EditorTypefaces() override { clearSingletonInstance(); }

    juce::Typeface::Ptr get(EditorFace face)
    {
        auto& slot = faces[static_cast<size_t>(face)];
        if (slot == nullptr)
        {
            const FontData font = fontDataFor(face);
            slot = juce::Typeface::createSystemTypefaceFor(font.data, static_cast<size_t>(font.size));
        }
        return slot;
    }

    JUCE_DECLARE_SINGLETON_SINGLETHREADED_MINIMAL(EditorTypefaces)

  private:
    std::array<juce::Typeface::Ptr, 5> faces;
};

JUCE_IMPLEMENT_SINGLETON(EditorTypefaces)
} // namespace

juce::Typeface::Ptr getEditorTypeface(EditorFace face)
{
    return EditorTypefaces::getInstance()->get(face);
}

juce::Font getEditorFont(EditorFace face, float height)
{
    return juce::Font(getEditorTypeface(face)).withHeight(height);
}

const void* getLogoSvgData() noexcept
{
    return QuillmoorBinaryData::logo_svg;
}

size_t getLogoSvgSize() noexcept
{
    return static_cast<size_t>(QuillmoorBinaryData::logo_svgSize);
}
