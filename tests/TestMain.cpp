#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

// Every test binary runs with JUCE initialised on the main thread, which is then the message thread.
int main (int argc, char** argv)
{
    testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
