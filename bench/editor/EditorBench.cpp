// Prints the median time to render the whole editor at 720 × 540 into an image (300 frames, the
// overlay's band moving each frame as it does on screen), then at 150 % and 200 %, and beside it the two cached layers,
// the editor's background and the overlay's vignette, drawn from scratch and from their caches.
#include "core/PluginProcessor.h"
#include "editor/Background.h"
#include "editor/CRTOverlay.h"
#include "editor/PluginEditor.h"

#include <juce_events/juce_events.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace
{
template <typename Fn>
double medianMs (int runs, Fn&& fn)
{
    std::vector<double> times;
    times.reserve ((size_t) runs);
    for (int i = 0; i < runs; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        fn (i);
        times.push_back (std::chrono::duration<double, std::milli> (std::chrono::steady_clock::now() - start).count());
    }
    std::sort (times.begin(), times.end());
    return times[times.size() / 2];
}
} // namespace

int main()
{
    juce::ScopedJuceInitialiser_GUI juce;
    constexpr int frames = 300;

    KestruneProcessor processor;
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditor());
    editor->setVisible (true);

    CRTOverlay* overlay = nullptr;
    for (auto* child : editor->getChildren())
        if (auto* o = dynamic_cast<CRTOverlay*> (child))
            overlay = o;

    juce::Image frame (juce::Image::ARGB, editor->getWidth(), editor->getHeight(), true);

    const auto fullFrame = medianMs (frames, [&] (int)
    {
        if (overlay != nullptr)
            overlay->timerCallback();
        juce::Graphics g (frame);
        editor->paintEntireComponent (g, true);
    });

    // On a high-density screen the editor is drawn at the screen's scale into a larger frame.
    const auto scaledFrame = [&] (float scale)
    {
        juce::Image big (juce::Image::ARGB, juce::roundToInt (720 * scale), juce::roundToInt (540 * scale), true);
        return medianMs (frames / 3, [&] (int)
        {
            if (overlay != nullptr)
                overlay->timerCallback();
            juce::Graphics g (big);
            g.addTransform (juce::AffineTransform::scale (scale));
            editor->paintEntireComponent (g, true);
        });
    };
    const auto frameAt150 = scaledFrame (1.5f);
    const auto frameAt200 = scaledFrame (2.0f);

    const auto backgroundDirect = medianMs (frames, [&] (int i)
    {
        juce::Graphics g (frame);
        paintEditorBackground (g, 720, 540, i % 8);
    });

    juce::Image cached (juce::Image::ARGB, 720, 540, true);
    {
        juce::Graphics g (cached);
        paintEditorBackground (g, 720, 540, 0);
    }
    const auto backgroundBlit = medianMs (frames, [&] (int)
    {
        juce::Graphics g (frame);
        g.drawImageAt (cached, 0, 0);
    });

    CRTOverlay vignetteOverlay;
    vignetteOverlay.setSize (720, 540);
    const auto vignetteDirect = medianMs (frames, [&] (int)
    {
        juce::Graphics g (frame);
        CRTOverlay::fillVignette (g, 720, 540);
    });
    const auto vignetteCached = medianMs (frames, [&] (int)
    {
        juce::Graphics g (frame);
        vignetteOverlay.drawCachedVignette (g);
    });

    std::printf ("editor full frame 720x540: median %.3f ms over %d frames (goal <= 3 ms)\n", fullFrame, frames);
    std::printf ("editor full frame at 150 %%: median %.3f ms; at 200 %%: %.3f ms (%.1fx and %.1fx the frame at 100 %%)\n",
                 frameAt150, frameAt200, frameAt150 / juce::jmax (1.0e-6, fullFrame), frameAt200 / juce::jmax (1.0e-6, fullFrame));
    std::printf ("background painted directly: median %.3f ms\n", backgroundDirect);
    std::printf ("background from the cache:   median %.3f ms (%.1fx faster)\n", backgroundBlit,
                 backgroundDirect / juce::jmax (1.0e-6, backgroundBlit));
    std::printf ("vignette filled directly:    median %.3f ms\n", vignetteDirect);
    std::printf ("vignette from the cache:     median %.3f ms (%.1fx faster)\n", vignetteCached,
                 vignetteDirect / juce::jmax (1.0e-6, vignetteCached));
    std::printf ("full frame without either cache, estimated: %.3f ms\n",
                 fullFrame + (backgroundDirect - backgroundBlit) + (vignetteDirect - vignetteCached));
    return 0;
}
