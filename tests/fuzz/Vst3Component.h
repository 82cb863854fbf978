#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The built VST3 bundle's component, loaded as a host loads it (its module opened, its factory asked
// for the audio component), so that states reach the framework's own VST3 wrapper before our code.
// Kept apart from the fuzzers so that the VST3 SDK's headers meet no JUCE headers.
namespace fuzz
{
// How the host's stream hands over the bytes: hosts differ in all of these.
struct StreamStyle
{
    bool sizeable = true;             // answers for its size (ISizeableStream), as most hosts' streams do
    std::optional<std::int64_t> reportedSize;   // the size it claims when sizeable, if not the true one
    int chunk = 0;                    // the most one read hands over; 0 for everything asked
};

class Vst3Component
{
public:
    // Throws std::runtime_error with the reason when the module or its component cannot be had.
    explicit Vst3Component (const std::string& modulePath);
    ~Vst3Component();

    // IComponent::setState with a stream over the bytes; true when the component answers kResultTrue.
    bool setState (const std::vector<unsigned char>& bytes, const StreamStyle& style);
    // IComponent::getState: the whole stream the component writes.
    std::vector<unsigned char> getState();

private:
    struct Module;
    std::unique_ptr<Module> module;
};
} // namespace fuzz
