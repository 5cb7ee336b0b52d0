#include "editor/ComponentImage.h"

#include <cmath>
#include <vector>

ComponentImage::ComponentImage(int width, int height, juce::Component& source, juce::Point<float> scale,
                               juce::Image::PixelFormat format)
{
    const auto sw = static_cast<float>(source.getWidth());
    const auto sh = static_cast<float>(source.getHeight());
    // Truncation after adding 0.49: a quarter of 630 is 157, not 158.
    const float fw = sw * scale.x + 0.49f;
    const float fh = sh * scale.y + 0.49f;
    const int iw = std::isfinite(fw) && fw >= 1.0f ? static_cast<int>(fw) : 0;
    const int ih = std::isfinite(fh) && fh >= 1.0f ? static_cast<int>(fh) : 0;

    setSize(width, height);
    setInterceptsMouseClicks(false, false);

    sourcePosition = source.getPosition().toFloat();
    sourceSize = {sw, sh};
    centre = sourcePosition + sourceSize * 0.5f;
    if (iw <= 0 || ih <= 0) return;

    image = juce::Image(format == juce::Image::RGB ? juce::Image::ARGB : format, iw, ih, true);
    pixelScale = {sw / static_cast<float>(iw), sh / static_cast<float>(ih)};
    {
        juce::Graphics g(image);
        g.addTransform(
            juce::AffineTransform::scale(static_cast<float>(iw) / sw, static_cast<float>(ih) / sh));
        source.paintEntireComponent(g, true);
    }
    drawTransform = juce::AffineTransform::scale(pixelScale.x, pixelScale.y)
                        .translated(sourcePosition.x, sourcePosition.y);
    opacity = 1.0f;
}

ComponentImage::~ComponentImage() = default;

void ComponentImage::blur(float sigma, int size)
{
    if (!image.isValid()) return;
    const int n = size > 0 ? size : 0;
    const int h = n / 2;
    std::vector<float> kernel(static_cast<size_t>(n) * static_cast<size_t>(n), 0.0f);
    double sum = 0.0;
    if (sigma > 0.0f && std::isfinite(sigma))
    {
        const double twoSigmaSq = 2.0 * static_cast<double>(sigma) * static_cast<double>(sigma);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
            {
                const double d = static_cast<double>((j - h) * (j - h) + (i - h) * (i - h));
                kernel[static_cast<size_t>(i * n + j)] = static_cast<float>(std::exp(-d / twoSigmaSq));
                sum += kernel[static_cast<size_t>(i * n + j)];
            }
    }
    if (n > 0 && !(sum > 0.0 && std::isfinite(sum)))
    {
        // The narrowest kernel: all weight in the middle.
        kernel[static_cast<size_t>(h * n + h)] = 1.0f;
        sum = 1.0;
    }
    for (auto& k : kernel)
        k = static_cast<float>(k / sum);

    image.duplicateIfShared();
    const juce::Image::BitmapData bits(image, juce::Image::BitmapData::readWrite);
    const int channels = bits.pixelStride;
    std::vector<float> acc(static_cast<size_t>(channels));
    for (int y = 0; y < bits.height; ++y)
        for (int x = 0; x < bits.width; ++x)
        {
            std::fill(acc.begin(), acc.end(), 0.0f);
            for (int i = 0; i < n; ++i)
            {
                const int sy = y + i - h;
                if (sy >= bits.height) break;
                if (sy < 0) continue;
                for (int j = 0; j < n; ++j)
                {
                    const int sx = x + j - h;
                    if (sx < 0) continue;
                    if (sx >= bits.width) break;
                    const float k = kernel[static_cast<size_t>(i * n + j)];
                    const juce::uint8* src = bits.getPixelPointer(sx, sy);
                    for (int c = 0; c < channels; ++c)
                        acc[static_cast<size_t>(c)] += k * static_cast<float>(src[c]);
                }
            }
            juce::uint8* dst = bits.getPixelPointer(x, y);
            for (int c = 0; c < channels; ++c)
            {
                const float v = std::nearbyint(acc[static_cast<size_t>(c)]);
                dst[c] = static_cast<juce::uint8>(v > 255.0f ? 255.0f : v);
            }
        }
}

void ComponentImage::setPinch(float amount, float angle)
{
    const float a = std::fabs(amount);
    const float k = a < 1.0f ? 1.0f - a : 0.0f; // also 0 for an amount that is not a number
    opacity = std::pow(k, 0.6f);
    const float s = std::sin(angle);
    const float c = std::cos(angle);
    const float m00 = s * s + k * c * c;
    const float m01 = (1.0f - k) * s * c;
    const float m11 = c * c + k * s * s;
    // p -> M (p - centre) + centre + sourcePosition
    const juce::Point<float> t = centre + sourcePosition;
    drawTransform = juce::AffineTransform(m00, m01, t.x - (m00 * centre.x + m01 * centre.y), m01, m11,
                                          t.y - (m01 * centre.x + m11 * centre.y));
}

void ComponentImage::paint(juce::Graphics& g)
{
    if (!image.isValid() || !(opacity > 0.0f)) return;
    g.setOpacity(opacity);
    g.setImageResamplingQuality(juce::Graphics::mediumResamplingQuality);
    g.drawImageTransformed(image, drawTransform);
}
