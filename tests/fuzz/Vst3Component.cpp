#include "Vst3Component.h"

#include <pluginterfaces/base/ibstream.h>
#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace fuzz
{
namespace
{
using namespace Steinberg;

bool sameId (const TUID a, const TUID b) { return std::memcmp (a, b, sizeof (TUID)) == 0; }

// A host's stream over a state: it reads what it holds, in the pieces and with the size its style
// says, and takes what the component writes.
class Stream final : public IBStream, public ISizeableStream
{
public:
    Stream (std::vector<unsigned char>& b, const StreamStyle& s) : bytes (b), style (s) {}

    tresult PLUGIN_API queryInterface (const TUID id, void** obj) override
    {
        if (sameId (id, FUnknown_iid) || sameId (id, IBStream_iid))
            *obj = static_cast<IBStream*> (this);
        else if (sameId (id, ISizeableStream_iid) && style.sizeable)
            *obj = static_cast<ISizeableStream*> (this);
        else
        {
            *obj = nullptr;
            return kNoInterface;
        }
        ++references;
        return kResultOk;
    }
    // The stream lives on the caller's stack: counting is all a reference does.
    uint32 PLUGIN_API addRef() override { return (uint32) ++references; }
    uint32 PLUGIN_API release() override { return (uint32) --references; }

    tresult PLUGIN_API read (void* buffer, int32 numBytes, int32* numBytesRead) override
    {
        auto n = std::min<std::int64_t> (std::max (numBytes, 0), (std::int64_t) bytes.size() - position);
        if (style.chunk > 0)
            n = std::min<std::int64_t> (n, style.chunk);
        if (n > 0)
            std::memcpy (buffer, bytes.data() + position, (size_t) n);
        position += n;
        if (numBytesRead != nullptr)
            *numBytesRead = (int32) n;
        return kResultOk;
    }

    tresult PLUGIN_API write (void* buffer, int32 numBytes, int32* numBytesWritten) override
    {
        const auto* from = static_cast<const unsigned char*> (buffer);
        bytes.resize (std::max (bytes.size(), (size_t) position + (size_t) numBytes));
        std::copy (from, from + numBytes, bytes.begin() + position);
        position += numBytes;
        if (numBytesWritten != nullptr)
            *numBytesWritten = numBytes;
        return kResultOk;
    }

    tresult PLUGIN_API seek (int64 pos, int32 mode, int64* result) override
    {
        const auto base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? position : (std::int64_t) bytes.size();
        position = std::clamp<std::int64_t> (base + pos, 0, (std::int64_t) bytes.size());
        if (result != nullptr)
            *result = position;
        return kResultOk;
    }

    tresult PLUGIN_API tell (int64* pos) override
    {
        if (pos != nullptr)
            *pos = position;
        return kResultOk;
    }

    tresult PLUGIN_API getStreamSize (int64& size) override
    {
        size = style.reportedSize.value_or ((int64) bytes.size());
        return kResultOk;
    }
    tresult PLUGIN_API setStreamSize (int64) override { return kNotImplemented; }

    int references = 1;

private:
    std::vector<unsigned char>& bytes;
    StreamStyle style;
    std::int64_t position = 0;
};
} // namespace

struct Vst3Component::Module
{
    void* handle = nullptr;
    bool (*exit)() = nullptr;
    IPluginFactory* factory = nullptr;
    Vst::IComponent* component = nullptr;
};

Vst3Component::Vst3Component (const std::string& modulePath) : module (std::make_unique<Module>())
{
    auto& m = *module;
    m.handle = dlopen (modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (m.handle == nullptr)
        throw std::runtime_error (std::string ("cannot open the VST3 module: ") + dlerror());

    auto* entry = reinterpret_cast<bool (*) (void*)> (dlsym (m.handle, "ModuleEntry"));
    m.exit = reinterpret_cast<bool (*)()> (dlsym (m.handle, "ModuleExit"));
    auto* getFactory = reinterpret_cast<IPluginFactory* (*)()> (dlsym (m.handle, "GetPluginFactory"));
    if (entry == nullptr || m.exit == nullptr || getFactory == nullptr || ! entry (m.handle))
        throw std::runtime_error ("the VST3 module has no working entry points");

    m.factory = getFactory();
    for (int32 i = 0; m.factory != nullptr && i < m.factory->countClasses() && m.component == nullptr; ++i)
    {
        PClassInfo info {};
        if (m.factory->getClassInfo (i, &info) == kResultOk && std::strcmp (info.category, kVstAudioEffectClass) == 0)
            m.factory->createInstance (info.cid, Vst::IComponent_iid, reinterpret_cast<void**> (&m.component));
    }
    if (m.component == nullptr || m.component->initialize (nullptr) != kResultOk)
        throw std::runtime_error ("the VST3 module gave no audio component");
}

Vst3Component::~Vst3Component()
{
    auto& m = *module;
    if (m.component != nullptr)
    {
        m.component->terminate();
        m.component->release();
    }
    if (m.factory != nullptr)
        m.factory->release();
    if (m.exit != nullptr)
        m.exit();
    // The module stays mapped: the sanitizers name its frames in any report made at exit.
}

bool Vst3Component::setState (const std::vector<unsigned char>& bytes, const StreamStyle& style)
{
    auto copy = bytes;
    Stream stream (copy, style);
    return module->component->setState (&stream) == kResultTrue;
}

std::vector<unsigned char> Vst3Component::getState()
{
    std::vector<unsigned char> bytes;
    Stream stream (bytes, {});
    module->component->getState (&stream);
    return bytes;
}
} // namespace fuzz
