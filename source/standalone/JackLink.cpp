#include "standalone/JackLink.h"

#include "core/PluginProcessor.h"

#include <juce_audio_utils/juce_audio_utils.h>
#include <juce_gui_extra/juce_gui_extra.h>
#include <juce_audio_plugin_client/detail/juce_CreatePluginFilter.h>
#include <juce_audio_plugin_client/Standalone/juce_StandaloneFilterWindow.h>

namespace
{
constexpr auto jackTypeName = "JACK";
// How often the app checks that its processor takes the port's events and that the server is there.
constexpr int checkIntervalMs = 500;
} // namespace

JackLink::JackLink()
{
    juce::setJackMidiInputHook (this);
}

JackLink::~JackLink()
{
    stopTimer();
    juce::setJackMidiInputHook (nullptr);
}

void JackLink::attach (juce::StandalonePluginHolder* newHolder)
{
    holder = newHolder;
    fed = nullptr;

    if (holder == nullptr)
    {
        stopTimer();
        return;
    }

    feedProcessor();
    startTimer (checkIntervalMs);
}

void JackLink::timerCallback()
{
    feedProcessor();
    rejoinServer();
}

// "Reset to default state" makes a new processor: it takes the port's events from the next check on.
void JackLink::feedProcessor()
{
    auto* processor = dynamic_cast<KestruneProcessor*> (holder->processor.get());

    if (processor != nullptr && processor != fed)
        processor->setCycleMidi (&cycle);

    fed = processor;
}

// When the server stops, the framework's device closes but stays the current one. Once a server
// with the chosen ports runs again, the same setup opens a new device on it.
void JackLink::rejoinServer()
{
    auto& devices = holder->deviceManager;

    if (devices.getCurrentAudioDeviceType() != jackTypeName)
        return;

    if (auto* device = devices.getCurrentAudioDevice(); device != nullptr && device->isOpen())
        return;

    const auto setup = devices.getAudioDeviceSetup();
    auto* type = devices.getCurrentDeviceTypeObject();

    if (type == nullptr || (setup.outputDeviceName.isEmpty() && setup.inputDeviceName.isEmpty()))
        return;

    type->scanForDevices();   // a probe client, which fails at once while no server runs
    const auto names = type->getDeviceNames (setup.outputDeviceName.isEmpty());

    if (! names.contains (setup.outputDeviceName.isEmpty() ? setup.inputDeviceName : setup.outputDeviceName))
        return;

    devices.closeAudioDevice();
    devices.restartLastAudioDevice();
}
