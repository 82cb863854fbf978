#include "samplebank/Bank.h"

#include <mutex>

std::shared_ptr<const SampleBank> sharedEmbeddedBank()
{
    // The cache holds only a weak reference, so the decoded audio goes with the last instance.
    static std::mutex mutex;
    static std::weak_ptr<const SampleBank> cache;

    const std::lock_guard<std::mutex> lock (mutex);
    if (auto bank = cache.lock())
        return bank;

    // Not make_shared, which would put the bank inside the control block that the cache keeps.
    std::shared_ptr<SampleBank> bank (new SampleBank());
    loadEmbeddedBank (*bank);
    cache = bank;
    return bank;
}
