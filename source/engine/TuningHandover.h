#pragma once

#include "engine/Tuning.h"

#include <atomic>
#include <mutex>

// Carries tunings between the audio thread and the others without the audio thread ever waiting.
// Inward, the editor or a state restore hands a new tuning over; the audio thread takes it at the
// start of a block. Outward, the audio thread publishes the tuning it plays once MIDI tuning messages
// change it, so that a save reads what is heard. Each direction is a triple buffer: the writer fills a
// slot of its own and swaps it with the shared middle one, the reader swaps the middle one for its own
// when it holds something new; neither waits for the other. Other threads take a lock among themselves.
class TuningHandover
{
public:
    // Other threads: hand a tuning over to the audio thread.
    void handOver (const tuning::Table&);

    // Other threads: the tuning in force; one handed over and not yet taken counts as in force.
    tuning::Table inForce() const;

    // Audio thread: the tuning handed over since the last call, or nullptr.
    const tuning::Table* take() noexcept;

    // Audio thread: publish the tuning it now plays (after take() or a MIDI tuning message).
    void publish (const tuning::Table&) noexcept;

private:
    struct Numbered
    {
        tuning::Table table = tuning::defaultTable();
        std::uint32_t number = 0;   // of the hand-over it carries; 0 before any
    };

    struct TripleBuffer
    {
        static constexpr unsigned fresh = 4;   // added to the middle index when it holds something new
        Numbered slots[3];
        std::atomic<unsigned> middle { 1 };
        unsigned writing = 0, reading = 2;

        void write (const tuning::Table&, std::uint32_t number) noexcept;
        const Numbered* readIfFresh() noexcept;   // nullptr when nothing new
    };

    TripleBuffer inward;
    mutable TripleBuffer outward;
    std::uint32_t takenNumber = 0;            // audio thread: the last hand-over taken

    mutable std::mutex othersLock;            // never taken by the audio thread
    Numbered lastHandedOver;                  // under othersLock
    mutable Numbered lastPublished;           // under othersLock
};
