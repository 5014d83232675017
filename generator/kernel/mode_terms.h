// The mode filter, for class maps and masks: each texel takes the most common value among
// the map's pixels its footprint covers, weighted by the area each covers (the area filter's
// footprints and weights), ties going to the lowest value; so a class map shrinks without a
// value it does not hold. No-data pixels take no part; a texel with nothing else gets the
// no-data value. Its terms cast votes, one footprint at a time (one lane). Included inside a
// kernel instance's namespace (kernel_instance.inl).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "diamond_kernel.h"
#include "map_terms.h"
#include "samples.h"
#include "texel_store.h"

template <SampleType T>
struct ModeTerms {
    static constexpr bool kWords = false;
    static constexpr bool kLanes = false;  // one footprint at a time
    const MapView& map;
    const TexelRules& rules;

    ModeTerms(const MapView& view, const TexelRules& texelRules) : map(view), rules(texelRules) { grow(); }

    // A pixel's value as a key: its samples' bytes.
    struct Vote {
        std::uint64_t key[2];
        const unsigned char* pixel;  // null: an empty slot
        double weight;
    };
    // The votes of the footprint being summed, in a table of open addressing at most half
    // full, and the slots in use; kept from texel to texel to spare allocations. (Plain
    // memory: a kernel calls no standard template.)
    mutable Vote* table = nullptr;
    mutable std::uint32_t* used = nullptr;
    mutable std::size_t capacity = 0, votes = 0;

    ModeTerms(const ModeTerms&) = delete;
    ModeTerms& operator=(const ModeTerms&) = delete;
    ~ModeTerms()
    {
        std::free(table);
        std::free(used);
    }

    static constexpr int count() { return 0; }

    const unsigned char* pixel(const unsigned char* row, std::uint32_t column) const
    {
        return row + column * map.pixelBytes;
    }

    bool counts(const unsigned char* at) const
    {
        if (!rules.nodata)
            return true;
        const bool nanMarks = rules.nodataValue != rules.nodataValue;  // NaN no-data matches NaN samples
        for (unsigned c = 0; c < colourChannels(map.layout.channels); ++c) {
            const double value = readSample<T>(at, map.layout.channels, c);
            if (nanMarks ? value == value : value != rules.nodataValue)
                return true;
        }
        return false;
    }

    void vote(const unsigned char* at, double weight) const
    {
        if (!counts(at))
            return;
        Vote ballot{{0, 0}, at, weight};
        const std::size_t bytes = texelBytes(map.layout);
        std::memcpy(ballot.key, at, bytes < 16 ? bytes : 16);
        if (2 * (votes + 1) > capacity)
            grow();
        place(ballot, true);
    }

    // Puts a ballot in its slot, or adds its weight to the slot of its value.
    void place(const Vote& ballot, bool merge) const
    {
        const std::size_t mask = capacity - 1;
        for (std::size_t slot = hash(ballot.key) & mask;; slot = (slot + 1) & mask) {
            Vote& entry = table[slot];
            if (entry.pixel == nullptr) {
                entry = ballot;
                used[votes++] = static_cast<std::uint32_t>(slot);
                return;
            }
            if (merge && entry.key[0] == ballot.key[0] && entry.key[1] == ballot.key[1]) {
                entry.weight += ballot.weight;
                return;
            }
        }
    }

    static std::size_t hash(const std::uint64_t (&key)[2])
    {
        const std::uint64_t mixed = (key[0] ^ (key[1] * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull;
        return static_cast<std::size_t>(mixed ^ (mixed >> 31));
    }

    // Twice the room (64 slots at first), the votes so far moved over.
    void grow() const
    {
        Vote* const old = table;
        std::uint32_t* const oldUsed = used;
        const std::size_t oldVotes = votes;
        capacity = capacity == 0 ? 64 : 2 * capacity;
        table = static_cast<Vote*>(std::calloc(capacity, sizeof(Vote)));
        used = static_cast<std::uint32_t*>(std::malloc(capacity * sizeof(std::uint32_t)));
        if (table == nullptr || used == nullptr)
            __builtin_trap();  // a few kilobytes short: nothing sensible is left to do
        votes = 0;
        for (std::size_t k = 0; k < oldVotes; ++k)
            place(old[oldUsed[k]], false);
        std::free(old);
        std::free(oldUsed);
    }

    void add(const unsigned char* row, std::uint32_t column, double weight, double (&)[kMaxTerms]) const
    {
        vote(pixel(row, column), weight);
    }

    void addRun(const unsigned char* row, std::uint32_t column, std::int64_t count, double weight,
                double (&)[kMaxTerms]) const
    {
        for (std::int64_t k = 0; k < count; ++k) {
            vote(pixel(row, column), weight);
            column = column + 1 == map.period ? 0 : column + 1;
        }
    }

    void addStretch(const unsigned char* row, std::uint32_t first, std::uint32_t count, double fractionFirst,
                    double fractionLast, double weight, double (&)[kMaxTerms]) const
    {
        for (std::uint32_t k = 0; k < count; ++k)
            vote(pixel(row, first + k), k == 0 ? weight * (1 - fractionFirst) : weight);
        vote(pixel(row, first + count), count == 0 ? weight * (fractionLast - fractionFirst) : weight * fractionLast);
    }

    // Whether pixel a's value lies below pixel b's, channel by channel.
    bool lower(const unsigned char* a, const unsigned char* b) const
    {
        for (unsigned c = 0; c < map.layout.channels; ++c) {
            const double x = readSample<T>(a, map.layout.channels, c), y = readSample<T>(b, map.layout.channels, c);
            if (x != y)
                return x < y;
        }
        return false;
    }

    // The texel: the winner's samples, and the table emptied for the next footprint.
    void store(const double (&)[kMaxTerms], double, unsigned char* out) const
    {
        const Vote* winner = nullptr;
        for (std::size_t k = 0; k < votes; ++k) {
            const Vote& entry = table[used[k]];
            // A margin for the sums' rounding: votes this close are a tie.
            const double margin = 1e-9 * (winner != nullptr ? winner->weight : 0.0);
            if (winner == nullptr || entry.weight > winner->weight + margin ||
                (entry.weight >= winner->weight - margin && lower(entry.pixel, winner->pixel)))
                winner = &entry;
        }
        double values[4] = {};
        if (winner != nullptr) {
            for (unsigned c = 0; c < map.layout.channels; ++c)
                values[c] = readSample<T>(winner->pixel, map.layout.channels, c);
        } else {
            for (unsigned c = 0; c < colourChannels(map.layout.channels); ++c)
                values[c] = rules.nodata ? rules.nodataValue : 0.0;
        }
        storeTexel(values, map.layout, rules, Rounding::Nearest, out);
        for (std::size_t k = 0; k < votes; ++k)
            table[used[k]].pixel = nullptr;
        votes = 0;
    }
};
