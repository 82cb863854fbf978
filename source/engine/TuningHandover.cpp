#include "engine/TuningHandover.h"

void TuningHandover::TripleBuffer::write (const tuning::Table& table, std::uint32_t number) noexcept
{
    slots[writing].table = table;
    slots[writing].number = number;
    writing = middle.exchange (writing | fresh, std::memory_order_acq_rel) & ~fresh;
}

const TuningHandover::Numbered* TuningHandover::TripleBuffer::readIfFresh() noexcept
{
    if ((middle.load (std::memory_order_acquire) & fresh) == 0)
        return nullptr;
    reading = middle.exchange (reading, std::memory_order_acq_rel) & ~fresh;
    return &slots[reading];
}

void TuningHandover::handOver (const tuning::Table& table)
{
    const std::lock_guard<std::mutex> lock (othersLock);
    lastHandedOver.table = table;
    ++lastHandedOver.number;
    inward.write (table, lastHandedOver.number);
}

tuning::Table TuningHandover::inForce() const
{
    const std::lock_guard<std::mutex> lock (othersLock);
    if (const auto* published = outward.readIfFresh())
        lastPublished = *published;

    // What the audio thread plays carries the number of the last hand-over it took; until it has taken
    // the latest, that one is what the next block will play.
    return lastPublished.number == lastHandedOver.number ? lastPublished.table : lastHandedOver.table;
}

const tuning::Table* TuningHandover::take() noexcept
{
    const auto* handed = inward.readIfFresh();
    if (handed == nullptr)
        return nullptr;
    takenNumber = handed->number;
    return &handed->table;
}

void TuningHandover::publish (const tuning::Table& table) noexcept
{
    outward.write (table, takenNumber);
}
